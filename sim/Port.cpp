#include "sim/Port.h"

#include "sim/LineRules.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vqtsim {
namespace {

constexpr int kWriteStallMs = 200; // give up an answer nobody reads

std::string SysError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

} // namespace

Port::~Port() {
    CloseAll();
}

bool Port::OpenPty(uint32_t baud) {
    io = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (io < 0) return error = SysError("cannot open a pseudo-terminal"), false;
    char name[128];
    if (grantpt(io) != 0 || unlockpt(io) != 0 || ptsname_r(io, name, sizeof name) != 0)
        return error = SysError("cannot set up the pseudo-terminal"), false;
    fcntl(io, F_SETFL, fcntl(io, F_GETFL) | O_NONBLOCK);
    // Holding the slave open ourselves means the master's close between
    // transactions never hangs the pty up.
    slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) return error = SysError(std::string("cannot open ") + name), false;
    // Raw at once, so nothing the master sends is echoed back to it.
    termios t{};
    if (tcgetattr(slave, &t) != 0) return error = SysError("cannot read the pty settings"), false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    if (const speed_t s = SpeedCode(baud); s != B0) cfsetspeed(&t, s);
    if (tcsetattr(slave, TCSANOW, &t) != 0) return error = SysError("cannot make the pty raw"), false;
    devicePath = name;

    watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch >= 0 && inotify_add_watch(watch, name, IN_OPEN | IN_CLOSE) >= 0) {
        openersKnown = true;
        openers = 0;
    } else if (watch >= 0) {
        close(watch);
        watch = -1;
    }
    return true;
}

bool Port::OpenDevice(const std::string& device, uint32_t baud, int parity) {
    const speed_t speed = SpeedCode(baud);
    if (speed == B0) return error = "unsupported speed " + std::to_string(baud), false;
    io = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (io < 0) return error = SysError("cannot open " + device), false;
    termios t{};
    if (tcgetattr(io, &t) != 0) return error = SysError(device + " is not a serial device"), false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CSTOPB | CRTSCTS);
    if (parity == 1) t.c_cflag |= PARENB | PARODD;
    if (parity == 2) t.c_cflag |= PARENB;
    cfsetspeed(&t, speed);
    if (tcsetattr(io, TCSANOW, &t) != 0) return error = SysError("cannot configure " + device), false;
    tcflush(io, TCIOFLUSH);
    devicePath = device;
    return true;
}

bool Port::CreateLink(const std::string& dir, const std::string& name) {
    namespace fs = std::filesystem;
    if (name.empty() || name.find('/') != std::string::npos)
        return error = "bad link name \"" + name + "\"", false;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return error = "cannot create " + dir + ": " + ec.message(), false;
    const std::string path = (fs::path(dir) / name).string();
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        // Replace a link left behind by an earlier run, never anything else.
        if (!S_ISLNK(st.st_mode)) return error = path + " exists and is not a symbolic link", false;
        if (unlink(path.c_str()) != 0) return error = SysError("cannot remove the old link " + path), false;
    }
    if (symlink(devicePath.c_str(), path.c_str()) != 0)
        return error = SysError("cannot create the link " + path), false;
    linkPath = path;
    return true;
}

void Port::RemoveLink() {
    if (linkPath.empty()) return;
    char target[256];
    const ssize_t n = readlink(linkPath.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == devicePath) unlink(linkPath.c_str());
}

void Port::CloseIo() {
    if (io >= 0) close(io);
    io = -1;
}

void Port::CloseAll() {
    for (int* fd : {&io, &slave, &watch}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    openersKnown = false;
    openers = 0;
}

void Port::TrackOpeners() {
    if (watch < 0) return;
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = read(watch, buf, sizeof buf);
        if (n <= 0) return;
        for (ssize_t at = 0; at < n;) {
            inotify_event ev{};
            std::memcpy(&ev, buf + at, sizeof ev);
            at += static_cast<ssize_t>(sizeof ev + ev.len);
            if (ev.mask & (IN_Q_OVERFLOW | IN_IGNORED)) openersKnown = false;
            if (ev.mask & IN_OPEN) ++openers;
            if (ev.mask & IN_CLOSE) {
                if (--openers <= 0) {
                    openers = 0;
                    if (openersKnown) tcflush(slave, TCIFLUSH);
                }
            }
        }
    }
}

bool Port::WriteAll(const uint8_t* data, size_t n, int wake) {
    while (n > 0) {
        const ssize_t w = write(io, data, n);
        if (w > 0) {
            data += w;
            n -= static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno != EAGAIN) return false;
        pollfd p[2] = {{io, POLLOUT, 0}, {wake, POLLIN, 0}};
        if (poll(p, 2, kWriteStallMs) <= 0 || p[1].revents || !(p[0].revents & POLLOUT)) return false;
    }
    return true;
}

bool Port::MasterSettings(termios& t) const {
    return slave >= 0 && tcgetattr(slave, &t) == 0;
}

} // namespace vqtsim

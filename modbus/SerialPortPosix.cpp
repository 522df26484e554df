// SerialPort on a POSIX terminal device through termios.
#include "modbus/SerialPortPosix.h"
#include "modbus/SerialPort.h"
#include "platform/Wake.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/major.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace modbus {

const char* const kPortNames = "COM1 ... COM12 or a device path beginning with / or ./";
const char* const kPortNamesHelp = "COM1 ... COM12 (a link of that name in the working directory, else "
                                   "/dev/ttyS0 ... /dev/ttyS11) or a device path beginning with / or ./";

std::string ResolvePortName(const std::string& name) {
    const int number = ComPortNumber(name);
    if (number == 0) return {};
    std::error_code error;
    const auto status = std::filesystem::symlink_status(name, error);
    // A dangling link is still taken: a stopped simulator must look like a dead
    // port, not silently fall through to a real one.
    if (!error && std::filesystem::exists(status)) return "./" + name;
    return "/dev/ttyS" + std::to_string(number - 1);
}

namespace {
int Descriptor(std::intptr_t native) {
    return static_cast<int>(native);
}

// USB-serial chips hold a short reply for up to 16 ms before passing it on
// unless the port asks for low latency. Drivers without serial info (a
// pseudo-terminal among them) refuse the ioctls; nothing to do there. The old
// flag is not restored on close: the next exchange would set it again at once.
void AskForLowLatency(int fd) {
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0 || (info.flags & static_cast<int>(ASYNC_LOW_LATENCY)) != 0)
        return;
    info.flags |= static_cast<int>(ASYNC_LOW_LATENCY);
    ::ioctl(fd, TIOCSSERIAL, &info);
}

// A pseudo-terminal's slave lives as long as its master: a TIOCEXCL that a
// killed program could not clear stays on it until the simulator (or socat)
// that provides it closes, and turns away every later open by a non-root
// user (16 kills of 16 while holding the port). The flock, which goes with
// the process, is the exclusion there. A real port's flag goes with its last
// descriptor, so there it can only keep out whoever still holds the port.
bool IsPseudoTerminalSlave(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) return false;
    const unsigned number = ::major(status.st_rdev);
    return number >= UNIX98_PTY_SLAVE_MAJOR && number < UNIX98_PTY_SLAVE_MAJOR + UNIX98_PTY_MAJOR_COUNT;
}

// Opens a port for this program's use: read/write, non-blocking, not as the
// controlling terminal, under our flock (which also works against programs
// of the same user and root, where TIOCEXCL does not). -1 and the reason in
// probe.state (and probe.reason) when it cannot be used.
int openForUse(PortProbe& probe) {
    const int fd = ::open(probe.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        switch (e) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
        case ENOTDIR:
            probe.state = PortProbe::State::Absent;
            break;
        case EACCES:
        case EPERM:
            probe.state = PortProbe::State::NoPermission;
            break;
        case EBUSY:
            probe.state = PortProbe::State::Busy;
            break;
        default:
            probe.state = PortProbe::State::OtherError;
            probe.reason = std::strerror(e);
        }
        return -1;
    }
    // Root gets past another program's TIOCEXCL; we must then neither use the
    // port nor clear that flag on close. Under our flock a set flag cannot be
    // our own. A kernel without TIOCGEXCL leaves us as before.
    int heldElsewhere = 0;
    if (!::isatty(fd))
        probe.state = PortProbe::State::NotATerminal;
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
             (::ioctl(fd, TIOCGEXCL, &heldElsewhere) == 0 && heldElsewhere != 0))
        probe.state = PortProbe::State::Busy;
    else
        probe.state = PortProbe::State::Usable;
    if (probe.state == PortProbe::State::Usable) return fd;
    ::close(fd);
    return -1;
}
} // namespace

std::string ResolveDevice(const std::string& nameOrPath) {
    if (nameOrPath.starts_with("/") || nameOrPath.starts_with("./")) return nameOrPath;
    return ResolvePortName(nameOrPath);
}

PortProbe ProbePort(const std::string& nameOrPath) {
    PortProbe probe;
    probe.name = nameOrPath;
    probe.path = ResolveDevice(nameOrPath);
    if (probe.path.empty()) return probe; // BadName
    std::error_code error;
    const auto canonical = std::filesystem::canonical(probe.path, error);
    probe.device = error ? probe.path : canonical.string();
    const int fd = openForUse(probe);
    if (fd >= 0) ::close(fd); // also lets go of the lock
    return probe;
}

SerialPort::~SerialPort() {
    Close();
}

bool SerialPort::Open(const std::string& portName) {
    Close();
    PortProbe probe;
    probe.path = ResolveDevice(portName);
    if (probe.path.empty()) return false;
    const int fd = openForUse(probe);
    if (fd < 0) return false;
    Exclusive = !IsPseudoTerminalSlave(fd) && ::ioctl(fd, TIOCEXCL) == 0;
    // Here rather than in Configure: it is the driver's setting, not the
    // line's, and Configure's failure must leave the port as it was.
    AskForLowLatency(fd);
    Native = fd;
    return true;
}

namespace {
speed_t SpeedCode(uint32_t baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B0;
    }
}

tcflag_t SizeFlag(uint8_t dataBits) {
    switch (dataBits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}
} // namespace

bool MakeLineSettings(termios& t, uint32_t baudRate, uint8_t dataBits, uint8_t parity, uint8_t stopBits) {
    const speed_t speed = SpeedCode(baudRate);
    if (speed == B0) return false;
    ::cfmakeraw(&t);
    t.c_iflag &= static_cast<tcflag_t>(~(INPCK | IXON | IXOFF | IXANY | IGNPAR | PARMRK));
    // CMSPAR too: left by an earlier program it turns even parity into space.
    t.c_cflag &= static_cast<tcflag_t>(~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS));
    t.c_cflag |= SizeFlag(dataBits) | CLOCAL | CREAD;
    if (parity == kOddParity) t.c_cflag |= PARENB | PARODD;
    if (parity == kEvenParity) t.c_cflag |= PARENB;
    if (stopBits == kTwoStopBits) t.c_cflag |= CSTOPB;
    // Readiness at the first byte; the wait decides itself when a reply is whole.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    return true;
}

bool SerialPort::Configure(uint32_t baudRate, uint8_t dataBits, uint8_t parity, uint8_t stopBits) {
    const int fd = Descriptor(Native);
    if (fd < 0) return false;
    termios t{};
    if (::tcgetattr(fd, &t) != 0 || !MakeLineSettings(t, baudRate, dataBits, parity, stopBits)) return false;
    if (::tcsetattr(fd, TCSANOW, &t) != 0) return false;
    // Bytes left from an earlier exchange (a reply that came after its
    // worker gave up) must not be taken for this one's reply.
    ::tcflush(fd, TCIFLUSH);
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIC, &lines); // a pseudo-terminal has no modem lines; that is fine
    return true;
}

void SerialPort::SetTimeouts(uint32_t, uint32_t) {}

size_t SerialPort::Write(const uint8_t* data, size_t n) {
    const int fd = Descriptor(Native);
    if (fd < 0) return 0;
    const ssize_t written = ::write(fd, data, n);
    if (written < 0 && errno != EAGAIN && errno != EINTR) Failed = true;
    return written > 0 ? static_cast<size_t>(written) : 0;
}

size_t SerialPort::InputCount() const {
    const int fd = Descriptor(Native);
    if (fd < 0) return 0;
    int count = 0;
    if (::ioctl(fd, FIONREAD, &count) != 0 || count < 0) return 0;
    return static_cast<size_t>(count);
}

size_t SerialPort::Read(uint8_t* data, size_t n) {
    const int fd = Descriptor(Native);
    if (fd < 0 || n == 0) return 0;
    ssize_t got;
    do {
        got = ::read(fd, data, n);
    } while (got < 0 && errno == EINTR);
    // Raw with VMIN 0 a read of nothing gives 0, and so does a hung-up
    // line: told apart by the hang-up the last wait saw. Failing otherwise
    // than for want of bytes (EIO) means the device is gone too.
    if ((got == 0 && HangUpSeen) || (got < 0 && errno != EAGAIN)) Failed = true;
    return got > 0 ? static_cast<size_t>(got) : 0;
}

SerialPort::WaitResult SerialPort::WaitForInput(platform::Wake& wake, int timeoutMs) {
    WaitResult result;
    pollfd fds[2] = {{static_cast<int>(wake.Handle()), POLLIN, 0}, {Descriptor(Native), POLLIN, 0}};
    const nfds_t watched = Native != kClosed ? 2 : 1;
    int rc;
    do {
        rc = ::poll(fds, watched, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    if (rc <= 0) return result; // the time has passed (or poll failed: nothing to wait for)
    if (fds[0].revents != 0) result.woken = wake.Take();
    result.readable = watched == 2 && (fds[1].revents & POLLIN) != 0;
    // A hung-up line stays "ready" for ever.
    HangUpSeen = watched == 2 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    result.hungUp = HangUpSeen && !result.readable;
    if (result.hungUp) Failed = true;
    return result;
}

void SerialPort::Close() {
    const int fd = Descriptor(Native);
    if (fd < 0) return;
    // TIOCEXCL outlives this descriptor while anyone else holds the tty.
    if (Exclusive) ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    Native = kClosed;
    Exclusive = false;
    Failed = false;
    HangUpSeen = false;
}

} // namespace modbus

#include "platform/FileIo.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

Outcome failed(std::string_view action, std::string_view path, int error) {
    return Outcome::Fail(FileErrorText(action, path, std::strerror(error)));
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

} // namespace

bool FileExists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

Reading<std::string> ReadWholeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Reading<std::string>::Fail(failed("Odczyt", path, errno).error);
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            return Reading<std::string>::Fail(failed("Odczyt", path, error).error);
        }
        if (got == 0) break;
        content.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return {std::move(content), {}};
}

Outcome CreateWithContent(const std::string& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return failed("Utworzenie", path, errno);
    errno = 0;
    const bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    const int error = errno != 0 ? errno : EIO;
    ::close(fd);
    return ok ? Ok() : failed("Zapis", path, error);
}

Outcome ReplaceWholeFile(const std::string& path, std::string_view head, std::string_view tail) {
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return failed("Zapis", path, errno);
    // The new file gets the old one's permissions, or those of a new file.
    struct stat old {};
    mode_t mode = 0;
    if (::stat(path.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    int error = 0;
    errno = 0;
    if (!writeAll(fd, head) || !writeAll(fd, tail) || ::fchmod(fd, mode) != 0 || ::fsync(fd) != 0)
        error = errno != 0 ? errno : EIO;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return failed("Zapis", path, error);
    }
    return Ok();
}

Outcome CheckAppendable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return failed("Otwarcie do dopisania", path, errno);
    ::close(fd);
    return Ok();
}

void RemoveFile(const std::string& path) {
    ::unlink(path.c_str());
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

} // namespace platform

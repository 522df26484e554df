#include "platform/FileIo.h"

#include <cerrno>
#include <climits>
#include <cstdio>
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

OrReason<std::string> ReadWholeFile(const std::string& path, size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return OrReason<std::string>::Fail(failed("Odczyt", path, errno).error);
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            return OrReason<std::string>::Fail(failed("Odczyt", path, error).error);
        }
        if (got == 0) break;
        content.append(buffer, static_cast<size_t>(got));
        if (content.size() > limit) {
            ::close(fd);
            return OrReason<std::string>::Fail(TooLongText(path, limit));
        }
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

namespace {

// The file that a link, or a chain of them, ends at; the path itself when it
// is no link. A link to nowhere ends at the name it gives: writing there
// creates that file, as the shell's ">" would, and the link stays a link.
// 0, or why there is no end (a loop of links).
int FinalTarget(const std::string& path, std::string& target) {
    target = path;
    for (int hops = 0; hops < 40; ++hops) {
        char next[PATH_MAX];
        const ssize_t n = ::readlink(target.c_str(), next, sizeof next);
        if (n < 0) return 0; // no link, or nothing there: this is the file
        if (static_cast<size_t>(n) == sizeof next) return ENAMETOOLONG;
        const std::string_view named(next, static_cast<size_t>(n));
        const size_t slash = target.rfind('/');
        // A relative name is taken from the link's own folder.
        target = named.starts_with('/') || slash == std::string::npos
                     ? std::string(named)
                     : target.substr(0, slash + 1) + std::string(named);
    }
    return ELOOP;
}

// Root keeps another user's file theirs; anyone else keeps at least the group
// when they belong to it. Never a reason to fail the write: the file is then
// the writer's, as a file they create would be.
void KeepOwner(int fd, const struct stat& old) {
    if (::fchown(fd, old.st_uid, old.st_gid) == 0) return;
    [[maybe_unused]] const int groupOnly = ::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
}

// Writes the bytes into a new file beside `target` (its name and six
// characters), with `old`'s owner, group and permissions, or a new file's
// permissions when there is no old one, and flushes them to the disk. 0 and
// the new file's name in `temp`, or the reason and nothing left behind.
int WriteBeside(const std::string& target, std::string_view head, std::string_view tail,
                const struct stat* old, std::string& temp) {
    temp = target + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return errno;
    mode_t mode = 0;
    if (old) {
        KeepOwner(fd, *old);
        mode = old->st_mode & 07777; // after the owner: a change of owner drops set-id bits
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
    if (error != 0) ::unlink(temp.c_str());
    return error;
}

// Gives the finished file its name only while the name is free: in one step
// where the file system can, else as a second name, the first then dropped.
// The temporary name is gone either way.
int PutInPlaceIfFree(const std::string& temp, const std::string& path) {
    int error =
        ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
    if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP)
        error = ::link(temp.c_str(), path.c_str()) == 0 ? 0 : errno;
    ::unlink(temp.c_str());
    return error;
}

Outcome AlreadyThere(const std::string& path) {
    return Outcome::Fail(FileErrorText("Utworzenie", path, "plik już istnieje"));
}

} // namespace

Outcome ReplaceWholeFile(const std::string& path, std::string_view head, std::string_view tail) {
    // Through a link the file it names is replaced: the link stays, and
    // whoever shares that file sees the new contents.
    std::string target;
    if (const int error = FinalTarget(path, target); error != 0) return failed("Zapis", path, error);
    struct stat old {};
    const bool replacing = ::stat(target.c_str(), &old) == 0;
    std::string temp;
    int error = WriteBeside(target, head, tail, replacing ? &old : nullptr, temp);
    if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) {
        error = errno;
        ::unlink(temp.c_str());
    }
    return error == 0 ? Ok() : failed("Zapis", path, error);
}

Outcome CreateNewWholeFile(const std::string& path, std::string_view head, std::string_view tail) {
    std::string temp;
    int error = WriteBeside(path, head, tail, nullptr, temp);
    if (error == 0) error = PutInPlaceIfFree(temp, path);
    if (error == EEXIST) return AlreadyThere(path);
    return error == 0 ? Ok() : failed("Utworzenie", path, error);
}

Outcome CheckCreatable(const std::string& path) {
    std::string temp;
    const int error = WriteBeside(path, {}, {}, nullptr, temp);
    if (error != 0) return failed("Utworzenie", path, error);
    ::unlink(temp.c_str());
    return Ok();
}

OrReason<uint64_t> FileSize(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return OrReason<uint64_t>::Fail(failed("Odczyt", path, errno).error);
    return {static_cast<uint64_t>(status.st_size), {}};
}

Outcome TruncateFile(const std::string& path, uint64_t size) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return failed("Skrócenie", path, errno);
    if (static_cast<uint64_t>(status.st_size) <= size) return Ok();
    if (::truncate(path.c_str(), static_cast<off_t>(size)) != 0) return failed("Skrócenie", path, errno);
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

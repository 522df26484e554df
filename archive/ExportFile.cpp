#include "ExportFile.h"

#include <Cp1250.h>
#include <NumberFormat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace archive {

namespace {

std::string fileError(const char* action, const std::string& path, int error) {
    std::string text = action;
    text += " pliku ";
    text += path;
    text += " nie powiódł się (";
    text += std::strerror(error);
    text += ").";
    return text;
}

std::string_view field(std::string_view line, size_t index) {
    for (size_t i = 0; i < index; ++i) {
        const size_t semicolon = line.find(';');
        if (semicolon == std::string_view::npos) return {};
        line.remove_prefix(semicolon + 1);
    }
    return line.substr(0, line.find(';'));
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

std::string ExportHeader() {
    return model::Utf8ToCp1250(
        "Nr logu;Data;Czas;Przepływ chwilowy [m3/h];Licznik w przód L+;Licznik w tył L-;Zdarzenia");
}

std::optional<LastExportLine> ReadLastExportLine(std::string_view content) {
    // A final line end starts no further line.
    if (content.ends_with("\r\n"))
        content.remove_suffix(2);
    else if (content.ends_with('\n') || content.ends_with('\r'))
        content.remove_suffix(1);
    const size_t end = content.find_last_of("\r\n");
    const std::string_view last = end == std::string_view::npos ? content : content.substr(end + 1);

    const size_t semicolon = last.find(';');
    if (semicolon == std::string_view::npos) return std::nullopt;
    int32_t number = 0;
    if (model::ParseWholeNumber(last.substr(0, semicolon), number) != model::WholeNumber::Ok ||
        number == std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return LastExportLine{number, std::string(field(last, 1)), std::string(field(last, 2))};
}

void RotateArchiveLines(std::vector<std::string>& lines) {
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i] > lines[i + 1]) {
            std::rotate(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(i + 1), lines.end());
            return;
        }
    }
}

void PutInTimeOrder(std::vector<std::string>& lines) {
    RotateArchiveLines(lines);
    RotateArchiveLines(lines);
}

std::string NumberedLines(const std::vector<std::string>& lines, int32_t firstNumber) {
    std::string out;
    int64_t number = firstNumber;
    for (const std::string& line : lines) {
        out += std::to_string(number++);
        out += ';';
        out += line;
        out += "\r\n";
    }
    return out;
}

std::string CreateExportFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return fileError("Utworzenie", path, errno);
    errno = 0;
    const bool ok = writeAll(fd, ExportHeader() + "\r\n") && ::fsync(fd) == 0;
    const int error = errno != 0 ? errno : EIO;
    ::close(fd);
    return ok ? std::string() : fileError("Zapis", path, error);
}

std::string ReadExportFile(const std::string& path, std::string& content) {
    content.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fileError("Odczyt", path, errno);
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            return fileError("Odczyt", path, error);
        }
        if (got == 0) break;
        content.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return {};
}

std::string CheckAppendable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return fileError("Otwarcie do dopisania", path, errno);
    ::close(fd);
    return {};
}

std::string ReplaceFile(const std::string& path, std::string_view head, std::string_view tail) {
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return fileError("Zapis", path, errno);
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
        return fileError("Zapis", path, error);
    }
    return {};
}

} // namespace archive

#include "platform/FileIo.h"

#include "platform/Win32Text.h"

#include <algorithm>
#include <atomic>
#include <windows.h>

namespace platform {

namespace {

Outcome failed(std::string_view action, std::string_view path) {
    return Outcome::Fail(FileErrorText(action, path, SystemErrorText(::GetLastError())));
}

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

// Writes, flushes to the disk and closes; false when any step failed, with
// the reason in GetLastError.
bool WriteAndClose(HANDLE file, std::string_view head, std::string_view tail) {
    bool ok = WriteAll(file, head) && WriteAll(file, tail) && ::FlushFileBuffers(file);
    const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    if (!::CloseHandle(file)) return false;
    ::SetLastError(error);
    return ok;
}

} // namespace

bool FileExists(const std::string& path) {
    return ::GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

OrReason<std::string> ReadWholeFile(const std::string& path, size_t limit) {
    const HANDLE file =
        ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return OrReason<std::string>::Fail(failed("Odczyt", path).error);
    std::string content;
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            const Outcome error = failed("Odczyt", path);
            ::CloseHandle(file);
            return OrReason<std::string>::Fail(error.error);
        }
        if (got == 0) break;
        content.append(buffer, got);
        if (content.size() > limit) {
            ::CloseHandle(file);
            return OrReason<std::string>::Fail(TooLongText(path, limit));
        }
    }
    ::CloseHandle(file);
    return {std::move(content), {}};
}

Outcome CreateWithContent(const std::string& path, std::string_view bytes) {
    const HANDLE file = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return failed("Utworzenie", path);
    return WriteAndClose(file, bytes, {}) ? Ok() : failed("Zapis", path);
}

namespace {

// A new name beside the file, its own for this process and call.
std::wstring TempName(const std::wstring& target) {
    static std::atomic<unsigned> serial{0};
    return target + L"." + std::to_wstring(::GetCurrentProcessId()) + L"." +
           std::to_wstring(serial.fetch_add(1)) + L".tmp";
}

// The file a symbolic link leads to (opening follows the whole chain), so
// that the link stays and the file it names gets the new contents. Anything
// else, a link to nowhere among them, is taken as it is.
std::wstring FinalTarget(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return path;
    const HANDLE file = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return path;
    std::wstring target(32768, L'\0');
    const DWORD n = ::GetFinalPathNameByHandleW(file, target.data(), static_cast<DWORD>(target.size()),
                                                FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    ::CloseHandle(file);
    if (n == 0 || n >= target.size()) return path;
    target.resize(n);
    return target;
}

} // namespace

Outcome ReplaceWholeFile(const std::string& path, std::string_view head, std::string_view tail) {
    const std::wstring target = FinalTarget(Utf8ToWide(path));
    const std::wstring temp = TempName(target);
    const HANDLE file =
        ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return failed("Zapis", path);
    // One step on the same volume: readers see the old file or the new one, never a part.
    if (WriteAndClose(file, head, tail) &&
        ::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return Ok();
    const Outcome error = failed("Zapis", path);
    ::DeleteFileW(temp.c_str());
    return error;
}

Outcome CheckCreatable(const std::string& path) {
    const std::wstring temp = TempName(Utf8ToWide(path));
    const HANDLE file = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return failed("Utworzenie", path);
    ::CloseHandle(file);
    return Ok();
}

Outcome CreateNewWholeFile(const std::string& path, std::string_view head, std::string_view tail) {
    const std::wstring target = Utf8ToWide(path);
    const std::wstring temp = TempName(target);
    const HANDLE file =
        ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return failed("Utworzenie", path);
    // Without MOVEFILE_REPLACE_EXISTING the move refuses a name already taken.
    if (WriteAndClose(file, head, tail) &&
        ::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH))
        return Ok();
    const DWORD error = ::GetLastError();
    ::DeleteFileW(temp.c_str());
    const bool taken = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    return Outcome::Fail(
        FileErrorText("Utworzenie", path, taken ? "plik już istnieje" : SystemErrorText(error)));
}

OrReason<uint64_t> FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(Utf8ToWide(path).c_str(), GetFileExInfoStandard, &data))
        return OrReason<uint64_t>::Fail(failed("Odczyt", path).error);
    return {(static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow, {}};
}

Outcome TruncateFile(const std::string& path, uint64_t size) {
    const HANDLE file =
        ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return failed("Skrócenie", path);
    LARGE_INTEGER now{}, end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    const bool ok = ::GetFileSizeEx(file, &now) &&
                    (static_cast<uint64_t>(now.QuadPart) <= size ||
                     (::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file)));
    const Outcome outcome = ok ? Ok() : failed("Skrócenie", path);
    ::CloseHandle(file);
    return outcome;
}

Outcome CheckAppendable(const std::string& path) {
    const HANDLE file =
        ::CreateFileW(Utf8ToWide(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return failed("Otwarcie do dopisania", path);
    ::CloseHandle(file);
    return Ok();
}

void RemoveFile(const std::string& path) {
    ::DeleteFileW(Utf8ToWide(path).c_str());
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return ::_wfopen(Utf8ToWide(path).c_str(), Utf8ToWide(mode).c_str());
}

} // namespace platform

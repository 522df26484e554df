// The few file operations of the export file, the settings file and the
// tool's CSV table. Paths are UTF-8; contents are bytes, written as they are
// (a CR LF stays one CR LF on every system). Each failure is a Polish
// sentence naming the file and the system's reason. The build picks
// FileIoPosix.cpp or FileIoWin32.cpp (wide-character calls, so that paths
// with Polish letters work there too).
#pragma once

#include "platform/OrReason.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

// "Zapis pliku PATH nie powiódł się (REASON).", "Utworzenie pliku PATH nie
// powiodło się (REASON)." and the like.
std::string FileErrorText(std::string_view action, std::string_view path, std::string_view reason);

// Also true for a link that leads nowhere.
bool FileExists(const std::string& path);
// At most `limit` bytes: a longer file (or a device that never ends, such as
// /dev/zero) is refused with the reason, after reading no more than that.
OrReason<std::string> ReadWholeFile(const std::string& path, size_t limit = SIZE_MAX);
// The reason ReadWholeFile gives for a file past its limit.
std::string TooLongText(const std::string& path, size_t limit);
// Creates the file or empties it, writes the bytes and flushes them to disk.
Outcome CreateWithContent(const std::string& path, std::string_view bytes);
// Writes `head` and then `tail` as the file's new contents: into a new file
// beside it that then replaces it, so that a failure (disk full, no
// permission, the folder gone) leaves the old file exactly as it was. The
// new file keeps the old one's permissions, and its owner and group where
// the writer may give them (root always; anyone the group they belong to).
// Through a symbolic link (or a chain) the file it names is replaced and the
// link stays; a link to nowhere gets the file it names created. Windows
// follows no links: there a link is replaced by the file.
Outcome ReplaceWholeFile(const std::string& path, std::string_view head, std::string_view tail = {});
// Writes `head` and then `tail` as a new file that appears only whole and
// only where no file (nor link) of that name is: written and flushed beside
// it first. A failure leaves nothing behind; a name already taken gives
// "Utworzenie pliku PATH nie powiodło się (plik już istnieje)."
Outcome CreateNewWholeFile(const std::string& path, std::string_view head, std::string_view tail = {});
// A file could be created there now (its folder exists and may be written):
// an empty file is made beside it and removed again; the name itself is not
// touched. The reason as CreateNewWholeFile would give it.
Outcome CheckCreatable(const std::string& path);
// The file's length in bytes.
OrReason<uint64_t> FileSize(const std::string& path);
// Cuts the file back to its first `size` bytes (a table to the end of its
// last whole line after a short write); a file no longer than that is left
// alone. Close a stdio stream on the file first: its buffer may still hold
// part of the line.
Outcome TruncateFile(const std::string& path, uint64_t size);
// The file can be opened for appending; nothing changes.
Outcome CheckAppendable(const std::string& path);
// Removes the file; a file that is not there is no error.
void RemoveFile(const std::string& path);
// fopen for a UTF-8 path (mode as fopen's, "ab" for example); errno says why not.
std::FILE* OpenFile(const std::string& path, const char* mode);

} // namespace platform

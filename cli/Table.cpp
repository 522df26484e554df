#include "cli/Table.h"

#include "model/Cp1250.h"
#include "platform/FileIo.h"

#include <cerrno>
#include <cstring>

namespace cli {

std::string Table::Open(const std::string& csvPath, const std::string& header) {
    if (csvPath.empty()) {
        Out = stdout;
    } else {
        // Appended to, so that a watch started again goes on with the same table.
        Out = platform::OpenFile(csvPath, "ab");
        if (!Out) return "Plik " + csvPath + ": " + std::strerror(errno);
        Csv = true;
        Path = csvPath;
    }
    if (!Csv) return header.empty() ? std::string() : Write(header);
    // Its length, not ftell: a stream opened for appending may say 0 there.
    const platform::OrReason<uint64_t> size = platform::FileSize(csvPath);
    if (!size) return size.error;
    Size = *size;
    return Size == 0 && !header.empty() ? Write(header) : std::string();
}

std::string Table::WriteRow(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) line += (i == 0 ? "" : ";") + fields[i];
    return Write(line);
}

std::string Table::Write(const std::string& utf8) {
    const std::string line = Csv ? model::Utf8ToCp1250(utf8) + "\r\n" : utf8 + "\n";
    if (std::fwrite(line.data(), 1, line.size(), Out) == line.size() && std::fflush(Out) == 0) {
        Size += line.size();
        return {};
    }
    const std::string why = std::strerror(errno);
    if (!Csv) return "stdout: " + why;
    // A short write (a full disk) leaves half a line, onto which the next
    // run would glue its first: the table goes back to its last whole line.
    std::fclose(Out);
    Out = nullptr;
    const platform::Outcome cut = platform::TruncateFile(Path, Size);
    return "Plik " + Path + ": " + why +
           (cut ? "; cut back to its last complete line"
                : "; " + cut.error + " (the last line is incomplete)");
}

void Table::Close() {
    if (Csv && Out) std::fclose(Out);
    Out = nullptr;
}

} // namespace cli

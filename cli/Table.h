// The tool's table: stdout as UTF-8 lines, or a CSV file as the export
// file is written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace cli {

// stdout as UTF-8 lines, or a CSV file as the export file is written:
// Windows-1250, CR LF. Every line is flushed, so that a stop loses nothing.
class Table {
public:
    ~Table() { Close(); }

    // header: the first line of a new table (none when empty).
    std::string Open(const std::string& csvPath, const std::string& header);
    // The line, flushed; an error's text when it could not be written whole.
    std::string Write(const std::string& utf8);
    // The fields as one line, separated by semicolons.
    std::string WriteRow(const std::vector<std::string>& fields);
    void Close();

private:
    std::FILE* Out = nullptr;
    bool Csv = false;
    std::string Path;
    uint64_t Size = 0; // of the file up to its last whole line
};

} // namespace cli

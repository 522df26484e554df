#include "core/ExportFile.h"

#include "model/Cp1250.h"
#include "model/NumberFormat.h"

#include "platform/FileIo.h"

#include <algorithm>
#include <limits>

namespace core {

namespace {

std::string_view field(std::string_view line, size_t index) {
    for (size_t i = 0; i < index; ++i) {
        const size_t semicolon = line.find(';');
        if (semicolon == std::string_view::npos) return {};
        line.remove_prefix(semicolon + 1);
    }
    return line.substr(0, line.find(';'));
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
    const platform::Reading<int32_t> number = model::ReadWholeNumber(last.substr(0, semicolon));
    if (!number || *number == std::numeric_limits<int32_t>::max()) return std::nullopt;
    return LastExportLine{*number, std::string(field(last, 1)), std::string(field(last, 2))};
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

platform::Outcome CreateExportFile(const std::string& path) {
    return platform::CreateWithContent(path, ExportHeader() + "\r\n");
}

} // namespace core

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
    const platform::OrReason<int32_t> number = model::ReadWholeNumber(last.substr(0, semicolon));
    if (!number || *number == std::numeric_limits<int32_t>::max()) return std::nullopt;
    return LastExportLine{*number, std::string(field(last, 1)), std::string(field(last, 2))};
}

namespace {
std::optional<int> TwoDigits(std::string_view text) {
    if (text.size() != 2 || text[0] < '0' || text[0] > '9' || text[1] < '0' || text[1] > '9')
        return std::nullopt;
    return (text[0] - '0') * 10 + (text[1] - '0');
}
} // namespace

bool IsPossibleMoment(std::string_view date, std::string_view time) {
    if (date.size() != 10 || date[4] != '-' || date[7] != '-' || time.size() != 8 || time[2] != ':' ||
        time[5] != ':')
        return false;
    const platform::OrReason<int32_t> year = model::ReadWholeNumber(date.substr(0, 4));
    const auto month = TwoDigits(date.substr(5, 2)), day = TwoDigits(date.substr(8, 2));
    const auto hour = TwoDigits(time.substr(0, 2)), minute = TwoDigits(time.substr(3, 2)),
               second = TwoDigits(time.substr(6, 2));
    if (!year || *year < 1999 || *year > 2099 || !month || !day || !hour || !minute || !second) return false;
    constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = *year % 4 == 0 && (*year % 100 != 0 || *year % 400 == 0);
    if (*month < 1 || *month > 12 || *day < 1 || *day > kDays[*month - 1]) return false;
    if (*month == 2 && *day == 29 && !leap) return false;
    return *hour < 24 && *minute < 60 && *second < 60;
}

std::optional<LastExportLine> ReadUpdateAnchor(std::string_view content) {
    std::optional<LastExportLine> anchor = ReadLastExportLine(content);
    if (!anchor || IsPossibleMoment(anchor->Date, anchor->Time)) return anchor;
    anchor->Date.clear();
    anchor->Time.clear();
    // Back from the end to the newest line that names a possible moment.
    size_t end = content.size();
    while (end > 0) {
        const size_t start = content.find_last_of("\r\n", end - 1);
        const size_t from = start == std::string_view::npos ? 0 : start + 1;
        const std::string_view line = content.substr(from, end - from);
        if (IsPossibleMoment(field(line, 1), field(line, 2))) {
            anchor->Date = std::string(field(line, 1));
            anchor->Time = std::string(field(line, 2));
            break;
        }
        if (start == std::string_view::npos) break;
        end = start;
    }
    return anchor;
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

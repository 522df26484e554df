#include "core/RecordLine.h"

#include "model/NumberFormat.h"

#include <algorithm>
#include <bit>

namespace core {

namespace {
constexpr int kPrecision = 7;
constexpr size_t kFlagsByte = 21;

// Event texts of bits 2..7.
constexpr std::string_view kEventTexts[] = {
    "Błąd falownika", "Ustawianie parametrów", "Zanik napięcia zasilania",
    "Pusta rura",     "Pomiar poza zakresem",  "Przepływ w tył",
};

bool Fits(size_t offset, size_t length) {
    return offset <= kRecordSize && length <= kRecordSize - offset;
}

uint32_t BigEndian32(const ArchiveRecord& r, size_t offset) {
    return (uint32_t{r[offset]} << 24) | (uint32_t{r[offset + 1]} << 16) | (uint32_t{r[offset + 2]} << 8) |
           uint32_t{r[offset + 3]};
}
} // namespace

ArchiveRecord RecordFromReply(const uint8_t* reply) {
    ArchiveRecord record{};
    std::copy_n(reply + kRecordReplyOffset, kRecordSize, record.begin());
    return record;
}

std::string FormatRecordYear(const ArchiveRecord& record, size_t offset) {
    if (!Fits(offset, 2)) return {};
    return std::to_string((unsigned{record[offset]} << 8) | record[offset + 1]);
}

std::string FormatTwoDigits(const ArchiveRecord& record, size_t offset) {
    if (!Fits(offset, 1)) return {};
    std::string text = std::to_string(record[offset]);
    if (text.size() == 1) text.insert(text.begin(), '0');
    return text;
}

std::string FormatRecordFlow(const ArchiveRecord& record, size_t offset, std::string_view sep) {
    if (!Fits(offset, 4)) return {};
    const float flow = std::bit_cast<float>(BigEndian32(record, offset));
    return model::FormatNumber(flow, 3, kPrecision, sep);
}

std::string FormatRecordTotaliser(const ArchiveRecord& record, size_t offset, std::string_view sep) {
    if (!Fits(offset, 4)) return {};
    // The count goes through single precision first, as the meter's own
    // display does, so counts beyond 2^24 lose their lowest bits.
    const auto count = static_cast<int32_t>(BigEndian32(record, offset));
    const auto single = static_cast<float>(count);
    return model::FormatRatio(static_cast<int64_t>(single), 10, 1, kPrecision, sep);
}

std::string_view TotaliserUnitText(const ArchiveRecord& record) {
    return TestBit(record[kFlagsByte], 0) ? " [l]" : " [m3]";
}

std::string EventsText(const ArchiveRecord& record) {
    std::string text;
    for (unsigned bit = 2; bit <= 7; ++bit) {
        if (!TestBit(record[kFlagsByte], bit)) continue;
        if (!text.empty()) text += " + ";
        text += kEventTexts[bit - 2];
    }
    return text;
}

bool TestBit(uint8_t value, unsigned bit) {
    return bit < 8 && ((value >> bit) & 1u) != 0;
}

std::string BuildRecordLine(const ArchiveRecord& record, std::string_view sep) {
    const std::string_view unit = TotaliserUnitText(record);
    std::string line;
    line.reserve(96);
    line += FormatRecordYear(record, 2);
    line += '-';
    line += FormatTwoDigits(record, 4);
    line += '-';
    line += FormatTwoDigits(record, 5);
    line += ';';
    line += FormatTwoDigits(record, 6);
    line += ':';
    line += FormatTwoDigits(record, 7);
    line += ':';
    line += FormatTwoDigits(record, 8);
    line += ';';
    line += FormatRecordFlow(record, 9, sep);
    line += ';';
    line += FormatRecordTotaliser(record, 13, sep);
    line += unit;
    line += ';';
    line += FormatRecordTotaliser(record, 17, sep);
    line += unit;
    line += ';';
    line += EventsText(record);
    return line;
}

std::string_view RecordDateField(std::string_view line) {
    const size_t first = line.find(';');
    return first == std::string_view::npos ? std::string_view{} : line.substr(0, first);
}

std::string_view RecordTimeField(std::string_view line) {
    const size_t first = line.find(';');
    if (first == std::string_view::npos) return {};
    const std::string_view rest = line.substr(first + 1);
    return rest.substr(0, rest.find(';'));
}

} // namespace core

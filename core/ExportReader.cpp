#include "core/ExportReader.h"

#include "core/ExportFile.h"
#include "core/Progress.h"
#include "core/RecordLine.h"
#include "model/Cp1250.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

namespace core {

namespace {

constexpr size_t kMostProblems = 10;

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const size_t semicolon = line.find(';');
        fields.push_back(line.substr(0, semicolon));
        if (semicolon == std::string_view::npos) return fields;
        line.remove_prefix(semicolon + 1);
    }
}

int Digits(std::string_view text) {
    int value = 0;
    for (const char c : text) value = value * 10 + (c - '0');
    return value;
}

// A number as the record line writes it: fixed ("-1,0") or exponent form
// ("1,234568E7", "2E007"), with either separator; "NAN", "INF", "-INF".
// Also the value of its last digit.
std::optional<std::pair<double, double>> Number(std::string_view text) {
    if (text.empty() || text.size() > 40) return std::nullopt;
    char buffer[48];
    size_t n = 0;
    int decimals = 0, exponent = 0;
    bool afterPoint = false, inExponent = false;
    for (const char c : text) {
        char d = c;
        if (c == ',' || c == '.') {
            if (afterPoint || inExponent) return std::nullopt;
            afterPoint = true;
            d = '.';
        } else if (c == 'E' || c == 'e') {
            inExponent = true;
        } else if (afterPoint && !inExponent && c >= '0' && c <= '9') {
            ++decimals;
        }
        buffer[n++] = d;
    }
    if (inExponent) {
        const std::string_view tail = text.substr(text.find_first_of("Ee") + 1);
        const auto [end, ec] = std::from_chars(tail.data(), tail.data() + tail.size(), exponent);
        if (ec != std::errc() || end != tail.data() + tail.size()) return std::nullopt;
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(buffer, buffer + n, value);
    if (ec != std::errc() || end != buffer + n) return std::nullopt;
    return std::pair{value, std::pow(10.0, exponent - decimals)};
}

struct Parsed {
    ArchiveSample Sample;
    std::string Problem; // empty: a record
    bool Impossible = false;
};

Parsed ParseRecord(std::string_view line) {
    Parsed p;
    const std::vector<std::string_view> f = Fields(line);
    if (f.size() != 6) {
        p.Problem =
            "not a record line (" + std::to_string(f.size()) + " fields instead of 6 after the number)";
        return p;
    }
    if (!IsPossibleMoment(f[0], f[1])) {
        p.Impossible = true;
        p.Problem =
            "a date or time that cannot be: " + model::Cp1250ToUtf8(f[0]) + " " + model::Cp1250ToUtf8(f[1]);
        return p;
    }
    ArchiveSample& s = p.Sample;
    s.Moment = WallFromCivil(Digits(f[0].substr(0, 4)), Digits(f[0].substr(5, 2)), Digits(f[0].substr(8, 2)),
                             Digits(f[1].substr(0, 2)), Digits(f[1].substr(3, 2)), Digits(f[1].substr(6, 2)));
    const auto flow = Number(f[2]);
    if (!flow) {
        p.Problem = "no flow: \"" + model::Cp1250ToUtf8(f[2]) + "\"";
        return p;
    }
    s.Flow = std::isfinite(flow->first) ? flow->first : std::numeric_limits<double>::quiet_NaN();
    // Both totalisers carry the record's one unit.
    std::string_view unit;
    double* const totals[] = {&s.Forward, &s.Reverse};
    for (int i = 0; i < 2; ++i) {
        std::string_view text = f[3 + i];
        const std::string_view u = text.ends_with(" [l]") ? " [l]" : text.ends_with(" [m3]") ? " [m3]" : "";
        text.remove_suffix(u.size());
        const auto value = Number(text);
        if (u.empty() || (i == 1 && u != unit) || !value || !std::isfinite(value->first)) {
            p.Problem = "no totaliser with its unit: \"" + model::Cp1250ToUtf8(f[3 + i]) + "\"";
            return p;
        }
        unit = u;
        const double scale = u == " [l]" ? 0.001 : 1.0;
        *totals[i] = value->first * scale;
        s.Step = std::max(s.Step, value->second * scale);
    }
    s.Litres = unit == " [l]";
    const std::string events = model::Cp1250ToUtf8(f[5]);
    for (std::string_view rest = events; !rest.empty();) {
        const size_t plus = rest.find(" + ");
        const std::string_view name = rest.substr(0, plus);
        int kind = 0;
        while (kind < kEventKinds && EventText(kind) != name) ++kind;
        if (kind == kEventKinds)
            p.Problem = "an event this program does not know, left out: \"" + std::string(name) + "\"";
        else
            s.Events = static_cast<uint8_t>(s.Events | (1u << kind));
        if (plus == std::string_view::npos) break;
        rest.remove_prefix(plus + 3);
    }
    return p;
}

void Take(ExportRead& read, std::string_view line, int number) {
    Parsed p = ParseRecord(line);
    const bool record = !p.Impossible && (p.Problem.empty() || p.Problem.starts_with("an event"));
    if (record) {
        p.Sample.Line = number;
        read.Samples.push_back(p.Sample);
    } else {
        ++(p.Impossible ? read.Impossible : read.Malformed);
    }
    if (!p.Problem.empty() && read.Problems.size() < kMostProblems)
        read.Problems.push_back("line " + std::to_string(number) + ": " + p.Problem);
}

} // namespace

WallSeconds WallFromCivil(int year, int month, int day, int hour, int minute, int second) {
    // The download's own count of minutes since 1970, to the second.
    return CivilMinute(year, month, day, hour, minute) * 60 + second;
}

Civil CivilFromWall(WallSeconds moment) {
    const int64_t days = moment >= 0 ? moment / 86400 : (moment - 86399) / 86400;
    const int64_t secs = moment - days * 86400;
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    Civil c;
    c.Year = static_cast<int>(yoe + era * 400 + (m <= 2));
    c.Month = static_cast<int>(m);
    c.Day = static_cast<int>(d);
    c.Hour = static_cast<int>(secs / 3600);
    c.Minute = static_cast<int>(secs / 60 % 60);
    c.Second = static_cast<int>(secs % 60);
    return c;
}

std::string WallText(WallSeconds moment) {
    const Civil c = CivilFromWall(moment);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", c.Year, c.Month, c.Day, c.Hour,
                  c.Minute, c.Second);
    return text;
}

std::string_view EventText(int kind) {
    // The record line's own texts, so that the two never differ.
    static const std::array<std::string, kEventKinds> texts = [] {
        std::array<std::string, kEventKinds> t;
        for (int k = 0; k < kEventKinds; ++k) {
            ArchiveRecord record{};
            record[21] = static_cast<uint8_t>(4u << k);
            t[size_t(k)] = EventsText(record);
        }
        return t;
    }();
    return kind >= 0 && kind < kEventKinds ? std::string_view(texts[size_t(kind)]) : std::string_view();
}

ExportRead ReadExport(std::string_view content) {
    ExportRead read;
    const std::string header = ExportHeader();
    int number = 0;
    while (!content.empty()) {
        const size_t end = content.find_first_of("\r\n");
        const std::string_view line = content.substr(0, end);
        ++number;
        if (end == std::string_view::npos)
            content = {};
        else
            content.remove_prefix(end + (content.substr(end, 2) == "\r\n" ? 2 : 1));
        if (line.empty() || line == header) continue;
        // The log number first, then the record line.
        const size_t semicolon = line.find(';');
        const std::string_view log = line.substr(0, semicolon);
        if (semicolon == std::string_view::npos || log.empty() ||
            log.find_first_not_of("0123456789") != std::string_view::npos) {
            ++read.Malformed;
            if (read.Problems.size() < kMostProblems)
                read.Problems.push_back("line " + std::to_string(number) + ": no log number");
            continue;
        }
        Take(read, line.substr(semicolon + 1), number);
    }
    return read;
}

ExportRead ReadRecordLines(const std::vector<std::string>& lines) {
    ExportRead read;
    for (size_t i = 0; i < lines.size(); ++i) Take(read, lines[i], static_cast<int>(i + 1));
    return read;
}

} // namespace core

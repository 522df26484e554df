#include "core/Progress.h"

#include "core/ArchiveCycle.h"

#include "model/NumberFormat.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace core {

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

std::optional<int> Digits(std::string_view text, size_t at, size_t count) {
    if (at + count > text.size()) return std::nullopt;
    int value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

int64_t RoundedDivision(int64_t numerator, int64_t denominator) {
    return (numerator + denominator / 2) / denominator;
}

} // namespace

std::optional<int64_t> RecordMinute(std::string_view date, std::string_view time) {
    if (date.size() != 10 || date[4] != '-' || date[7] != '-' || time.size() < 5 || time[2] != ':')
        return std::nullopt;
    const auto year = Digits(date, 0, 4), month = Digits(date, 5, 2), day = Digits(date, 8, 2);
    const auto hour = Digits(time, 0, 2), minute = Digits(time, 3, 2);
    if (!year || !month || !day || !hour || !minute || *month < 1 || *month > 12 || *day < 1 || *day > 31 ||
        *hour > 23 || *minute > 59)
        return std::nullopt;
    return CivilMinute(*year, *month, *day, *hour, *minute);
}

int64_t CivilMinute(int year, int month, int day, int hour, int minute) {
    return DaysFromCivil(year, month, day) * 1440 + int64_t{hour} * 60 + minute;
}

std::optional<int64_t> ArchivePeriodMinutes(int code) {
    static constexpr std::array<int64_t, 11> kMinutes = {0, 1, 2, 5, 15, 30, 60, 120, 480, 720, 1440};
    if (code < 1 || code >= static_cast<int>(kMinutes.size())) return std::nullopt;
    return kMinutes[static_cast<size_t>(code)];
}

ProgressEstimate EstimateProgress(const DownloadFacts& f) {
    ProgressEstimate estimate;
    const std::optional<int64_t> period = f.PeriodMinutes ? f.PeriodMinutes : f.LastGapMinutes;
    if (f.RecordsRead == 0 || !period || *period <= 0 || !f.LastMinute || !f.FirstMinute) return estimate;

    // Up to the newest record, and, once the archive went round, on from the
    // oldest up to the one before the first read: that end is known. Else
    // the newest is taken to be about now, where it can be.
    if (!f.WentRound && f.NotRecording) {
        estimate.Why = ProgressEstimate::Unknown::NotRecording;
        return estimate;
    }
    const int64_t upTo = f.WentRound ? *f.FirstMinute - *period : f.NowMinute;
    const int64_t left = std::max<int64_t>(0, RoundedDivision(upTo - *f.LastMinute, *period));
    // More than the archive holds: the newest record is not about now, and
    // the end record alone will tell where the archive ends.
    if (left > std::max(0, kMostRecords - f.RecordsRead)) {
        estimate.Why = ProgressEstimate::Unknown::NewestOld;
        return estimate;
    }
    estimate.RecordsLeft = static_cast<int>(left);
    estimate.MsLeft = f.ElapsedMs * left / f.RecordsRead;

    if (f.FileLastMinute) {
        // What the file has gained, and of the records still to read those
        // after its last line.
        const int64_t from = std::max(*f.LastMinute, *f.FileLastMinute);
        const int64_t newer = std::clamp<int64_t>(RoundedDivision(upTo - from, *period), 0, left);
        estimate.NewExpected = f.NewRecords + static_cast<int>(newer);
    }
    return estimate;
}

std::string ProgressBarText(const DownloadProgress& p) {
    const ProgressEstimate& e = p.Estimate;
    if (!e.RecordsLeft) return std::to_string(p.RecordsRead) + " · plik " + std::to_string(p.File) + "/4";
    std::string text = std::to_string(p.RecordsRead) + "/~" + std::to_string(p.RecordsRead + *e.RecordsLeft);
    if (e.MsLeft) text += " ~" + DurationText(*e.MsLeft);
    return text;
}

std::string ProgressSentence(const DownloadProgress& p, std::string_view separator) {
    std::string text = ProgressFacts(p, separator);
    if (!p.Failures.empty()) text += "\nNieudane próby tego rekordu: " + p.Failures + ".";
    return text;
}

std::string ProgressFacts(const DownloadProgress& p, std::string_view separator) {
    std::string text = "Odczytano " + std::to_string(p.RecordsRead) + " rekordów archiwum (plik " +
                       std::to_string(p.File) + " z 4";
    if (p.RecordsPerSecond > 0)
        text += ", " + model::FormatNumber(p.RecordsPerSecond, 1, 6, separator) + " rekordu/s";
    text += ").";
    if (p.Update) {
        text += " Nowych dla pliku: " + std::to_string(p.NewRecords);
        if (p.Estimate.NewExpected) text += " z około " + std::to_string(*p.Estimate.NewExpected);
        text += ".";
    }
    const ProgressEstimate& e = p.Estimate;
    if (!e.RecordsLeft) {
        switch (e.Why) {
        case ProgressEstimate::Unknown::NotRecording:
            return text + " Przepływomierz nie zapisuje archiwum (okres zapisu: bez zapisu), więc ile "
                          "zostało, pokaże dopiero rekord końcowy.";
        case ProgressEstimate::Unknown::NewestOld:
            return text + " Najnowszy rekord nie jest z ostatnich chwil (zegar przepływomierza się spóźnia "
                          "albo zapis ustał dawno), więc ile zostało, pokaże dopiero rekord końcowy.";
        case ProgressEstimate::Unknown::Early:
            break;
        }
        return text + " Ile zostało, wiadomo po dwóch rekordach albo z okresu zapisu archiwum.";
    }
    text += " Zostało około " + std::to_string(*e.RecordsLeft) + " rekordów";
    if (e.MsLeft) text += ", koniec około " + ClockText(p.NowMinute + (*e.MsLeft + 59999) / 60000);
    return text + " (szacunek z okresu zapisu archiwum i dat odczytanych rekordów).";
}

std::string ProgressDetails(const DownloadProgress& p, std::string_view separator) {
    std::string text = "plik " + std::to_string(p.File) + " z 4";
    if (p.RecordsPerSecond > 0)
        text += ", " + model::FormatNumber(p.RecordsPerSecond, 1, 6, separator) + " rekordu/s";
    if (p.Estimate.MsLeft)
        text += ", koniec około " + ClockText(p.NowMinute + (*p.Estimate.MsLeft + 59999) / 60000);
    if (p.Update) {
        text += ", nowych dla pliku " + std::to_string(p.NewRecords);
        if (p.Estimate.NewExpected) text += " z około " + std::to_string(*p.Estimate.NewExpected);
    }
    return text;
}

std::string DurationText(int64_t ms) {
    // An estimate, so to the nearest: seconds under a minute, five seconds
    // under ten minutes, whole minutes after that.
    const int64_t seconds = (std::max<int64_t>(ms, 0) + 500) / 1000;
    if (seconds < 60) return std::to_string(seconds) + " s";
    const int64_t fives = (seconds + 2) / 5 * 5;
    if (fives < 600) {
        const std::string minutes = std::to_string(fives / 60) + " min";
        return fives % 60 == 0 ? minutes : minutes + " " + std::to_string(fives % 60) + " s";
    }
    return std::to_string((seconds + 30) / 60) + " min";
}

std::string ClockText(int64_t minute) {
    const int64_t ofDay = ((minute % 1440) + 1440) % 1440;
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(ofDay / 60), static_cast<int>(ofDay % 60));
    return text;
}

} // namespace core

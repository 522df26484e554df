// How far a download is and, where it can be told, how far it still has to
// go: the same in the window and the tool.
//
// The archive's size is not known before its end marker, so the records
// still to read are estimated from what the records say: they are one
// archive period apart and the newest is about now. In reading order an
// archive goes from its oldest record to its newest; one that went round
// (a ring buffer) starts somewhere in the middle, goes to the newest, then
// on from the oldest up to the record before the first one read.
//
// Every download reads up to the end record, an update too (it keeps only
// the records newer than its file's last line). Where the newest record
// cannot be about now (the meter records nothing, or more records would lie
// between the last one read and now than the archive holds: its clock is
// behind or it stopped recording long ago), only the end record tells how
// far it goes, and no estimate is given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace core {

// A record's date ("YYYY-MM-DD") and time ("HH:MM:SS") as minutes since
// 1970-01-01 00:00 of the same clock; nothing for a text that is no date.
std::optional<int64_t> RecordMinute(std::string_view date, std::string_view time);
// The minutes of an archive period code of the meter's list ("bez zapisu",
// "1 min" … "24 godz"); nothing for "bez zapisu" and codes past the list.
std::optional<int64_t> ArchivePeriodMinutes(int code);

// What a download knows of itself.
struct DownloadFacts {
    int RecordsRead = 0;                   // dated records, the end marker not counted
    std::optional<int64_t> FirstMinute;    // of the first record read
    std::optional<int64_t> LastMinute;     // of the record read last
    std::optional<int64_t> LastGapMinutes; // between the last two records read, when later
    bool WentRound = false;                // a record older than the one before it was read
    std::optional<int64_t> PeriodMinutes;  // the meter's archive period, from its last good read
    bool NotRecording = false;             // its last good read says "bez zapisu"
    std::optional<int64_t> FileLastMinute; // an update: its file's last line
    int NewRecords = 0;                    // records the file gains so far
    int64_t NowMinute = 0;                 // the PC's local time
    int64_t ElapsedMs = 0;                 // since the download started
};

struct ProgressEstimate {
    std::optional<int> RecordsLeft;
    std::optional<int64_t> MsLeft;
    std::optional<int> NewExpected; // an update: about how many records it gains in all
    // Why there is no RecordsLeft: too few records or no period yet; the
    // meter records nothing; the newest record is older than "about now".
    enum class Unknown { Early, NotRecording, NewestOld };
    Unknown Why = Unknown::Early;
};

ProgressEstimate EstimateProgress(const DownloadFacts& facts);

// Minutes since 1970-01-01 00:00 of a civil date and time.
int64_t CivilMinute(int year, int month, int day, int hour, int minute);

// Where a download stands, as the window and the tool show it.
struct DownloadProgress {
    bool Running = false;
    int RecordsRead = 0;
    int File = 0; // the meter's archive file being read, 1 … 4
    bool Update = false;
    int NewRecords = 0;
    double RecordsPerSecond = 0;
    ProgressEstimate Estimate;
    int64_t NowMinute = 0;
    // Why the record asked for has failed since the last good reply, with
    // the counts ("3 × Błąd sumy kontrolnej …"); empty after a good reply.
    std::string Failures;
};

// The window's texts: the short one of its progress bar and the whole
// sentence of its tooltip; the separator is the locale's.
std::string ProgressBarText(const DownloadProgress& progress);
std::string ProgressSentence(const DownloadProgress& progress, std::string_view decimalSeparator);
// The sentence without the failures.
std::string ProgressFacts(const DownloadProgress& progress, std::string_view decimalSeparator);
// The sentence's facts that the bar's text leaves out, in the few words that
// fit beside it: "plik 1 z 4, 9,8 rekordu/s, koniec około 14:35".
std::string ProgressDetails(const DownloadProgress& progress, std::string_view decimalSeparator);

// A time left as a person reads it, rounded to the nearest: "45 s", then
// "3 min 15 s" in steps of five seconds under ten minutes, then "12 min".
std::string DurationText(int64_t ms);
// A local time of day as "14:32", for minutes since 1970 of the same clock.
std::string ClockText(int64_t minute);

} // namespace core

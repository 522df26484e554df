// The archive download of the main window: one function-0x14 transaction per
// record over files 1 to 4, the end marker, the filter of an update, the store
// of lines, and the finish that writes them to the export file. It decides;
// the window carries out what the view is told, in that order.
//
// Time is measured in milliseconds of a steady clock that the view gives, so
// that the reply time-out is the settings' milliseconds whatever the real
// length of a timer tick, and the tests can step time by hand.
#pragma once

#include "core/Progress.h"
#include "core/RecordLine.h"

#include "core/LinkState.h"
#include "model/LinkCheck.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

inline constexpr int kArchiveFiles = 4;
inline constexpr int32_t kRecordStep = 11;
inline constexpr int32_t kLastRecord = 35464; // 11 x 3224
inline constexpr int kRecordsPerFile = 3225;
inline constexpr int kMostRecords = kArchiveFiles * kRecordsPerFile;
// A record dated at or below this (as text) ends the archive.
inline constexpr std::string_view kEndMarkerDate = "1999-01-01";
inline constexpr int32_t kShortestTimeoutMs = model::kShortestTimeoutMs;

inline constexpr std::string_view kArchiveCaption = "Zapisz dane z archiwum do pliku";
inline constexpr std::string_view kStopArchiveCaption = "Zakończ zapis danych z archiwum";
inline constexpr std::string_view kArchiveSavedText = "Zapis archiwum do pliku zakończony.";

class ArchiveView : public core::CycleView {
public:
    // The yes/no question of a user stop; true for "TAK".
    virtual bool Ask(const std::string& question) = 0;
    // Closes the question that is open, as "NIE": its answer no longer matters.
    virtual void CancelQuestion() {}
    // The meter's archive period code from its last good read, if there was one.
    virtual std::optional<int> ArchivePeriodCode() { return std::nullopt; }
    // The PC's local time as minutes since 1970 (the records' clock).
    virtual int64_t LocalMinuteNow() = 0;
    // Where the download stands; with Running false when it ends.
    virtual void ShowProgress(const DownloadProgress& progress) = 0;
    // The records of a download without a file, in time order (Windows-1250
    // lines "date;time;flow;L+ unit;L- unit;events").
    virtual void DeliverRecords(const std::vector<std::string>&) {}
    // A write of the export failed (the text says where and why): the
    // downloaded lines are offered for another file; empty when declined.
    virtual std::string ChooseOtherFile(const std::string& error) = 0;

    // What only a window shows.
    virtual void SetArchiveCaption(const std::string&) {}
    // The fourteen setting controls of the device page and the connect button.
    virtual void SetSettingControlsEnabled(bool) {}
    virtual void ShowExportWindow() {}
    virtual void ShowInformation(const std::string&) {}
};

class ArchiveCycle {
public:
    // Ending: the archive was read to its end while a stop question was
    // open; the finish waits for the question to close.
    enum class State { Idle, Choosing, Waiting, TimedOut, Pacing, Ending };

    // stopPolling ends the polling, if it runs, before the export window opens.
    ArchiveCycle(core::LinkState& link, modbus::TransactionFactory factory, ArchiveView& view,
                 std::function<void()> stopPolling = {});

    // The archive button: opens the export window, or asks whether to stop and save.
    void ArchiveButton();
    // Does what is due now: a finished transaction, the reply time-out, the
    // retry after it, the end of the pacing.
    void Wake();
    // When Wake has something to do next, unless a transaction finishes
    // first; nothing while no download runs or a stop question holds it.
    std::optional<int64_t> NextWakeMs() const;
    // The export window was hidden: without a download, back to idle.
    void ExportWindowHidden();
    // The export window's choices: the download runs, or why nothing started.
    platform::Outcome CreateExportFile(const std::string& path);
    platform::Outcome OpenExportFileForUpdate(const std::string& path);
    // A download of the records newer than a moment ("2024-05-01",
    // "12:15:00"; empty: every record), handed to the view in time order
    // instead of a file: a program that publishes them keeps its own anchor.
    platform::Outcome DownloadRecordsAfter(const std::string& date, const std::string& time);
    // The user closes the main window: the questions of a stop. False when
    // the download is to go on (the window stays open).
    bool CloseRequested();
    // Ends a running download without questions, saving what was read or not
    // (a program that runs unattended decides this itself).
    void Stop(bool save);

    State state() const { return Current; }
    bool ArchiveRunning() const {
        return Current == State::Waiting || Current == State::TimedOut || Current == State::Pacing ||
               Current == State::Ending;
    }
    // The record asked for now: its file (1 to 4) and record number.
    uint8_t fileNumber() const { return ArchiveFileNumber; }
    int32_t recordNumber() const { return ArchiveRecordNumber; }
    // The lines kept for the export so far.
    size_t lineCount() const { return ArchiveLines.size(); }
    const std::string& exportFileName() const { return ExportFileName; }
    // Records with a moment that cannot be, left out of this download.
    int impossibleRecords() const { return ImpossibleRecords; }
    // Why the record asked for has failed since the last good reply: each
    // verdict with its count, in the order first seen.
    struct FailureCount {
        modbus::Verdict Verdict;
        int Count = 0;
    };
    const std::vector<FailureCount>& recentFailures() const { return RecentFailures; }
    // Why the port could not be used at the last time-out (empty: it could).
    const std::string& portTrouble() const { return PortTrouble; }

private:
    platform::Outcome CheckSettings();
    void StartArchiveDownload();
    void StartArchiveRequest();
    void FinishArchiveDownload();
    void Watch();
    void Completion(int64_t elapsedMs);
    void StoreRecord(const ArchiveRecord& record);
    void Count(std::optional<int64_t> minute);
    void Advance();
    bool AskToStop();
    void WriteArchiveLines();
    int32_t PacingMs();
    void ReportProgress();
    void NoteFailure(modbus::Verdict verdict);
    // "Zapis archiwum do pliku zakończony.", and a line on the left-out records.
    std::string SavedText() const;

    core::LinkState& Link;
    modbus::TransactionFactory Factory;
    ArchiveView& View;
    std::function<void()> StopPolling;
    State Current = State::Idle;
    bool Asking = false; // a stop question is open

    uint8_t ArchiveFileNumber = 1;
    int32_t ArchiveRecordNumber = 0;
    bool ArchiveEnd = false;
    bool SaveArchive = false;
    bool AppendMode = false;
    std::vector<std::string> ArchiveLines; // Windows-1250, in reading order
    int32_t NextLogNumber = 0;
    std::string LastFileDate;
    std::string LastFileTime;
    std::string ExportFileName;
    bool ReplaceExisting = false; // a new file over one the user agreed to replace
    bool Delivering = false;      // the records go to the view, not to a file
    int ImpossibleRecords = 0;
    std::vector<FailureCount> RecentFailures;
    std::string PortTrouble;

    int64_t RequestStart = 0;     // when the request in flight started
    uint32_t RequestQuietMs = 0;  // the silence it waits for before sending
    int32_t RequestTimeoutMs = 0; // its reply time-out
    int64_t PacingUntil = 0;
    bool QuietNext = false; // the last request failed: the next waits for silence
    int64_t DownloadStart = 0;
    DownloadFacts Facts; // of the download running
    // The last values that could be read: a field the user is typing in
    // does not stop a download.
    int32_t LastPeriodMs = 1000;
    std::optional<modbus::LinkSettings> LastLink;
};

} // namespace core

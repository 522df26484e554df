#include "core/ArchiveCycle.h"

#include "core/ExportFile.h"
#include "core/RecordLine.h"

#include "model/Cp1250.h"
#include "platform/FileIo.h"

#include <algorithm>

namespace core {

using platform::Outcome;

ArchiveCycle::ArchiveCycle(core::LinkState& link, modbus::TransactionFactory factory, ArchiveView& view,
                           std::function<void()> stopPolling)
    : Link(link), Factory(std::move(factory)), View(view), StopPolling(std::move(stopPolling)) {}

// --- the archive button and the export window ---

void ArchiveCycle::ArchiveButton() {
    if (ArchiveRunning()) {
        if (!AskToStop()) return;
        FinishArchiveDownload();
        return;
    }
    // Idle, or the export window is already open: the same steps again.
    if (StopPolling) StopPolling();
    NextLogNumber = 0;
    View.ShowExportWindow();
    View.SetArchiveCaption(std::string(kStopArchiveCaption));
    View.SetSettingControlsEnabled(false);
    SaveArchive = false;
    Current = State::Choosing;
}

bool ArchiveCycle::AskToStop() {
    // The timers keep running while a question is open. When the archive is
    // read to its end meanwhile, the question closes itself, the next one is
    // not asked, and the finish (which saves all that was read) comes only
    // now, so that its message does not open over the question.
    Asking = true;
    const bool stop = View.Ask("Zakończyć odczyt danych ?");
    const bool save = stop && Current != State::Ending && View.Ask("Zapisać odczytane dane do pliku ?");
    Asking = false;
    if (Current == State::Ending) {
        SaveArchive = true;
        return true;
    }
    if (!stop || !ArchiveRunning()) return false;
    SaveArchive = save;
    return true;
}

bool ArchiveCycle::CloseRequested() {
    if (!ArchiveRunning()) return true;
    if (!AskToStop()) return !ArchiveRunning();
    FinishArchiveDownload();
    return true;
}

void ArchiveCycle::Stop(bool save) {
    if (!ArchiveRunning()) return;
    SaveArchive = save;
    FinishArchiveDownload();
}

void ArchiveCycle::ExportWindowHidden() {
    if (Current != State::Choosing) return;
    View.SetArchiveCaption(std::string(kArchiveCaption));
    View.SetSettingControlsEnabled(true);
    Current = State::Idle;
}

platform::Outcome ArchiveCycle::CreateExportFile(const std::string& path) {
    if (platform::Outcome settings = CheckSettings(); !settings) return settings;
    // The file appears only when the download is over and whole, so that a
    // kill or a full disk never leaves a file that blocks the next run; an
    // existing one (the user agreed to replace it) stays until then.
    if (platform::Outcome creatable = platform::CheckCreatable(path); !creatable) return creatable;
    ReplaceExisting = platform::FileExists(path);
    AppendMode = false;
    Delivering = false;
    ExportFileName = path;
    StartArchiveDownload();
    return platform::Ok();
}

platform::Outcome ArchiveCycle::OpenExportFileForUpdate(const std::string& path) {
    if (platform::Outcome settings = CheckSettings(); !settings) return settings;
    const platform::OrReason<std::string> content = platform::ReadWholeFile(path);
    if (!content) return Outcome::Fail(content.error);
    const std::optional<LastExportLine> last = ReadUpdateAnchor(*content);
    if (!last)
        return Outcome::Fail(
            "Plik " + path +
            " nie kończy się wierszem danych z numerem logu; nie można go uaktualnić. Plik nie "
            "został zmieniony.");
    if (platform::Outcome appendable = platform::CheckAppendable(path); !appendable) return appendable;
    NextLogNumber = last->LogNumber + 1;
    LastFileDate = last->Date;
    LastFileTime = last->Time;
    AppendMode = true;
    Delivering = false;
    ExportFileName = path;
    StartArchiveDownload();
    return platform::Ok();
}

platform::Outcome ArchiveCycle::DownloadRecordsAfter(const std::string& date, const std::string& time) {
    if (platform::Outcome settings = CheckSettings(); !settings) return settings;
    Delivering = true;
    AppendMode = true; // the same filter as an update's: only what is newer
    LastFileDate = date;
    LastFileTime = time;
    ExportFileName.clear();
    StartArchiveDownload();
    return platform::Ok();
}

platform::Outcome ArchiveCycle::CheckSettings() {
    // Nothing starts on settings that cannot make a request; later, while the
    // download runs, a field being typed in falls back to its last good value.
    const platform::OrReason<modbus::LinkSettings> link = View.ReadLink();
    if (!link) return Outcome::Fail(link.error);
    LastLink = link.value;
    return platform::Ok();
}

// --- the cycle ---

int32_t ArchiveCycle::PacingMs() {
    const platform::OrReason<int32_t> period = View.ReadPeriod();
    if (period.value) LastPeriodMs = *period.value;
    return LastPeriodMs / 10;
}

void ArchiveCycle::StartArchiveDownload() {
    Current = State::Waiting;
    ArchiveFileNumber = 1;
    ArchiveRecordNumber = 0;
    QuietNext = false;
    ImpossibleRecords = 0;
    RecentFailures.clear();
    DownloadStart = View.NowMs();
    Facts = {};
    if (AppendMode) Facts.FileLastMinute = RecordMinute(LastFileDate, LastFileTime);
    StartArchiveRequest();
    ArchiveLines.clear();
    ReportProgress();
}

void ArchiveCycle::StartArchiveRequest() {
    const platform::OrReason<modbus::LinkSettings> link = View.ReadLink();
    if (link.value) LastLink = link.value;
    modbus::TransactionRequest request;
    if (LastLink) request.Link = *LastLink;
    request.Link.TimeoutMs = std::max(request.Link.TimeoutMs, kShortestTimeoutMs);
    request.Archive = true;
    request.ArchiveFile = ArchiveFileNumber;
    request.ArchiveRecord = ArchiveRecordNumber;
    // After a time-out or a rejected reply the meter may still be answering
    // the earlier request: its reply must be gone before this one goes out.
    RequestTimeoutMs = request.Link.TimeoutMs;
    RequestQuietMs = QuietNext ? static_cast<uint32_t>(RequestTimeoutMs) : 0;
    request.QuietMs = RequestQuietMs;
    // The worker's own deadline counts from the end of the wait for silence.
    request.Link.TimeoutMs += static_cast<int32_t>(RequestQuietMs);
    request.OnDone = View.CompletionNotifier();
    RequestStart = View.NowMs();
    Link.ActiveRead = Factory(request);
}

void ArchiveCycle::Wake() {
    switch (Current) {
    case State::Waiting:
        Watch();
        return;
    case State::Pacing:
        if (View.NowMs() < PacingUntil) return;
        break;
    case State::TimedOut: // the retry: the same file and record
        break;
    default:
        return;
    }
    StartArchiveRequest();
    Current = State::Waiting;
}

void ArchiveCycle::Watch() {
    const int64_t elapsed = View.NowMs() - RequestStart;
    // The reply time-out counts from the end of the wait for silence.
    const int64_t timeout = int64_t{RequestTimeoutMs} + int64_t{RequestQuietMs};
    if (elapsed >= timeout) {
        NoteFailure({modbus::Status::Timeout});
        if (Link.ActiveRead) PortTrouble = Link.ActiveRead->PortTrouble();
        Link.TimeOutActiveRead(View);
        QuietNext = true;
        Current = State::TimedOut; // the retry comes with the next wake
        return;
    }
    if (!Link.ActiveDone()) return;
    View.SetStatus(core::ResultLine(Link.ActiveRead->Result().Text(), Link.GoodReplies, Link.BadReplies));
    Completion(elapsed);
}

std::optional<int64_t> ArchiveCycle::NextWakeMs() const {
    switch (Current) {
    case State::Waiting:
        return RequestStart + int64_t{RequestQuietMs} + int64_t{RequestTimeoutMs};
    case State::TimedOut:
        return RequestStart; // the retry is due at once
    case State::Pacing:
        return PacingUntil;
    default:
        return std::nullopt;
    }
}

void ArchiveCycle::Completion(int64_t elapsedMs) {
    const modbus::Ending& done = Link.ActiveRead->Result();
    Link.TraceFinished(View, true); // the reply line first on this path
    if (done.Succeeded()) {
        RecentFailures.clear();
        PortTrouble.clear();
        ++Link.GoodReplies;
        const ArchiveRecord record = RecordFromReply(done.reply.data()); // taken before the release
        Link.EndTransaction();
        QuietNext = false;
        StoreRecord(record);
    } else {
        NoteFailure(done.verdict);
        ++Link.BadReplies;
        Link.EndTransaction();
        QuietNext = true; // the rest of a bad reply may still be on its way
    }
    ReportProgress();

    if (ArchiveEnd) {
        if (Asking) {
            Current = State::Ending;
            View.CancelQuestion();
            return;
        }
        SaveArchive = true;
        FinishArchiveDownload();
        return;
    }
    const int64_t pacing = PacingMs();
    if (elapsedMs < pacing) {
        PacingUntil = View.NowMs() + (pacing - elapsedMs);
        Current = State::Pacing;
    } else {
        StartArchiveRequest();
        Current = State::Waiting;
    }
}

void ArchiveCycle::StoreRecord(const ArchiveRecord& record) {
    const std::string line = model::Utf8ToCp1250(BuildRecordLine(record, View.DecimalSeparator()));
    const std::string_view date = RecordDateField(line);
    const std::string_view time = RecordTimeField(line);
    // Byte-wise text comparisons, not date arithmetic.
    if (date <= kEndMarkerDate) ArchiveEnd = true;
    // A moment that cannot be (an erased or damaged record) is left out: in
    // the file it would sort anywhere and become the anchor of every later
    // update, which would then take nothing.
    if (!ArchiveEnd && !IsPossibleMoment(date, time)) {
        ++ImpossibleRecords;
        ++Facts.RecordsRead;
        Advance();
        return;
    }
    if (!ArchiveEnd) Count(RecordMinute(date, time));
    bool accepted = !ArchiveEnd;
    if (accepted && AppendMode)
        accepted = date > std::string_view(LastFileDate) ||
                   (date == std::string_view(LastFileDate) && time > std::string_view(LastFileTime));
    if (accepted) ArchiveLines.push_back(line);
    Facts.NewRecords = static_cast<int>(ArchiveLines.size());
    Advance();
}

void ArchiveCycle::Count(std::optional<int64_t> minute) {
    ++Facts.RecordsRead;
    if (!minute) return; // a damaged date tells nothing of the rest
    if (!Facts.FirstMinute) Facts.FirstMinute = minute;
    if (Facts.LastMinute) {
        if (*minute < *Facts.LastMinute) Facts.WentRound = true;
        if (*minute > *Facts.LastMinute) Facts.LastGapMinutes = *minute - *Facts.LastMinute;
    }
    Facts.LastMinute = minute;
}

void ArchiveCycle::Advance() {
    if (ArchiveRecordNumber < kLastRecord) {
        ArchiveRecordNumber += kRecordStep;
    } else if (ArchiveFileNumber < kArchiveFiles) {
        ++ArchiveFileNumber;
        ArchiveRecordNumber = 0;
    } else {
        ArchiveEnd = true;
    }
}

void ArchiveCycle::FinishArchiveDownload() {
    Link.EndTransaction();
    Current = State::Idle;
    Link.GoodReplies = 0;
    Link.BadReplies = 0;
    ArchiveEnd = false;
    View.ShowProgress({});
    View.SetSettingControlsEnabled(true);
    // Not saved: nothing was written, a new file was never made and an
    // updated one stays as it was.
    if (SaveArchive) WriteArchiveLines();
    View.SetArchiveCaption(std::string(kArchiveCaption));
}

void ArchiveCycle::WriteArchiveLines() {
    PutInTimeOrder(ArchiveLines);
    if (Delivering) {
        View.DeliverRecords(ArchiveLines);
        return;
    }
    const std::string lines = NumberedLines(ArchiveLines, NextLogNumber);
    platform::OrReason<std::string> head{ExportHeader() + "\r\n", {}};
    if (AppendMode) {
        head = platform::ReadWholeFile(ExportFileName);
        // The file ends without a line end: the new lines start on a line of their own.
        if (head && !head->empty() && head->back() != '\n' && head->back() != '\r') *head.value += "\r\n";
    }
    platform::Outcome written = Outcome::Fail(head.error);
    if (head)
        written = AppendMode || ReplaceExisting ? platform::ReplaceWholeFile(ExportFileName, *head, lines)
                                                : platform::CreateNewWholeFile(ExportFileName, *head, lines);
    if (written) {
        NextLogNumber += static_cast<int32_t>(ArchiveLines.size());
        View.ShowInformation(SavedText());
        return;
    }
    // The export is as it was; the lines go to another file if the user wants.
    for (;;) {
        const std::string other = View.ChooseOtherFile(written.error);
        if (other.empty()) return;
        written = platform::ReplaceWholeFile(other, ExportHeader() + "\r\n", lines);
        if (written) {
            View.ShowInformation(SavedText());
            return;
        }
    }
}

std::string ArchiveCycle::SavedText() const {
    std::string text(kArchiveSavedText);
    if (ImpossibleRecords > 0)
        text += "\nPominięto rekordy z niemożliwą datą lub godziną (np. skasowane): " +
                std::to_string(ImpossibleRecords) + ".";
    return text;
}

void ArchiveCycle::NoteFailure(modbus::Verdict verdict) {
    const auto same = [&](const FailureCount& f) { return f.Verdict == verdict; };
    auto at = std::find_if(RecentFailures.begin(), RecentFailures.end(), same);
    if (at == RecentFailures.end()) at = RecentFailures.insert(RecentFailures.end(), {verdict, 0});
    ++at->Count;
}

void ArchiveCycle::ReportProgress() {
    if (!ArchiveRunning()) return;
    Facts.ElapsedMs = View.NowMs() - DownloadStart;
    Facts.NowMinute = View.LocalMinuteNow();
    if (const std::optional<int> code = View.ArchivePeriodCode()) {
        Facts.PeriodMinutes = ArchivePeriodMinutes(*code);
        Facts.NotRecording = *code == 0;
    }
    DownloadProgress progress;
    progress.Running = true;
    progress.RecordsRead = Facts.RecordsRead;
    progress.File = ArchiveFileNumber;
    progress.Update = AppendMode;
    progress.NewRecords = Facts.NewRecords;
    if (Facts.ElapsedMs > 0)
        progress.RecordsPerSecond = 1000.0 * Facts.RecordsRead / static_cast<double>(Facts.ElapsedMs);
    progress.Estimate = EstimateProgress(Facts);
    progress.NowMinute = Facts.NowMinute;
    for (const FailureCount& f : RecentFailures)
        progress.Failures += (progress.Failures.empty() ? "" : ", ") + std::to_string(f.Count) + " × " +
                             (f.Verdict.status == modbus::Status::Timeout
                                  ? std::string(kReplyTimeoutText)
                                  : modbus::ResultText(modbus::Kind::ReadFileRecord, f.Verdict));
    View.ShowProgress(progress);
}

} // namespace core

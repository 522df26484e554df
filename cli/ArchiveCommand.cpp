// vqt540 archive: the window's archive download into a new or an updated
// export file, unattended.
#include "cli/CommandView.h"
#include "cli/Commands.h"
#include "cli/Loop.h"
#include "cli/Platform.h"
#include "cli/Say.h"

#include "core/ArchiveCycle.h"
#include "core/Progress.h"
#include "modbus/Link.h"
#include "modbus/SerialPort.h"
#include "platform/FileIo.h"

#include <iostream>

namespace cli {

namespace {

constexpr auto kProgressEvery = std::chrono::milliseconds(250);

class DownloadView final : public CommandView<core::ArchiveView> {
public:
    DownloadView(const CommonOptions& common, const ArchiveOptions& options, Loop& loop)
        : CommandView(common, loop, options.PeriodMs), Terminal(StderrIsTerminal()) {}

    bool WriteFailed = false;

    void ShowError(const std::string& text) override { Say(text); }
    // Only a user's stop asks, and this program stops with Stop().
    bool Ask(const std::string&) override { return false; }
    void ShowInformation(const std::string& text) override {
        if (Terminal) Say(text);
    }
    std::string ChooseOtherFile(const std::string& error) override {
        // Nobody to choose another file: the error is the answer.
        WriteFailed = true;
        Say(error);
        return {};
    }

    // Progress for a person watching; a cron job's stderr gets none of it.
    void ShowProgress(const core::DownloadProgress& p) override {
        if (!Terminal) return;
        if (!p.Running) {
            if (Shown) std::cerr << '\n';
            Shown = false;
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (Shown && now - LastShown < kProgressEvery) return;
        LastShown = now;
        Shown = true;
        std::cerr << "\r\033[Kvqt540: " << ProgressLine(p) << std::flush;
    }

    int64_t LocalMinuteNow() override {
        const LocalTimestamp t = LocalTimeNow();
        return core::CivilMinute(t.Year, t.Month, t.Day, t.Hour, t.Minute);
    }

private:
    const bool Terminal;
    bool Shown = false;
    std::chrono::steady_clock::time_point LastShown;
};

enum class End { Complete, GaveUp, Interrupted };

} // namespace

std::string ProgressLine(const core::DownloadProgress& p) {
    const core::ProgressEstimate& e = p.Estimate;
    std::string line = std::to_string(p.RecordsRead) + " records";
    if (e.RecordsLeft) line += " of about " + std::to_string(p.RecordsRead + *e.RecordsLeft);
    line += " (file " + std::to_string(p.File) + " of 4";
    if (p.RecordsPerSecond > 0)
        line += ", " + std::to_string(static_cast<int>(p.RecordsPerSecond + 0.5)) + "/s";
    line += ")";
    if (p.Update) {
        line += ", " + std::to_string(p.NewRecords);
        if (e.NewExpected) line += " of about " + std::to_string(*e.NewExpected);
        line += " new";
    }
    if (e.MsLeft)
        line += ", about " + core::DurationText(*e.MsLeft) + " left, ends about " +
                core::ClockText(p.NowMinute + (*e.MsLeft + 59999) / 60000);
    return line;
}

namespace {

// Why the record asked for failed since the last good reply, in the tool's
// words: "14 time-outs, 3 bad CRC".
std::string FailureReasons(const std::vector<core::ArchiveCycle::FailureCount>& failures) {
    std::string text;
    for (const core::ArchiveCycle::FailureCount& f : failures) {
        const modbus::Verdict& v = f.Verdict;
        std::string what;
        switch (v.status) {
        case modbus::Status::Timeout:
        case modbus::Status::NoReply:
            what = "time-out";
            break;
        case modbus::Status::BadCrc:
            what = "bad CRC";
            break;
        case modbus::Status::BadReply:
        case modbus::Status::TooShort:
        case modbus::Status::BadLength:
        case modbus::Status::BadByteCount:
            what = "wrong length";
            break;
        case modbus::Status::ForeignAddress:
            what = "reply from another address (" + std::to_string(v.detail) + ")";
            break;
        case modbus::Status::ForeignFunction:
            what = "reply to another function";
            break;
        case modbus::Status::Exception:
            what = "exception " + std::to_string(v.detail);
            break;
        case modbus::Status::Success:
            continue;
        }
        text += (text.empty() ? "" : ", ") + std::to_string(f.Count) + " × " + what;
    }
    return text;
}

End Drive(core::ArchiveCycle& cycle, const core::LinkState& link, Loop& loop, const ArchiveOptions& options,
          bool keep) {
    int64_t good = link.GoodReplies;
    int64_t badBefore = link.BadReplies; // failures before the last good reply
    while (cycle.ArchiveRunning()) {
        if (loop.WaitUntil(cycle.NextWakeMs()) == Loop::Event::Stop) {
            cycle.Stop(keep);
            return End::Interrupted;
        }
        cycle.Wake();
        if (!cycle.ArchiveRunning()) break;
        if (link.GoodReplies != good) {
            good = link.GoodReplies;
            badBefore = link.BadReplies;
        }
        if (link.BadReplies - badBefore >= options.Retries) {
            Say("record " + std::to_string(cycle.recordNumber() / core::kRecordStep) + " of file " +
                std::to_string(cycle.fileNumber()) + ": no valid reply in " +
                std::to_string(options.Retries) + " attempts (" + FailureReasons(cycle.recentFailures()) +
                "); giving up");
            // A port that cannot be opened any more counts as time-outs: say
            // what it is.
            if (!cycle.portTrouble().empty()) Say(cycle.portTrouble());
            cycle.Stop(keep);
            return End::GaveUp;
        }
    }
    return End::Complete;
}

} // namespace

int RunArchive(const CommonOptions& common, const ArchiveOptions& options, Loop& loop, modbus::Link& meters) {
    const bool update = !options.UpdatePath.empty();
    const std::string& path = update ? options.UpdatePath : options.NewPath;
    if (const int code = CheckPort(common.Port); code != kExitOk) return code;
    if (!update && platform::FileExists(path)) {
        // The window asks before it empties a file; here nobody can answer.
        Say(path + " exists; remove it first, or bring it up to date with --update");
        return kExitFile;
    }

    int code = kExitOk;
    {
        core::LinkState link;
        DownloadView view(common, options, loop);
        core::ArchiveCycle cycle(link, meters.Factory(), view);
        const platform::Outcome opened =
            update ? cycle.OpenExportFileForUpdate(path) : cycle.CreateExportFile(path);
        if (!opened) {
            Say(opened.error);
            code = kExitFile;
        } else {
            // A partial update is never written: its last date would pass over
            // records not read yet, and the next update would skip them.
            const bool keep = options.KeepPartial && !update;
            const End end = Drive(cycle, link, loop, options, keep);
            if (end != End::Complete)
                Say(path + (update ? " left unchanged"
                            : keep ? ": the records read so far saved"
                                   : " not written"));
            if (cycle.impossibleRecords() > 0)
                Say("warning: " + std::to_string(cycle.impossibleRecords()) +
                    " records with a date or time that cannot be (erased or damaged) left out");
            if (view.WriteFailed)
                code = kExitFile;
            else if (end == End::Interrupted)
                code = kExitInterrupted;
            else if (end == End::GaveUp)
                code = kExitNoAnswer;
        }
    }
    return code;
}

} // namespace cli

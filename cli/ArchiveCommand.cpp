// vqt540 archive: the window's archive download into a new or an updated
// export file, unattended.
#include "cli/Commands.h"
#include "cli/Platform.h"
#include "cli/TimerLoop.h"

#include "core/ArchiveCycle.h"
#include "core/Progress.h"
#include "modbus/Modbus.h"
#include "modbus/Worker.h"
#include "platform/FileIo.h"

#include <iostream>

namespace cli {

namespace {

using platform::Reading;

// How often the download looks at a request in flight for its time-out; a
// finished request wakes the loop at once.
constexpr int kTickMs = 5;
constexpr auto kProgressEvery = std::chrono::milliseconds(250);

class DownloadView final : public core::ArchiveView {
public:
    DownloadView(const CommonOptions& common, const ArchiveOptions& options, TimerLoop& loop)
        : Common(common), Options(options), Separator(common.Separator()), Loop(loop),
          Terminal(StderrIsTerminal()) {}

    bool WriteFailed = false;

    void StartTimer(TimerId timer, int intervalMs) override { Loop.Start(timer, intervalMs); }
    void StopTimer(TimerId timer) override { Loop.Stop(timer); }
    void ShowError(const std::string& text) override { std::cerr << "vqt540: " << text << '\n'; }
    Reading<modbus::LinkSettings> ReadLink() override { return {Common.Link(), {}}; }
    Reading<int32_t> ReadPeriod() override { return {Options.PeriodMs, {}}; }
    std::string DecimalSeparator() override { return Separator; }

    int64_t NowMs() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    Reading<int32_t> ReadTimeout() override { return {Common.TimeoutMs, {}}; }
    // Only a user's stop asks, and this program stops with Stop().
    bool Ask(const std::string&) override { return false; }
    void ShowInformation(const std::string& text) override {
        if (Terminal) std::cerr << "vqt540: " << text << '\n';
    }
    std::string ChooseOtherFile(const std::string& error) override {
        // Nobody to choose another file: the error is the answer.
        WriteFailed = true;
        std::cerr << "vqt540: " << error << '\n';
        return {};
    }
    std::function<void()> CompletionNotifier() override {
        return [wake = Loop.Wake()] { wake->Notify(); };
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
    const CommonOptions& Common;
    const ArchiveOptions& Options;
    const std::string Separator;
    TimerLoop& Loop;
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

End Drive(core::ArchiveCycle& cycle, const core::LinkState& link, TimerLoop& loop,
          const ArchiveOptions& options, bool keep) {
    int64_t good = link.GoodReplies;
    int64_t badBefore = link.BadReplies; // failures before the last good reply
    while (cycle.ArchiveRunning()) {
        switch (loop.Next()) {
        case TimerLoop::Event::Stop:
            cycle.Stop(keep);
            return End::Interrupted;
        case TimerLoop::Event::Woken:
        case TimerLoop::Event::Timer3:
            cycle.Tick();
            break;
        case TimerLoop::Event::Timer4:
            cycle.PacingEnd();
            break;
        case TimerLoop::Event::Timer1:
        case TimerLoop::Event::Timer2:
            break;
        }
        if (!cycle.ArchiveRunning()) break;
        if (link.GoodReplies != good) {
            good = link.GoodReplies;
            badBefore = link.BadReplies;
        }
        if (link.BadReplies - badBefore >= options.Retries) {
            std::cerr << "vqt540: record " << cycle.ArchiveRecordNumber / core::kRecordStep << " of file "
                      << int{cycle.ArchiveFileNumber} << ": no valid reply in " << options.Retries
                      << " attempts; giving up\n";
            cycle.Stop(keep);
            return End::GaveUp;
        }
    }
    return End::Complete;
}

} // namespace

int RunArchive(const CommonOptions& common, const ArchiveOptions& options) {
    const bool update = !options.UpdatePath.empty();
    const std::string& path = update ? options.UpdatePath : options.NewPath;
    if (const int code = CheckPort(common.Port); code != kExitOk) return code;
    if (!update && platform::FileExists(path)) {
        // The window asks before it empties a file; here nobody can answer.
        std::cerr << "vqt540: " << path << " exists; remove it first, or bring it up to date with --update\n";
        return kExitFile;
    }

    TimerLoop loop;
    loop.SetInterval(TimerId::Timer3, kTickMs);
    const SignalStop signals(loop.Wake());
    int code = kExitOk;
    {
        core::LinkState link;
        DownloadView view(common, options, loop);
        core::ArchiveCycle cycle(link, modbus::StartWorker, view);
        const platform::Outcome opened =
            update ? cycle.OpenExportFileForUpdate(path) : cycle.CreateExportFile(path);
        if (!opened) {
            std::cerr << "vqt540: " << opened.error << '\n';
            code = kExitFile;
        } else {
            // A partial update is never written: its last date would pass over
            // records not read yet, and the next update would skip them.
            const bool keep = options.KeepPartial && !update;
            const End end = Drive(cycle, link, loop, options, keep);
            if (end != End::Complete)
                std::cerr << "vqt540: " << path
                          << (update ? " left unchanged"
                              : keep ? ": the records read so far saved"
                                     : " deleted")
                          << '\n';
            if (view.WriteFailed)
                code = kExitFile;
            else if (end == End::Interrupted)
                code = kExitInterrupted;
            else if (end == End::GaveUp)
                code = kExitNoAnswer;
        }
    }
    modbus::ModbusRead::WaitForAllWorkers(std::chrono::milliseconds(2 * common.TimeoutMs + 2000));
    return code;
}

} // namespace cli

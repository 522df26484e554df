// vqt540 settings save|diff|apply FILE: a meter's settings into a file, the
// meter against a file, and a meter made like a file, through the polling
// cycle's write slots as the window writes them.
#include "cli/CommandView.h"
#include "cli/Commands.h"
#include "cli/Loop.h"
#include "cli/Say.h"

#include "core/PollCycle.h"
#include "core/SettingsApply.h"
#include "core/SettingsFile.h"
#include "model/Tables.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace cli {

namespace {

using Outcome = core::SettingRow::Outcome;
using platform::OrReason;

// The polling cycle's view: the first good read, or the apply fed with
// every read and failure until it is done.
class SettingsView final : public CommandView<core::PollView> {
public:
    SettingsView(const CommonOptions& common, Loop& loop) : CommandView(common, loop, 0) {}

    core::SettingsApply* Apply = nullptr;
    std::optional<model::MeterReading> Meter;
    std::string Failure;

    bool Finished() const { return Apply ? Apply->Finished() : Meter || !Failure.empty(); }

    void ShowParameters(const model::DeviceView&, const model::MeterReading& reading,
                        const model::ParameterBlock&) override {
        if (!Meter) Meter = reading;
        if (Apply) Apply->Read(reading);
    }
    void TransactionFailed(const std::string& result) override {
        if (Apply)
            Apply->Failed(result);
        else
            Failure = result;
    }
    void ShowPortProblem(const std::string& problem) override {
        if (problem.empty()) return;
        Failure = problem;
        if (Apply) Apply->Stop(problem);
    }
    void ShowError(const std::string& text) override {
        Failure = text;
        if (Apply) Apply->Stop(text);
    }
};

// Runs the polling cycle until the view has what it waits for; false when stopped.
bool Poll(core::PollCycle& poll, const SettingsView& view, Loop& loop) {
    poll.ConnectButton();
    bool stopped = false;
    while (poll.Connected() && !view.Finished()) {
        if ((stopped = loop.WaitUntil(poll.NextWakeMs()) == Loop::Event::Stop)) break;
        poll.Wake();
    }
    if (poll.Connected()) poll.Disconnect(false);
    return !stopped;
}

// Written beside and renamed over: a failed write leaves an older file whole.
bool WriteFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) std::filesystem::remove(temporary, error);
    return !error;
}

OrReason<core::SettingsFile> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) return OrReason<core::SettingsFile>::Fail("cannot read " + path);
    OrReason<core::SettingsFile> file = core::ReadSettingsJson(text.str());
    if (!file) file.error = path + ": " + file.error;
    return file;
}

int Save(const CommonOptions& common, const SettingsOptions& options, const model::MeterReading& meter) {
    const core::SettingsFile file =
        core::FileFromReading(meter, common.Address, common.Port, IsoLocalTimeNow());
    const std::string sep = common.Separator();
    if (!WriteFile(options.Path, core::SettingsJson(file, sep))) {
        Say("cannot write " + options.Path);
        return kExitFile;
    }
    if (!options.RecordPath.empty() && !WriteFile(options.RecordPath, core::CommissioningRecord(file, sep))) {
        Say("cannot write " + options.RecordPath);
        return kExitFile;
    }
    std::cout << "saved the settings of the meter at address " << common.Address << " (DN "
              << model::DnText(meter.DnIndex) << ", " << meter.Version << ") to " << options.Path << '\n';
    return kExitOk;
}

// The rows under a heading per outcome, in the order of the device page.
void PrintOutcomes(const core::SettingsPlan& plan, std::string_view sep) {
    const std::pair<Outcome, const char*> groups[] = {
        {Outcome::Written, "written"},        {Outcome::Mapped, "written, the meter set its DN's own value"},
        {Outcome::ToWrite, "would write"},    {Outcome::AlreadyRight, "already right"},
        {Outcome::Refused, "refused"},        {Outcome::Changed, "not taken: the meter shows another value"},
        {Outcome::NotWritten, "not written"}, {Outcome::LeftAlone, "left alone"}};
    for (const auto& [outcome, heading] : groups) {
        bool first = true;
        for (const core::SettingRow& row : plan.Rows) {
            if (row.State != outcome) continue;
            if (first) std::cout << heading << ":\n";
            first = false;
            std::cout << "  " << core::OutcomeText(plan, row, sep) << '\n';
        }
    }
}

int Apply(const core::SettingsApply& apply, std::string_view sep) {
    const core::SettingsPlan& plan = apply.Plan();
    PrintOutcomes(plan, sep);
    if (!apply.Stopped().empty()) {
        std::string before;
        for (const core::SettingRow& row : plan.Rows)
            if (row.State == Outcome::Written || row.State == Outcome::Mapped ||
                row.State == Outcome::Changed)
                before += (before.empty() ? "" : ", ") + std::string(core::SettingLabel(row.Which));
        std::cout << "stopped: " << apply.Stopped()
                  << "\nwritten before the stop: " << (before.empty() ? "nothing" : before) << '\n';
    }
    return apply.NotTaken().empty() && apply.Stopped().empty() ? kExitOk : kExitNoAnswer;
}

} // namespace

int RunSettings(const CommonOptions& common, const SettingsOptions& options, Loop& loop,
                modbus::Link& meters) {
    std::optional<core::SettingsFile> file;
    if (options.Action != "save") {
        OrReason<core::SettingsFile> read = ReadFile(options.Path);
        if (!read) {
            Say(read.error);
            return kExitFile;
        }
        file = *read;
    }
    if (const int code = CheckPort(common.Port); code != kExitOk) return code;

    SettingsView view(common, loop);
    core::LinkState link;
    core::PollCycle poll(link, meters.Factory(), view);
    std::optional<core::SettingsApply> apply;
    if (file) {
        // diff is an apply that writes nothing.
        apply.emplace(poll, *file, options.Action == "diff" || options.DryRun);
        view.Apply = &*apply;
    }
    if (!Poll(poll, view, loop)) return kExitInterrupted;
    const std::string sep = common.Separator();
    if (!file) {
        if (!view.Meter) Say(view.Failure);
        return view.Meter ? Save(common, options, *view.Meter) : kExitNoAnswer;
    }
    if (!view.Meter) {
        Say(view.Failure.empty() ? apply->Stopped() : view.Failure);
        return kExitNoAnswer;
    }
    if (options.Action == "diff") {
        for (const core::SettingRow& row : apply->Plan().Rows)
            std::cout << (row.State == Outcome::ToWrite ? "* " : "  ")
                      << core::DifferenceLine(apply->Plan(), row, sep) << '\n';
        return kExitOk;
    }
    const int code = Apply(*apply, sep);
    std::cout.flush();
    return std::cout ? code : kExitFile;
}

} // namespace cli

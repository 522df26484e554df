// vqt540 watch: the window's polling cycle, one table line per read.
#include "cli/CommandView.h"
#include "cli/Commands.h"
#include "cli/Loop.h"
#include "cli/Say.h"
#include "cli/Table.h"

#include "core/PollCycle.h"
#include "modbus/Link.h"
#include "modbus/SerialPort.h"
#include "model/Cp1250.h"
#include "model/Decode.h"
#include "model/Tables.h"
#include "platform/FileIo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

namespace cli {

namespace {

using core::LinkState;
using core::PollCycle;

constexpr std::string_view kHeader = "Czas;Przepływ chwilowy;Jednostka przepływu;Licznik w przód L+;"
                                     "Licznik w tył L-;Jednostka liczników;Alarmy;Stan";
constexpr std::string_view kGood = "OK";

class WatchView final : public CommandView<core::PollView> {
public:
    WatchView(const CommonOptions& common, const WatchOptions& options, Loop& loop, Table& table)
        : CommandView(common, loop, options.IntervalMs), Options(options), Lines(table) {}

    int Reads = 0;
    int Failed = 0;
    std::string WriteError;
    bool Refused = false;

    bool Finished() const { return !WriteError.empty() || (Options.Count > 0 && Reads >= Options.Count); }

    void ShowParameters(const model::DeviceView& shown, const model::MeterReading& reading,
                        const model::ParameterBlock&) override {
        // In the unit the numbers are in: for the flow code without a unit
        // the last known one, as the window keeps it.
        const model::ReadingInUnits u = model::InUnits(reading, shown.Indexes.FlowUnitIndex);
        std::string alarms;
        for (const std::string& alarm : u.Alarms) alarms += (alarms.empty() ? "" : " + ") + alarm;
        Emit({IsoLocalTimeNow(), u.FlowText(Separator), "[" + u.FlowUnit + "]", u.ForwardText(Separator),
              u.ReverseText(Separator), "[" + u.TotaliserUnit + "]", alarms, std::string(kGood)});
    }

    void TransactionFailed(const std::string& status) override {
        const std::string time = IsoLocalTimeNow();
        ++Failed;
        Say(time + ": " + status + " (failed reads: " + std::to_string(Failed) + " of " +
            std::to_string(Reads + 1) + ")");
        Emit({time, "", "", "", "", "", "", status});
    }

    // Once when the port starts failing and again when that changes.
    void ShowPortProblem(const std::string& problem) override {
        Say(IsoLocalTimeNow() + ": " + (problem.empty() ? std::string("the port opens again") : problem));
    }

    void ShowError(const std::string& text) override {
        Refused = true;
        Say(text);
    }

private:
    void Emit(const std::vector<std::string>& fields) {
        ++Reads;
        if (WriteError.empty()) WriteError = Lines.WriteRow(fields);
    }

    const WatchOptions& Options;
    Table& Lines;
};

} // namespace

int RunWatch(const CommonOptions& common, const WatchOptions& options, Loop& loop, modbus::Link& meters) {
    if (const int code = CheckPort(common.Port); code != kExitOk) return code;
    Table table;
    if (const std::string error = table.Open(options.CsvPath, std::string(kHeader)); !error.empty()) {
        Say(error);
        return kExitFile;
    }

    int code = kExitOk;
    {
        LinkState link;
        WatchView view(common, options, loop, table);
        PollCycle poll(link, meters.Factory(), view);
        poll.ConnectButton();
        while (poll.Connected() && !view.Finished()) {
            if (loop.WaitUntil(poll.NextWakeMs()) == Loop::Event::Stop) break;
            poll.Wake();
        }
        // A read in flight is given up; the worker ends by itself.
        if (poll.Connected()) poll.Disconnect(false);
        table.Close();
        if (view.Failed > 0)
            Say(std::to_string(view.Reads) + " reads, " + std::to_string(view.Failed) + " failed");
        if (view.Refused)
            code = kExitInternal;
        else if (!view.WriteError.empty()) {
            Say(view.WriteError);
            code = kExitFile;
        } else if (view.Failed > 0)
            code = kExitNoAnswer;
    }
    return code;
}

} // namespace cli

// vqt540 watch over several meters on one line (or in another format than
// the table): the meters read in turn, one line per reading with its address.
#include "cli/CommandView.h"
#include "cli/Commands.h"
#include "cli/Loop.h"
#include "cli/MeterPeriodOption.h"
#include "cli/Platform.h"
#include "cli/ReadingJson.h"
#include "cli/Say.h"
#include "cli/Table.h"

#include "core/LineCycle.h"
#include "modbus/Link.h"
#include "publish/Payloads.h"

#include <chrono>
#include <set>
#include <vector>

namespace cli {

namespace {

constexpr std::string_view kHeader = "Czas;Adres;Przepływ chwilowy;Jednostka przepływu;Licznik w przód L+;"
                                     "Licznik w tył L-;Jednostka liczników;Alarmy;Stan";

int64_t UnixNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

class LineWatchView final : public OptionsView<core::LineView> {
public:
    LineWatchView(const CommonOptions& common, const WatchOptions& options, Loop& loop, Table& table)
        : OptionsView(common, loop), Options(options), Lines(table) {}

    int64_t Reads = 0;
    int64_t Failed = 0;
    std::string WriteError;

    bool Finished() const { return !WriteError.empty() || (Options.Count > 0 && Reads >= Options.Count); }

    void ShowReading(uint8_t address, const model::MeterReading&, const model::ReadingInUnits& u) override {
        ++Reads;
        // The same documents and lines as the broker and InfluxDB get.
        const publish::MeterId meter{Common.Port, address};
        if (Options.Format == "influx") return Emit(publish::InfluxLine(meter, UnixNs(), u));
        if (Options.Format == "json") return Emit(publish::ReadingJson(meter, UnixNs() / 1000000, u));
        const std::string time = IsoLocalTimeNow();
        std::string alarms;
        for (const std::string& alarm : u.Alarms) alarms += (alarms.empty() ? "" : " + ") + alarm;
        Row({time, std::to_string(address), u.FlowText(Separator), "[" + u.FlowUnit + "]",
             u.ForwardText(Separator), u.ReverseText(Separator), "[" + u.TotaliserUnit + "]", alarms, "OK"});
    }

    void ReadFailed(uint8_t address, const std::string& why) override {
        ++Reads;
        ++Failed;
        const std::string time = IsoLocalTimeNow();
        Say(time + ": meter " + std::to_string(address) + ": " + why);
        if (Options.Format == "influx") return; // a point is a reading; the failure is on stderr
        if (Options.Format == "json")
            return Emit(nlohmann::ordered_json{
                {"time", time}, {"port", Common.Port}, {"address", address}, {"ok", false}, {"status", why}}
                            .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
        Row({time, std::to_string(address), "", "", "", "", "", "", why});
    }

    void Availability(uint8_t address, bool answering) override {
        // A meter's first good read is no news; its return after silence is.
        if (answering && !Silent.erase(address)) return;
        if (!answering) Silent.insert(address);
        Say("meter " + std::to_string(address) +
            (answering ? " answers again" : " does not answer; asked less often until it does"));
    }
    void PortState(const std::string& why) override {
        Say(why.empty() ? Common.Port + " can be used again; reading goes on" : why);
    }
    void Overran(int64_t ms) override {
        Say("a round took " + std::to_string(ms) + " ms, longer than --interval " +
            std::to_string(Options.IntervalMs) + " ms");
    }

private:
    void Row(const std::vector<std::string>& fields) {
        if (WriteError.empty()) WriteError = Lines.WriteRow(fields);
    }
    void Emit(const std::string& line) {
        if (WriteError.empty()) WriteError = Lines.Write(line);
    }

    std::set<uint8_t> Silent; // meters told as not answering
    const WatchOptions& Options;
    Table& Lines;
};

} // namespace

int RunLineWatch(const CommonOptions& common, const WatchOptions& options, Loop& loop, modbus::Link& meters) {
    const auto periods = ReadMeterPeriods(options.Periods, common.Addresses);
    if (!periods) {
        Say(periods.error);
        return kExitUsage;
    }
    if (const int code = CheckPort(common.Port); code != kExitOk) return code;
    Table table;
    const std::string header = options.Format == "table" ? std::string(kHeader) : std::string();
    if (const std::string error = table.Open(options.CsvPath, header); !error.empty()) {
        Say(error);
        return kExitFile;
    }
    int code = kExitOk;
    {
        LineWatchView view(common, options, loop, table);
        core::LineCycle line(meters.Factory(), view, common.Link(), common.Addresses, options.IntervalMs);
        line.SetPeriods(core::MeterPeriods(*periods));
        line.Start();
        while (!view.Finished())
            if (loop.WaitUntil(line.NextWakeMs()) == Loop::Event::Stop)
                break;
            else
                line.Wake();
        line.Stop();
        table.Close();
        if (view.Failed > 0)
            Say(std::to_string(view.Reads) + " reads, " + std::to_string(view.Failed) + " failed");
        if (!view.WriteError.empty()) {
            Say(view.WriteError);
            code = kExitFile;
        } else if (view.Failed > 0) {
            code = kExitNoAnswer;
        }
    }
    return code;
}

} // namespace cli

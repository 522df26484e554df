// vqt540 read: one parameter read, shown as the device page shows it.
#include "cli/CommandView.h"
#include "cli/Commands.h"
#include "cli/Loop.h"
#include "cli/Say.h"

#include "cli/ReadingJson.h"
#include "core/PollCycle.h"
#include "modbus/Link.h"
#include "model/Decode.h"
#include "model/DevicePage.h"
#include "model/ParameterBlock.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <iostream>
#include <optional>
#include <vector>

namespace cli {

namespace {

struct Row {
    std::string label;
    std::string value;
    std::string unit;
};

// The device page's rows, top to bottom, with the window's labels.
std::vector<Row> ShownRows(const model::DeviceView& v) {
    std::vector<Row> rows;
    for (const model::DeviceRow& row : model::kDeviceRows)
        rows.push_back({std::string(row.Label), row.Value(v), row.Unit ? row.Unit(v) : std::string()});
    return rows;
}

size_t Characters(const std::string& utf8) {
    size_t n = 0;
    for (const char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0u) != 0x80u;
    return n;
}

void PrintText(const std::vector<Row>& rows, const std::vector<std::string>& alarms) {
    size_t width = 0;
    for (const Row& r : rows) width = std::max(width, Characters(r.label));
    for (const Row& r : rows) {
        std::string line = r.label + std::string(width + 2 - Characters(r.label), ' ') + r.value;
        if (!r.unit.empty()) line += ' ' + r.unit;
        std::cout << line << '\n';
    }
    std::cout << model::label::Alarms << ':' << (alarms.empty() ? " -" : "") << '\n';
    for (const std::string& alarm : alarms) std::cout << "  " << alarm << '\n';
}

void PrintJson(const CommonOptions& common, const model::ParameterBlock& block, const model::MeterReading& m,
               uint8_t flowUnit, const std::vector<Row>& rows, const std::vector<std::string>& alarms) {
    nlohmann::ordered_json j;
    j["port"] = common.Port;
    j["address"] = common.Address;
    nlohmann::ordered_json registers = nlohmann::ordered_json::array();
    for (size_t n = 0; n < 27; ++n) registers.push_back(block[3 + 2 * n] << 8 | block[4 + 2 * n]);
    j["registers"] = registers;

    nlohmann::ordered_json& v = j["values"];
    v["dnIndex"] = m.DnIndex;
    v["dn"] = m.Diameter ? nlohmann::ordered_json(*m.Diameter) : nullptr;
    v["flowUnitCode"] = m.FlowUnitCode;
    v["totaliserUnitCode"] = m.TotaliserUnitCode;
    v["pulseWeightCode"] = m.PulseWeightCode;
    v["alarmBits"] = m.AlarmBits;
    v["cutoffTenthsOfPercent"] = m.CutoffTenthsOfPercent;
    v["timeConstantCode"] = m.TimeConstantCode;
    v["rangeLitresPerHour"] = m.RangeLitresPerHour;
    v["alarm1LitresPerHour"] = m.Alarm1LitresPerHour;
    v["alarm2LitresPerHour"] = m.Alarm2LitresPerHour;
    v["korK"] = m.KorK;
    v["korC"] = m.KorC;
    v["flowCubicMetresPerHour"] = m.FlowCubicMetresPerHour;
    v["forwardTotaliserTenths"] = m.ForwardTenths;
    v["reverseTotaliserTenths"] = m.ReverseTenths;
    v["archivePeriodCode"] = m.ArchivePeriodCode;
    v["version"] = m.Version;
    j["inUnits"] = InUnitsJson(model::InUnits(m, flowUnit));

    nlohmann::ordered_json shown = nlohmann::ordered_json::array();
    for (const Row& r : rows) shown.push_back({{"label", r.label}, {"value", r.value}, {"unit", r.unit}});
    j["shown"] = shown;
    j["alarms"] = alarms;
    std::cout << j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
}

// One read of the polling cycle, with its reply time-out: the first result
// ends it.
class ReadView final : public CommandView<core::PollView> {
public:
    ReadView(const CommonOptions& common, Loop& loop) : CommandView(common, loop, 0) {}

    std::optional<model::DeviceView> Decoded;
    model::MeterReading Meter;
    model::ParameterBlock Block{};
    std::string Failure;

    bool Finished() const { return Decoded || !Failure.empty(); }

    void ShowParameters(const model::DeviceView& decoded, const model::MeterReading& reading,
                        const model::ParameterBlock& block) override {
        Decoded = decoded;
        Meter = reading;
        Block = block;
    }
    void TransactionFailed(const std::string& result) override { Failure = result; }
    // Why the port cannot be opened says more than the time-out it ends in.
    void ShowPortProblem(const std::string& problem) override {
        if (!problem.empty()) Failure = problem;
    }
    void ShowError(const std::string& text) override { Failure = text; }
};

} // namespace

int RunRead(const CommonOptions& common, const ReadOptions& options, Loop& loop, modbus::Link& meters) {
    if (const int code = CheckPort(common.Port); code != kExitOk) return code;

    ReadView view(common, loop);
    bool stopped = false;
    {
        core::LinkState link;
        core::PollCycle poll(link, meters.Factory(), view);
        poll.ConnectButton();
        while (poll.Connected() && !view.Finished()) {
            if ((stopped = loop.WaitUntil(poll.NextWakeMs()) == Loop::Event::Stop)) break;
            poll.Wake();
        }
        // A read given up at its time-out ends by itself.
        if (poll.Connected()) poll.Disconnect(false);
    }
    // The port is closed before the program ends.

    if (stopped) return kExitInterrupted;
    if (!view.Decoded) {
        Say(view.Failure);
        return kExitNoAnswer;
    }
    const std::vector<Row> rows = ShownRows(*view.Decoded);
    if (options.Json)
        PrintJson(common, view.Block, view.Meter, view.Decoded->Indexes.FlowUnitIndex, rows,
                  view.Decoded->Alarms);
    else
        PrintText(rows, view.Decoded->Alarms);
    std::cout.flush();
    return std::cout ? kExitOk : kExitFile;
}

} // namespace cli

// vqt540 read: one parameter read, shown as the device page shows it.
#include "Commands.h"

#include <Decode.h>
#include <Frames.h>
#include <Modbus.h>
#include <ParameterBlock.h>
#include <Tables.h>
#include <Worker.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <vector>

namespace cli {

namespace {

struct Row {
    std::string label;
    std::string value;
    std::string unit;
};

template <size_t N> std::string Entry(const std::array<std::string_view, N>& table, size_t index) {
    return std::string(model::TableAt(table, index).value_or(std::string_view{}));
}

// The device page's rows, top to bottom, with the window's labels.
std::vector<Row> ShownRows(const model::DeviceView& v) {
    using model::FlowUnitTexts;
    return {
        {"Wersja VQT", v.Edit1, ""},
        {"Średnica DN", v.Edit2.value_or(""), ""},
        {"Zakres pomiarowy [m3/h]", v.ComboBox2Text, ""},
        {"Przepływ chwilowy", v.Edit3, v.ComboBox3Text},
        {"Waga impulsu licznika", v.ComboBox10Text, Entry(model::TotaliserUnitTexts, v.ComboBox11Index)},
        {"Licznik przepływu w przód L+", v.Edit4, v.ComboBox4Text},
        {"Licznik przepływu w tył L-", v.Edit5, v.ComboBox5Text},
        {"Próg odcięcia [%]", v.Edit8.value_or(""), ""},
        {"Stała czasowa [s]", v.ComboBox9Text, ""},
        {"Wspólczynnik KorK", v.MaskEdit2, ""},
        {"Wspólczynnik KorC", v.MaskEdit3, ""},
        {"Okres zapisu danych do archiwum", v.ComboBox8Text, ""},
        {"Wartość przepływu dla Alarmu1", v.MaskEdit4.value_or(""), Entry(FlowUnitTexts, v.ComboBox6Index)},
        {"Wartość przepływu dla Alarmu2", v.MaskEdit5.value_or(""), Entry(FlowUnitTexts, v.ComboBox7Index)},
    };
}

constexpr std::string_view kAlarmsTitle = "Lista aktualnych stanów alarmowych";

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
    std::cout << kAlarmsTitle << ':' << (alarms.empty() ? " -" : "") << '\n';
    for (const std::string& alarm : alarms) std::cout << "  " << alarm << '\n';
}

void PrintJson(const CommonOptions& common, const model::ParameterBlock& block, const std::vector<Row>& rows,
               const std::vector<std::string>& alarms) {
    namespace offset = model::offset;
    nlohmann::ordered_json j;
    j["port"] = common.Port;
    j["address"] = common.Address;
    nlohmann::ordered_json registers = nlohmann::ordered_json::array();
    for (size_t n = 0; n < 27; ++n) registers.push_back(block[3 + 2 * n] << 8 | block[4 + 2 * n]);
    j["registers"] = registers;

    const uint8_t flags = block[offset::Flags];
    const uint8_t dn = block[offset::DnIndex];
    nlohmann::ordered_json& v = j["values"];
    v["dnIndex"] = dn;
    v["dn"] = dn < model::DnTable.size() ? nlohmann::ordered_json(model::DnTable[dn]) : nullptr;
    v["flowUnitCode"] = model::getPrzeplyw(flags);
    v["totaliserUnitCode"] = model::getLicznik(flags);
    v["pulseWeightCode"] = model::getImpuls(flags);
    v["alarmBits"] = block[offset::Alarms];
    v["cutoffTenthsOfPercent"] = block[offset::Cutoff];
    v["timeConstantCode"] = block[offset::TimeConstant];
    v["rangeLitresPerHour"] = model::byteToInteger(block, offset::Range);
    v["alarm1LitresPerHour"] = model::byteToInteger(block, offset::Alarm1);
    v["alarm2LitresPerHour"] = model::byteToInteger(block, offset::Alarm2);
    v["korK"] = model::byteToSingle(block, offset::KorK);
    v["korC"] = model::byteToSingle(block, offset::KorC);
    v["flowCubicMetresPerHour"] = model::byteToSingle(block, offset::Flow);
    v["forwardTotaliserTenths"] = model::byteToInteger(block, offset::ForwardTotaliser);
    v["reverseTotaliserTenths"] = model::byteToInteger(block, offset::ReverseTotaliser);
    v["archivePeriodCode"] = block[offset::ArchivePeriod];
    v["version"] = model::VersionText(block);

    nlohmann::ordered_json shown = nlohmann::ordered_json::array();
    for (const Row& r : rows) shown.push_back({{"label", r.label}, {"value", r.value}, {"unit", r.unit}});
    j["shown"] = shown;
    j["alarms"] = alarms;
    std::cout << j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
}

// Signalled by the worker's thread when the transaction is done.
struct Completion {
    std::mutex Mutex;
    std::condition_variable Done;
    bool Finished = false;
};

} // namespace

int RunRead(const CommonOptions& common, const ReadOptions& options) {
    if (const int code = CheckPort(common.Port); code != kExitOk) return code;
    const std::string separator = common.Separator();

    auto completion = std::make_shared<Completion>();
    modbus::TransactionRequest request;
    request.Link = common.Link();
    request.OnDone = [completion] {
        std::lock_guard lock(completion->Mutex);
        completion->Finished = true;
        completion->Done.notify_all();
    };
    std::unique_ptr<modbus::Transaction> read = modbus::StartWorker(request);
    bool finished = false;
    {
        std::unique_lock lock(completion->Mutex);
        const auto done = [&] { return completion->Finished; };
        finished = completion->Done.wait_for(lock, std::chrono::milliseconds(common.TimeoutMs), done);
        if (!finished) {
            lock.unlock();
            read->SignalTimeout(); // the worker then gives its time-out verdict at once
            lock.lock();
            finished = completion->Done.wait_for(lock, std::chrono::seconds(5), done);
        }
    }
    const std::string result = finished ? read->Result() : "Timeout odpowiedzi z przepływomierza";
    model::ParameterBlock block{};
    if (finished && result == modbus::kReadSuccess) block = model::CopyParameterBlock(read->Reply());
    if (finished) read->ClearDone();
    read->Release();
    read.reset();
    // The port is closed before the program ends.
    modbus::ModbusRead::WaitForAllWorkers(std::chrono::seconds(5));

    if (result != modbus::kReadSuccess) {
        std::cerr << "vqt540: " << result << '\n';
        return kExitNoAnswer;
    }
    const model::DeviceView view = model::DecodeParameterBlock(block, "", {}, {}, separator);
    const std::vector<Row> rows = ShownRows(view);
    if (options.Json)
        PrintJson(common, block, rows, view.ListBox1Lines);
    else
        PrintText(rows, view.ListBox1Lines);
    std::cout.flush();
    return std::cout ? kExitOk : kExitFile;
}

} // namespace cli

// libFuzzer target over everything that reads meter bytes or files: the
// parameter decode, the archive line, the field formatters at any offset, the
// number format, the last line of an export and its report, and the code page conversion. Built with the
// sanitizers, so any read outside a table or a buffer ends the run.
#include "model/Cp1250.h"
#include "model/Decode.h"
#include "model/NumberFormat.h"
#include "model/ParameterBlock.h"
#include "model/Tables.h"

#include "core/Consumption.h"
#include "core/ExportFile.h"
#include "core/RecordLine.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

// Takes bytes off the front of the input; zeros once it runs out.
struct Input {
    const uint8_t* data;
    size_t size;
    uint8_t Byte() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
    template <typename T> T Take() {
        uint8_t buf[sizeof(T)] = {};
        for (auto& b : buf) b = Byte();
        T v;
        std::memcpy(&v, buf, sizeof v);
        return v;
    }
    std::string_view Rest() const { return {reinterpret_cast<const char*>(data), size}; }
};

void Check(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};

    model::ParameterBlock block{};
    for (auto& b : block) b = in.Byte();
    core::ArchiveRecord record{};
    for (auto& b : record) b = in.Byte();

    const uint8_t flags = in.Byte();
    const model::EditingFlags editing{(flags & 1) != 0, (flags & 2) != 0, (flags & 4) != 0};
    model::CachedIndexes cached;
    cached.FlowUnitIndex = in.Byte();
    cached.TotaliserUnitIndex = in.Byte();
    cached.PulseWeightIndex = in.Byte();
    cached.TimeConstantIndex = in.Byte();
    cached.ArchivePeriodIndex = in.Byte();
    const std::string_view sep = (flags & 8) ? "." : ",";

    const model::DeviceView v =
        model::DecodeParameterBlock(block, in.Rest().substr(0, 4), editing, cached, sep);
    Check(v.Diameter.has_value() == v.RangeItems.has_value());
    Check(!v.RangeItems || v.RangeItems->empty() || v.RangeItems->size() == model::kRangeSlots);
    Check(v.Indexes.FlowUnitIndex < model::FlowUnitTexts.size() ||
          v.Indexes.FlowUnitIndex == cached.FlowUnitIndex);
    Check(v.Indexes.TimeConstantIndex < model::TimeConstantTexts.size() ||
          v.Indexes.TimeConstantIndex == cached.TimeConstantIndex);

    const size_t at = in.Byte();
    (void)model::byteToInteger(block, at);
    (void)model::byteToSingle(block, at * 3);
    (void)model::setFlagBytePrzeplyw(cached, in.Take<int8_t>());
    (void)model::setFlagByteLicznik(cached, in.Take<int8_t>());
    (void)model::setFlagByteWaga(cached, in.Take<int8_t>());
    Check(model::RangeList(at).size() == (at < model::kDnCount ? model::kRangeSlots : 0));

    const std::string line = core::BuildRecordLine(record, sep);
    size_t fields = 0;
    for (const char c : line) fields += c == ';';
    Check(fields == 5);
    const size_t offset = in.Byte() % 32;
    (void)core::FormatRecordYear(record, offset);
    (void)core::FormatTwoDigits(record, offset);
    (void)core::FormatRecordFlow(record, offset, sep);
    (void)core::FormatRecordTotaliser(record, offset, sep);
    (void)core::TestBit(record[offset % core::kRecordSize], in.Byte());
    (void)core::RecordTimeField(in.Rest());

    const int decimals = in.Byte() % 6;
    const int precision = 1 + in.Byte() % 12;
    const auto value = in.Take<double>();
    const std::string text = model::FormatNumber(value, decimals, precision, sep);
    Check(!text.empty() && text.size() < 64);
    const auto num = in.Take<int64_t>();
    const auto den = in.Take<int64_t>();
    Check(!model::FormatRatio(num, den, decimals, precision, sep).empty());

    // An export's last line: a number that leaves room for the next one, and
    // fields that are pieces of the input without a line end or ";".
    const std::string_view rest = in.Rest();
    if (const auto last = core::ReadLastExportLine(rest)) {
        Check(last->LogNumber < INT32_MAX);
        for (const std::string* f : {&last->Date, &last->Time}) {
            Check(f->find_first_of(";\r\n") == std::string::npos);
            Check(f->empty() || rest.find(*f) != std::string_view::npos);
        }
    }

    // An export's report: every record read is taken or left out, and a
    // clock that jumps makes no more rows than the cap allows.
    const core::ExportRead read = core::ReadExport(rest);
    const auto by = static_cast<core::PeriodKind>(flags % 3);
    const core::ConsumptionReport report = core::MakeConsumptionReport(read, by);
    Check(size_t(report.Records + report.Repeated) == read.Samples.size());
    Check(report.Periods.size() <= 2 * (read.Samples.size() + 1) * (core::kMostEmptyPeriods + 1));

    // Every byte that has a character comes back unchanged.
    const std::string back = model::Utf8ToCp1250(model::Cp1250ToUtf8(rest));
    Check(back.size() == rest.size());
    for (size_t i = 0; i < rest.size(); ++i) Check(back[i] == rest[i] || back[i] == '?');
    (void)model::Utf8ToCp1250(rest);
    return 0;
}

#include "model/MeterReading.h"

#include "model/NumberFormat.h"
#include "model/Tables.h"
#include "model/Units.h"

namespace model {

MeterReading ReadMeter(const ParameterBlock& block) {
    MeterReading r;
    r.DnIndex = block[offset::DnIndex];
    if (const auto dn = TableAt(DnTable, r.DnIndex)) r.Diameter = *dn;
    r.RangeLitresPerHour = byteToInteger(block, offset::Range);
    r.FlowCubicMetresPerHour = byteToSingle(block, offset::Flow);
    r.ForwardTenths = byteToInteger(block, offset::ForwardTotaliser);
    r.ReverseTenths = byteToInteger(block, offset::ReverseTotaliser);
    const uint8_t flags = block[offset::Flags];
    r.FlowUnitCode = getPrzeplyw(flags);
    r.TotaliserUnitCode = getLicznik(flags);
    r.PulseWeightCode = getImpuls(flags);
    r.AlarmBits = block[offset::Alarms];
    r.Alarm1LitresPerHour = byteToInteger(block, offset::Alarm1);
    r.Alarm2LitresPerHour = byteToInteger(block, offset::Alarm2);
    r.CutoffTenthsOfPercent = block[offset::Cutoff];
    r.TimeConstantCode = block[offset::TimeConstant];
    r.KorK = byteToSingle(block, offset::KorK);
    r.KorC = byteToSingle(block, offset::KorC);
    r.ArchivePeriodCode = block[offset::ArchivePeriod];
    r.Version = VersionText(block);
    return r;
}

namespace {
constexpr int kTextPrecision = 10;

// "[m3/h]" without its brackets.
std::string Bare(std::string_view unit) {
    return std::string(unit.substr(1, unit.size() - 2));
}
} // namespace

std::string ReadingInUnits::FlowText(std::string_view sep) const {
    return FormatNumber(Flow, kFlowDecimals[FlowUnitCode], kTextPrecision, sep);
}
std::string ReadingInUnits::ForwardText(std::string_view sep) const {
    return FormatNumber(Forward, 1, kTextPrecision, sep);
}
std::string ReadingInUnits::ReverseText(std::string_view sep) const {
    return FormatNumber(Reverse, 1, kTextPrecision, sep);
}

ReadingInUnits InUnits(const MeterReading& r, uint8_t flowUnitCode) {
    ReadingInUnits u;
    const uint8_t unit = flowUnitCode < FlowUnitTexts.size() ? flowUnitCode : uint8_t{CubicMetresPerHour};
    u.FlowUnitCode = unit;
    u.FlowUnit = Bare(FlowUnitTexts[unit]);
    u.Flow = FlowInUnit(r.FlowCubicMetresPerHour, unit);
    u.Alarm1 = double(r.Alarm1LitresPerHour) / kLitresPerHourIn[unit];
    u.Alarm2 = double(r.Alarm2LitresPerHour) / kLitresPerHourIn[unit];
    u.TotaliserUnit = Bare(TotaliserUnitTexts[r.TotaliserUnitCode]);
    u.Forward = r.ForwardTenths / 10.0;
    u.Reverse = r.ReverseTenths / 10.0;
    u.RangeCubicMetresPerHour = r.RangeLitresPerHour / 1000.0;
    u.CutoffPercent = r.CutoffTenthsOfPercent / 10.0;
    u.Alarms = AlarmLines(r.AlarmBits);
    return u;
}

} // namespace model

#include "model/Decode.h"

#include "model/NumberFormat.h"
#include "model/Tables.h"
#include "model/Units.h"

namespace model {

namespace {
constexpr int kPrecision = 10;
constexpr int kCutoffPrecision = 4;

// Alarm threshold (l/h on the wire) in the unit of the alarm's list, as an
// exact ratio so that the halves round as the rule says.
std::string Threshold(int32_t litresPerHour, uint8_t unit, std::string_view sep) {
    if (unit == LitresPerHour) return std::to_string(litresPerHour);
    return FormatRatio(litresPerHour, kLitresPerHourIn[unit], kFlowDecimals[unit], kPrecision, sep);
}

// Instantaneous flow (m3/h on the wire) in the flow unit.
std::string Flow(float cubicMetresPerHour, uint8_t unit, std::string_view sep) {
    return FormatNumber(FlowInUnit(cubicMetresPerHour, unit), kFlowDecimals[unit], kPrecision, sep);
}

template <size_t N> std::string TextOrEmpty(const std::array<std::string_view, N>& table, size_t index) {
    return std::string(TableAt(table, index).value_or(std::string_view{}));
}
} // namespace

DeviceView DevicePageTexts(const MeterReading& r, std::string_view shownDiameter, const EditingFlags& editing,
                           const CachedIndexes& cached, std::string_view sep) {
    DeviceView v;
    CachedIndexes& idx = v.Indexes;
    idx = cached;

    std::string dnText = DnText(r.DnIndex);
    if (dnText != shownDiameter) {
        v.Diameter = std::move(dnText);
        v.RangeItems = RangeList(r.DnIndex);
    }

    v.PulseWeight = PulseWeightTexts[r.PulseWeightCode];
    idx.PulseWeightIndex = r.PulseWeightCode;

    v.ForwardTotaliserUnit = TotaliserUnitTexts[r.TotaliserUnitCode];
    v.ReverseTotaliserUnit = v.ForwardTotaliserUnit;
    idx.TotaliserUnitIndex = r.TotaliserUnitCode;
    idx.ReverseTotaliserUnitIndex = r.TotaliserUnitCode;
    v.PulseWeightUnitIndex = r.TotaliserUnitCode;

    // Flow code 3 has no unit: the values stay in the last known unit, and the
    // two alarm lists keep showing it, so that every number next to a unit is
    // right; only the flow unit box shows that the meter reports no unit.
    v.FlowUnit = TextOrEmpty(FlowUnitTexts, r.FlowUnitCode);
    if (r.FlowUnitCode < FlowUnitTexts.size()) idx.FlowUnitIndex = r.FlowUnitCode;
    v.Alarm1UnitIndex = idx.FlowUnitIndex;
    v.Alarm2UnitIndex = idx.FlowUnitIndex;

    v.Alarms = AlarmLines(r.AlarmBits);

    if (!editing.CutoffEditing) v.Cutoff = FormatRatio(r.CutoffTenthsOfPercent, 10, 1, kCutoffPrecision, sep);

    v.TimeConstant = TextOrEmpty(TimeConstantTexts, r.TimeConstantCode);
    if (r.TimeConstantCode < TimeConstantTexts.size()) idx.TimeConstantIndex = r.TimeConstantCode;

    v.Range = FormatRatio(r.RangeLitresPerHour, 1000, 3, kPrecision, sep);

    const uint8_t unit = idx.FlowUnitIndex;
    if (!editing.Alarm1Editing) v.Alarm1 = Threshold(r.Alarm1LitresPerHour, unit, sep);
    if (!editing.Alarm2Editing) v.Alarm2 = Threshold(r.Alarm2LitresPerHour, unit, sep);
    v.Flow = Flow(r.FlowCubicMetresPerHour, unit, sep);

    v.KorK = FormatNumber(r.KorK, 4, kPrecision, sep);
    v.KorC = FormatNumber(r.KorC, 4, kPrecision, sep);

    v.ForwardTotaliser = FormatRatio(r.ForwardTenths, 10, 1, kPrecision, sep);
    v.ReverseTotaliser = FormatRatio(r.ReverseTenths, 10, 1, kPrecision, sep);

    v.ArchivePeriod = TextOrEmpty(ArchivePeriodTexts, r.ArchivePeriodCode);
    if (r.ArchivePeriodCode < ArchivePeriodTexts.size()) idx.ArchivePeriodIndex = r.ArchivePeriodCode;

    v.Version = r.Version;
    return v;
}

DeviceView DecodeParameterBlock(const ParameterBlock& block, std::string_view shownDiameter,
                                const EditingFlags& editing, const CachedIndexes& cached,
                                std::string_view sep) {
    return DevicePageTexts(ReadMeter(block), shownDiameter, editing, cached, sep);
}

} // namespace model

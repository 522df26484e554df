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

DeviceView DevicePageTexts(const MeterReading& r, std::string_view edit2Text, const EditingFlags& editing,
                           const CachedIndexes& cached, std::string_view sep) {
    DeviceView v;
    CachedIndexes& idx = v.Indexes;
    idx = cached;

    std::string dnText = DnText(r.DnIndex);
    if (dnText != edit2Text) {
        v.Edit2 = std::move(dnText);
        v.ComboBox2Items = RangeList(r.DnIndex);
    }

    v.ComboBox10Text = PulseWeightTexts[r.PulseWeightCode];
    idx.PulseWeightIndex = r.PulseWeightCode;

    v.ComboBox4Text = TotaliserUnitTexts[r.TotaliserUnitCode];
    v.ComboBox5Text = v.ComboBox4Text;
    idx.TotaliserUnitIndex = r.TotaliserUnitCode;
    idx.ReverseTotaliserUnitIndex = r.TotaliserUnitCode;
    v.ComboBox11Index = r.TotaliserUnitCode;

    // Flow code 3 has no unit: the values stay in the last known unit, and the
    // two alarm lists keep showing it, so that every number next to a unit is
    // right; only the flow unit box shows that the meter reports no unit.
    v.ComboBox3Text = TextOrEmpty(FlowUnitTexts, r.FlowUnitCode);
    if (r.FlowUnitCode < FlowUnitTexts.size()) idx.FlowUnitIndex = r.FlowUnitCode;
    v.ComboBox6Index = idx.FlowUnitIndex;
    v.ComboBox7Index = idx.FlowUnitIndex;

    v.ListBox1Lines = AlarmLines(r.AlarmBits);

    if (!editing.CutoffEditing) v.Edit8 = FormatRatio(r.CutoffTenthsOfPercent, 10, 1, kCutoffPrecision, sep);

    v.ComboBox9Text = TextOrEmpty(TimeConstantTexts, r.TimeConstantCode);
    if (r.TimeConstantCode < TimeConstantTexts.size()) idx.TimeConstantIndex = r.TimeConstantCode;

    v.ComboBox2Text = FormatRatio(r.RangeLitresPerHour, 1000, 3, kPrecision, sep);

    const uint8_t unit = idx.FlowUnitIndex;
    if (!editing.Alarm1Editing) v.MaskEdit4 = Threshold(r.Alarm1LitresPerHour, unit, sep);
    if (!editing.Alarm2Editing) v.MaskEdit5 = Threshold(r.Alarm2LitresPerHour, unit, sep);
    v.Edit3 = Flow(r.FlowCubicMetresPerHour, unit, sep);

    v.MaskEdit2 = FormatNumber(r.KorK, 4, kPrecision, sep);
    v.MaskEdit3 = FormatNumber(r.KorC, 4, kPrecision, sep);

    v.Edit4 = FormatRatio(r.ForwardTenths, 10, 1, kPrecision, sep);
    v.Edit5 = FormatRatio(r.ReverseTenths, 10, 1, kPrecision, sep);

    v.ComboBox8Text = TextOrEmpty(ArchivePeriodTexts, r.ArchivePeriodCode);
    if (r.ArchivePeriodCode < ArchivePeriodTexts.size()) idx.ArchivePeriodIndex = r.ArchivePeriodCode;

    v.Edit1 = r.Version;
    return v;
}

DeviceView DecodeParameterBlock(const ParameterBlock& block, std::string_view edit2Text,
                                const EditingFlags& editing, const CachedIndexes& cached,
                                std::string_view sep) {
    return DevicePageTexts(ReadMeter(block), edit2Text, editing, cached, sep);
}

} // namespace model

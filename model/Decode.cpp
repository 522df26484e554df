#include "model/Decode.h"

#include "model/NumberFormat.h"
#include "model/Tables.h"
#include "model/Units.h"

namespace model {

namespace {
constexpr int kPrecision = 10;
constexpr int kCutoffPrecision = 4;

// Decimals shown of a flow in each unit.
constexpr int kFlowDecimals[] = {1, 3, 1};

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

DeviceView DecodeParameterBlock(const ParameterBlock& block, std::string_view edit2Text,
                                const EditingFlags& editing, const CachedIndexes& cached,
                                std::string_view sep) {
    DeviceView v;
    CachedIndexes& idx = v.Indexes;
    idx = cached;

    const uint8_t dn = block[offset::DnIndex];
    std::string dnText = DnText(dn);
    if (dnText != edit2Text) {
        v.Edit2 = std::move(dnText);
        v.ComboBox2Items = RangeList(dn);
    }

    const uint8_t flags = block[offset::Flags];
    const uint8_t pulse = getImpuls(flags);
    v.ComboBox10Text = PulseWeightTexts[pulse];
    idx.PulseWeightIndex = pulse;

    const uint8_t totaliser = getLicznik(flags);
    v.ComboBox4Text = TotaliserUnitTexts[totaliser];
    v.ComboBox5Text = v.ComboBox4Text;
    idx.TotaliserUnitIndex = totaliser;
    idx.ReverseTotaliserUnitIndex = totaliser;
    v.ComboBox11Index = totaliser;

    // Flow code 3 has no unit: the values stay in the last known unit, and the
    // two alarm lists keep showing it, so that every number next to a unit is
    // right; only the flow unit box shows that the meter reports no unit.
    const uint8_t flow = getPrzeplyw(flags);
    v.ComboBox3Text = TextOrEmpty(FlowUnitTexts, flow);
    if (flow < FlowUnitTexts.size()) idx.FlowUnitIndex = flow;
    v.ComboBox6Index = idx.FlowUnitIndex;
    v.ComboBox7Index = idx.FlowUnitIndex;

    v.ListBox1Lines = AlarmLines(block[offset::Alarms]);

    if (!editing.CutoffEditing) v.Edit8 = FormatRatio(block[offset::Cutoff], 10, 1, kCutoffPrecision, sep);

    const uint8_t timeConstant = block[offset::TimeConstant];
    v.ComboBox9Text = TextOrEmpty(TimeConstantTexts, timeConstant);
    if (timeConstant < TimeConstantTexts.size()) idx.TimeConstantIndex = timeConstant;

    v.ComboBox2Text = FormatRatio(byteToInteger(block, offset::Range), 1000, 3, kPrecision, sep);

    const uint8_t unit = idx.FlowUnitIndex;
    if (!editing.Alarm1Editing) v.MaskEdit4 = Threshold(byteToInteger(block, offset::Alarm1), unit, sep);
    if (!editing.Alarm2Editing) v.MaskEdit5 = Threshold(byteToInteger(block, offset::Alarm2), unit, sep);
    v.Edit3 = Flow(byteToSingle(block, offset::Flow), unit, sep);

    v.MaskEdit2 = FormatNumber(byteToSingle(block, offset::KorK), 4, kPrecision, sep);
    v.MaskEdit3 = FormatNumber(byteToSingle(block, offset::KorC), 4, kPrecision, sep);

    v.Edit4 = FormatRatio(byteToInteger(block, offset::ForwardTotaliser), 10, 1, kPrecision, sep);
    v.Edit5 = FormatRatio(byteToInteger(block, offset::ReverseTotaliser), 10, 1, kPrecision, sep);

    const uint8_t period = block[offset::ArchivePeriod];
    v.ComboBox8Text = TextOrEmpty(ArchivePeriodTexts, period);
    if (period < ArchivePeriodTexts.size()) idx.ArchivePeriodIndex = period;

    v.Edit1 = VersionText(block);
    return v;
}

} // namespace model

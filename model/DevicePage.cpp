#include "model/DevicePage.h"

#include "model/Tables.h"

namespace model {

namespace {

template <size_t N> std::string Entry(const std::array<std::string_view, N>& table, size_t index) {
    return std::string(TableAt(table, index).value_or(std::string_view{}));
}

} // namespace

const std::array<DeviceRow, 14> kDeviceRows = {{
    {DeviceField::Version, label::Version, [](const DeviceView& v) { return v.Version; }},
    {DeviceField::Diameter, label::Diameter, [](const DeviceView& v) { return v.Diameter.value_or(""); }},
    {DeviceField::Range, label::Range, [](const DeviceView& v) { return v.Range; }},
    {DeviceField::Flow, label::Flow, [](const DeviceView& v) { return v.Flow; },
     [](const DeviceView& v) { return v.FlowUnit; }},
    {DeviceField::PulseWeight, label::PulseWeight, [](const DeviceView& v) { return v.PulseWeight; },
     [](const DeviceView& v) { return Entry(TotaliserUnitTexts, size_t(v.PulseWeightUnitIndex)); }},
    {DeviceField::ForwardTotaliser, label::ForwardTotaliser,
     [](const DeviceView& v) { return v.ForwardTotaliser; },
     [](const DeviceView& v) { return v.ForwardTotaliserUnit; }},
    {DeviceField::ReverseTotaliser, label::ReverseTotaliser,
     [](const DeviceView& v) { return v.ReverseTotaliser; },
     [](const DeviceView& v) { return v.ReverseTotaliserUnit; }},
    {DeviceField::Cutoff, label::Cutoff, [](const DeviceView& v) { return v.Cutoff.value_or(""); }},
    {DeviceField::TimeConstant, label::TimeConstant, [](const DeviceView& v) { return v.TimeConstant; }},
    {DeviceField::KorK, label::KorK, [](const DeviceView& v) { return v.KorK; }},
    {DeviceField::KorC, label::KorC, [](const DeviceView& v) { return v.KorC; }},
    {DeviceField::ArchivePeriod, label::ArchivePeriod, [](const DeviceView& v) { return v.ArchivePeriod; }},
    {DeviceField::Alarm1, label::Alarm1, [](const DeviceView& v) { return v.Alarm1.value_or(""); },
     [](const DeviceView& v) { return Entry(FlowUnitTexts, size_t(v.Alarm1UnitIndex)); }},
    {DeviceField::Alarm2, label::Alarm2, [](const DeviceView& v) { return v.Alarm2.value_or(""); },
     [](const DeviceView& v) { return Entry(FlowUnitTexts, size_t(v.Alarm2UnitIndex)); }},
}};

} // namespace model

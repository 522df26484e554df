#include "core/Editing.h"

#include "model/Tables.h"
#include "model/Units.h"

#include <cmath>

namespace core {

namespace {

void queueLong(model::WriteSlots& slots, uint8_t reg, int32_t value) {
    slots.LongWriteValue = value;
    slots.LongWriteRegister = reg;
    slots.LongWritePending = true;
}

void queueShort(model::WriteSlots& slots, uint8_t reg, uint8_t low) {
    slots.ShortWriteHigh = 0;
    slots.ShortWriteLow = low;
    slots.ShortWriteRegister = reg;
    slots.ShortWritePending = true;
}

const char* const kOutOfRange = "Wartość przekracza zakres liczb całkowitych 32-bitowych.";

} // namespace

std::string_view WriteName(uint8_t firstRegister) {
    switch (firstRegister) {
    case reg::Flags:
        return "jednostki i waga impulsu";
    case reg::Cutoff:
        return "próg odcięcia";
    case reg::TimeConstant:
        return "stała czasowa";
    case reg::Range:
        return "zakres pomiarowy";
    case reg::Alarm1:
        return "próg alarmu 1";
    case reg::Alarm2:
        return "próg alarmu 2";
    case reg::ForwardTotaliser:
        return "zerowanie licznika L+";
    case reg::ReverseTotaliser:
        return "zerowanie licznika L-";
    case reg::ArchivePeriod:
        return "okres zapisu archiwum";
    default:
        return "rejestr";
    }
}

std::string PendingWritesText(const model::WriteSlots& slots) {
    std::string text;
    const auto add = [&text](uint8_t reg) {
        text += text.empty() ? "Czeka na zapis: " : ", ";
        text += WriteName(reg);
    };
    if (slots.LongWritePending) add(slots.LongWriteRegister);
    if (slots.ShortWritePending) add(slots.ShortWriteRegister);
    return text;
}

std::optional<int32_t> RoundHalfEven(double value) {
    const double rounded = std::nearbyint(value); // the default rounding mode: halves to even
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) return std::nullopt;
    return static_cast<int32_t>(rounded);
}

bool QueueListChoice(model::WriteSlots& slots, const model::CachedIndexes& cached, ListSetting setting,
                     int index, int itemCount) {
    if (index < 0 || index >= itemCount) return false;
    const auto choose = [&](std::optional<uint8_t> flags) {
        if (!flags) return false;
        queueShort(slots, reg::Flags, *flags);
        return true;
    };
    switch (setting) {
    case ListSetting::Range:
        if (index >= static_cast<int>(model::kRangeSlots)) return false;
        queueLong(slots, reg::Range, index);
        return true;
    case ListSetting::FlowUnit:
        return choose(model::setFlagBytePrzeplyw(cached, index));
    case ListSetting::TotaliserUnit:
        return choose(model::setFlagByteLicznik(cached, index));
    case ListSetting::PulseWeight:
        return choose(model::setFlagByteWaga(cached, index));
    case ListSetting::TimeConstant:
        if (index >= static_cast<int>(model::TimeConstantTexts.size())) return false;
        queueShort(slots, reg::TimeConstant, static_cast<uint8_t>(index));
        return true;
    case ListSetting::ArchivePeriod:
        if (index >= static_cast<int>(model::ArchivePeriodTexts.size())) return false;
        queueShort(slots, reg::ArchivePeriod, static_cast<uint8_t>(index));
        return true;
    }
    return false;
}

void QueueTotaliserReset(model::WriteSlots& slots, uint8_t firstRegister) {
    queueLong(slots, firstRegister, 0);
}

platform::Outcome QueueAlarmThreshold(model::WriteSlots& slots, model::EditingFlags& editing, int alarm,
                                      double value, int unitIndex) {
    if (unitIndex < 0 || unitIndex >= static_cast<int>(model::kLitresPerHourIn.size()))
        return platform::Outcome::Fail("Jednostka progu alarmu nie jest wybrana z listy.");
    const std::optional<int32_t> litres = RoundHalfEven(value * model::kLitresPerHourIn[unitIndex]);
    if (!litres) return platform::Outcome::Fail(kOutOfRange);
    queueLong(slots, alarm == 1 ? reg::Alarm1 : reg::Alarm2, *litres);
    (alarm == 1 ? editing.Alarm1Editing : editing.Alarm2Editing) = false;
    return platform::Ok();
}

platform::Outcome QueueCutoff(model::WriteSlots& slots, model::EditingFlags& editing, double percent,
                              std::string_view sep) {
    const std::optional<int32_t> tenths = RoundHalfEven(percent * 10.0);
    if (!tenths || *tenths < 0 || *tenths > 255) {
        std::string text = "Próg odcięcia musi leżeć w zakresie od 0";
        text += sep;
        text += "0 do 25";
        text += sep;
        text += "5 %.";
        return platform::Outcome::Fail(std::move(text));
    }
    queueShort(slots, reg::Cutoff, static_cast<uint8_t>(*tenths));
    editing.CutoffEditing = false;
    return platform::Ok();
}

} // namespace core

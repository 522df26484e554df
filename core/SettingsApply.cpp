#include "core/SettingsApply.h"

#include "core/Editing.h"
#include "model/Tables.h"

#include <algorithm>

namespace core {

namespace {

using Outcome = SettingRow::Outcome;

uint8_t RegisterOf(Setting s) {
    switch (s) {
    case Setting::Range:
        return reg::Range;
    case Setting::Cutoff:
        return reg::Cutoff;
    case Setting::TimeConstant:
        return reg::TimeConstant;
    case Setting::ArchivePeriod:
        return reg::ArchivePeriod;
    case Setting::Alarm1:
        return reg::Alarm1;
    case Setting::Alarm2:
        return reg::Alarm2;
    case Setting::FlowUnit:
    case Setting::TotaliserUnit:
    case Setting::PulseWeight:
        break;
    }
    return reg::Flags;
}

std::string DnName(size_t dnIndex) {
    const std::string dn = model::DnText(dnIndex);
    return dn.empty() ? "nieznanej średnicy" : "DN " + dn;
}

std::string Text(const SettingsPlan& plan, Setting s, const std::optional<int32_t>& value,
                 std::string_view sep) {
    if (!value) return "-";
    const std::string text = SettingText(s, *value, plan.Context, sep);
    return text.empty() ? "kod " + std::to_string(*value) : text;
}

// The range row: written only where the position means the same range.
void PlanRange(const SettingsFile& file, SettingsPlan& plan, SettingRow& row) {
    if (!SameRangeList(file.DnIndex, plan.MeterDnIndex)) {
        row.State = Outcome::LeftAlone;
        row.Note = "plik jest dla " + DnName(file.DnIndex) + ", której lista zakresów różni się od listy " +
                   DnName(plan.MeterDnIndex) + " tego przepływomierza";
    } else if (!file.RangePosition) {
        row.State = Outcome::LeftAlone;
        row.Note = "zakresu z pliku nie ma na liście zakresów " + DnName(plan.MeterDnIndex);
    } else {
        plan.Writes.push_back({reg::Range, true, *file.RangePosition, {Setting::Range}});
    }
}

// One write of register 2 for the unit and weight settings that differ, the
// others as the meter has them.
void PlanFlags(SettingsPlan& plan, const SettingValues& meter) {
    SettingsWrite flags{reg::Flags, false, 0, {}};
    const auto code = [&](Setting s) -> std::optional<int32_t> {
        const SettingRow& row = plan.Rows[static_cast<size_t>(s)];
        if (row.State != Outcome::ToWrite) return At(meter, s);
        flags.Sets.push_back(s);
        return row.File;
    };
    const std::optional<int32_t> flow = code(Setting::FlowUnit);
    const std::optional<int32_t> totaliser = code(Setting::TotaliserUnit);
    const std::optional<int32_t> pulse = code(Setting::PulseWeight);
    if (flags.Sets.empty()) return;
    if (!flow || !totaliser || !pulse) {
        // A field the meter reports no code for leaves no byte to compose.
        for (const Setting s : flags.Sets) {
            plan.Rows[static_cast<size_t>(s)].State = Outcome::LeftAlone;
            plan.Rows[static_cast<size_t>(s)].Note = "przepływomierz podaje jednostkę spoza swojej listy";
        }
        return;
    }
    flags.Value = *flow + 4 * *totaliser + 8 * *pulse;
    plan.Writes.push_back(flags);
}

} // namespace

SettingsPlan PlanSettings(const SettingsFile& file, const model::MeterReading& reading) {
    SettingsPlan plan;
    plan.MeterDnIndex = reading.DnIndex;
    const SettingValues meter = ValuesOf(reading);
    plan.Context = file.Settings;
    if (!At(plan.Context, Setting::FlowUnit))
        At(plan.Context, Setting::FlowUnit) = At(meter, Setting::FlowUnit);
    for (const Setting s : kSettings) {
        SettingRow row{s, At(meter, s), At(file.Settings, s), std::nullopt, Outcome::AlreadyRight, {}};
        if (!row.File) {
            row.State = Outcome::LeftAlone;
            row.Note = "brak jej w pliku";
        } else if (row.Meter != row.File) {
            row.State = Outcome::ToWrite;
        }
        plan.Rows.push_back(row);
    }
    PlanFlags(plan, meter);
    for (const Setting s : kSettings) {
        SettingRow& row = plan.Rows[static_cast<size_t>(s)];
        if (row.State != Outcome::ToWrite || RegisterOf(s) == reg::Flags) continue;
        if (s == Setting::Range) {
            PlanRange(file, plan, row);
        } else {
            const bool two = s == Setting::Alarm1 || s == Setting::Alarm2;
            plan.Writes.push_back({RegisterOf(s), two, *row.File, {s}});
        }
    }
    std::sort(plan.Writes.begin(), plan.Writes.end(),
              [](const SettingsWrite& a, const SettingsWrite& b) { return a.Register < b.Register; });
    return plan;
}

SettingsApply::SettingsApply(PollCycle& poll, SettingsFile file, bool dryRun)
    : Poll(poll), File(std::move(file)), DryRun(dryRun) {}

SettingRow& SettingsApply::Row(Setting s) {
    return Current.Rows[static_cast<size_t>(s)];
}

bool SettingsApply::Taken() const {
    const SettingsWrite& w = Current.Writes[Next];
    return !(w.TwoRegisters ? Poll.Slots.LongWritePending : Poll.Slots.ShortWritePending);
}

void SettingsApply::QueueNext() {
    if (Next >= Current.Writes.size()) return;
    const SettingsWrite& w = Current.Writes[Next];
    Poll.QueueSettingsWrite(w.Register, w.TwoRegisters, w.Value);
    Queued = true;
    FailedSince.clear();
}

void SettingsApply::Read(const model::MeterReading& reading) {
    if (Done) return;
    FailuresInARow = 0;
    if (!Planned) {
        Current = PlanSettings(File, reading);
        Planned = true;
        if (DryRun || Current.Writes.empty()) return Finish(reading);
        return QueueNext();
    }
    // A read before the write left its slot says nothing of the write.
    if (Queued && Taken()) Verify(reading);
}

void SettingsApply::Verify(const model::MeterReading& reading) {
    const SettingValues after = ValuesOf(reading);
    const SettingsWrite& w = Current.Writes[Next];
    bool taken = true;
    for (const Setting s : w.Sets) {
        SettingRow& row = Row(s);
        row.After = At(after, s);
        row.State = row.After == row.File ? Outcome::Written : Outcome::Changed;
        // The meter turns a range position into its DN's own value.
        if (s == Setting::Range && row.State == Outcome::Changed &&
            row.After == RangeValueAt(reading.DnIndex, w.Value))
            row.State = Outcome::Mapped;
        taken = taken && row.State != Outcome::Changed;
    }
    Queued = false;
    if (!taken && !FailedSince.empty()) {
        for (const Setting s : w.Sets) {
            Row(s).State = Outcome::Refused;
            Row(s).Note = FailedSince;
        }
        StopReason = "przepływomierz nie przyjął zapisu: " + FailedSince;
        return Finish(reading);
    }
    if (++Next >= Current.Writes.size()) return Finish(reading);
    QueueNext();
}

void SettingsApply::Failed(const std::string& result) {
    if (Done) return;
    if (Planned && Queued && Taken() && FailedSince.empty()) FailedSince = result;
    if (++FailuresInARow >= kFailuresInARow) Stop("brak odpowiedzi przepływomierza (" + result + ")");
}

void SettingsApply::Stop(const std::string& why) {
    if (Done) return;
    StopReason = why;
    for (SettingRow& row : Current.Rows)
        if (row.State == Outcome::ToWrite) row.State = Outcome::NotWritten;
    // A write handed over and not yet seen in a read may have been taken.
    if (Queued && Next < Current.Writes.size())
        for (const Setting s : Current.Writes[Next].Sets) Row(s).Note = "zapis wysłany, bez potwierdzenia";
    Done = true;
}

void SettingsApply::Finish(const model::MeterReading& reading) {
    const SettingValues after = ValuesOf(reading);
    for (SettingRow& row : Current.Rows) {
        if (row.State == Outcome::ToWrite && !DryRun) row.State = Outcome::NotWritten;
        if (row.State != Outcome::AlreadyRight) continue;
        // Checked again at the end: the meter may have been changed meanwhile.
        row.After = At(after, row.Which);
        if (row.After != row.File) row.State = Outcome::Changed;
    }
    Done = true;
}

std::vector<Setting> SettingsApply::NotTaken() const {
    std::vector<Setting> out;
    for (const SettingRow& row : Current.Rows)
        if (row.State == Outcome::Refused || row.State == Outcome::Changed ||
            row.State == Outcome::NotWritten)
            out.push_back(row.Which);
    return out;
}

std::string SettingsApply::ProgressText() const {
    if (Done) return {};
    if (!Planned) return "Wczytywanie nastaw: czekam na odczyt przepływomierza…";
    const size_t shown = std::min(Next + 1, Current.Writes.size());
    return "Wczytywanie nastaw: zapis " + std::to_string(shown) + " z " +
           std::to_string(Current.Writes.size()) + " (" +
           std::string(WriteName(Current.Writes[shown - 1].Register)) + ")…";
}

std::string DifferenceLine(const SettingsPlan& plan, const SettingRow& row, std::string_view sep) {
    const std::string name(SettingLabel(row.Which));
    switch (row.State) {
    case Outcome::AlreadyRight:
        return name + ": " + Text(plan, row.Which, row.Meter, sep) + " (bez zmian)";
    case Outcome::LeftAlone:
        return name + ": pozostaje " + Text(plan, row.Which, row.Meter, sep) + " (" + row.Note + ")";
    default:
        return name + ": " + Text(plan, row.Which, row.Meter, sep) + " → " +
               Text(plan, row.Which, row.File, sep);
    }
}

std::string OutcomeText(const SettingsPlan& plan, const SettingRow& row, std::string_view sep) {
    const std::string name(SettingLabel(row.Which));
    const std::string file = Text(plan, row.Which, row.File, sep);
    const std::string after = Text(plan, row.Which, row.After, sep);
    switch (row.State) {
    case Outcome::AlreadyRight:
        return name + ": już " + file;
    case Outcome::ToWrite:
        return name + ": do zapisu " + file;
    case Outcome::Written:
        return name + ": zapisano " + file;
    case Outcome::Mapped:
        return name + ": przepływomierz ustawił wartość swojej średnicy " + after + " (w pliku " + file + ")";
    case Outcome::Changed:
        return name + ": przepływomierz pokazuje " + after + " zamiast " + file;
    case Outcome::Refused:
        return name + ": przepływomierz odmówił zapisu " + file + " (" + row.Note + ")";
    case Outcome::NotWritten:
        return name + ": nie zapisano " + file + (row.Note.empty() ? "" : " (" + row.Note + ")");
    case Outcome::LeftAlone:
        break;
    }
    return name + ": pominięto (" + row.Note + ")";
}

} // namespace core

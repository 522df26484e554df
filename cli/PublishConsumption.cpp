#include "cli/PublishConsumption.h"

#include "cli/Say.h"

#include "core/ReportColumns.h"
#include "model/Cp1250.h"

namespace cli {

void HourlyConsumption::Published(uint8_t address, const std::vector<std::string>& records) {
    if (records.empty()) return;
    const publish::MeterId meter{Port, address};
    auto [at, first] = Tallies.try_emplace(address);
    core::HourTally& tally = at->second;
    if (first) {
        // The outbox's marks are text: the Windows-1250 record lines go there as UTF-8.
        const platform::OrReason<std::optional<std::string>> mark = Out.ConsumptionMark(meter);
        if (!mark) Say("meter " + std::to_string(address) + ": " + mark.error + "; hours counted afresh");
        if (mark && *mark) tally.Restore(model::Utf8ToCp1250(**mark));
    }
    const std::vector<core::PeriodConsumption> hours = tally.Add(records);
    const std::string carry = model::Cp1250ToUtf8(tally.Carry());
    for (const core::PeriodConsumption& hour : hours) {
        const std::string json =
            publish::ConsumptionJson(meter, core::ReportRowJson(hour, core::PeriodKind::Hour));
        if (const platform::Outcome done = Out.PublishConsumption(meter, json, carry); !done) {
            Say(done.error);
            return;
        }
    }
}

} // namespace cli

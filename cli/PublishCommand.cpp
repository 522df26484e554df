// vqt540 publish: the meters of a line read in turn and their readings sent
// to an MQTT broker through an outbox on disk; every so often the archive
// records newer than the last one published, with their own times.
#include "cli/CommandView.h"
#include "cli/Commands.h"
#include "cli/Loop.h"
#include "cli/MeterPeriodOption.h"
#include "cli/PublishConsumption.h"
#include "cli/Say.h"

#include "core/BackFill.h"
#include "core/LineCycle.h"
#include "modbus/Link.h"
#include "model/Cp1250.h"
#include "publish/Publisher.h"

#include <chrono>
#include <set>
#include <string_view>

namespace cli {

namespace {

int64_t UnixMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

class PublishView final : public LoopView<core::LineView> {
public:
    PublishView(const CommonOptions& common, publish::Publisher& publisher, Loop& loop)
        : LoopView(loop), Common(common), Out(publisher) {}

    void ShowReading(uint8_t address, const model::MeterReading&, const model::ReadingInUnits& u) override {
        Check(Out.PublishReading(Meter(address), UnixMs(), u));
    }
    void ReadFailed(uint8_t address, const std::string& why) override {
        Say("meter " + std::to_string(address) + ": " + why);
    }
    void Availability(uint8_t address, bool answering) override {
        // Published at the first read too, so that its entities come to life.
        if (!answering || Silent.erase(address))
            Say("meter " + std::to_string(address) +
                (answering ? " answers again" : " does not answer; asked less often until it does"));
        if (!answering) Silent.insert(address);
        Check(Out.SetAvailable(Meter(address), answering));
    }
    void PortState(const std::string& why) override {
        Say(why.empty() ? Common.Port + " can be used again; reading goes on" : why);
    }
    void Overran(int64_t ms) override {
        Say("a round took " + std::to_string(ms) + " ms, longer than --interval");
    }
    publish::MeterId Meter(uint8_t address) const { return {Common.Port, address}; }

private:
    void Check(const platform::Outcome& done) {
        if (!done) Say(done.error);
    }
    std::set<uint8_t> Silent; // meters told as not answering
    const CommonOptions& Common;
    publish::Publisher& Out;
};

// The archive records newer than the last one published, to the broker:
// read between the rounds by core::BackFill.
class BackFillToBroker final : public core::BackFillView {
public:
    BackFillToBroker(const CommonOptions& common, publish::Publisher& publisher)
        : Common(common), Out(publisher), Hours(common.Port, publisher) {}

    std::optional<core::ArchiveMark> Mark(uint8_t address) override {
        const platform::OrReason<std::optional<std::string>> mark = Out.ArchiveMark({Common.Port, address});
        if (!mark) {
            // Taken as none, it would publish the whole archive again.
            Say(Meter(address) + mark.error + "; the archive is read next time");
            return std::nullopt;
        }
        core::ArchiveMark m;
        if (*mark && (**mark).size() == 19) {
            m.Date = (**mark).substr(0, 10);
            m.Time = (**mark).substr(11);
        }
        return m;
    }

    bool Ended(const core::BackFillResult& r) override {
        const std::string meter = Meter(r.Address);
        if (r.GaveUp) {
            Say(meter + "the archive gave no valid reply in " +
                std::to_string(core::ArchiveFill::kGiveUpAfter) + " attempts; tried again next time");
            return true;
        }
        size_t published = 0;
        for (; published < r.Records.size(); ++published) {
            const platform::Outcome done =
                Out.PublishArchive({Common.Port, r.Address}, Fields(r.Records[published]));
            if (!done) {
                Say(done.error);
                break;
            }
        }
        if (published > 0) Say(meter + std::to_string(published) + " archive records published");
        Hours.Published(r.Address, {r.Records.begin(), r.Records.begin() + std::ptrdiff_t(published)});
        if (r.BeforeMark > 0)
            Say(meter + std::to_string(r.BeforeMark) +
                " archive records written after the last one published (" + r.Mark.Date + " " + r.Mark.Time +
                ") but dated no later were skipped: the meter's clock went back");
        if (r.Impossible > 0)
            Say(meter + std::to_string(r.Impossible) +
                " archive records with a date or time that cannot be (erased or damaged) were skipped");
        return published == r.Records.size();
    }

private:
    static std::string Meter(uint8_t address) { return "meter " + std::to_string(address) + ": "; }
    // "2024-05-01;12:15:00;12.345;10011.5 [m3];5.0 [m3];events", as the export has it.
    static publish::ArchiveFields Fields(const std::string& cp1250) {
        const std::string line = model::Cp1250ToUtf8(cp1250);
        std::vector<std::string> f;
        for (size_t from = 0;;) {
            const size_t semicolon = line.find(';', from);
            f.push_back(line.substr(from, semicolon - from));
            if (semicolon == std::string::npos) break;
            from = semicolon + 1;
        }
        f.resize(6);
        publish::ArchiveFields a;
        a.DateTime = f[0] + " " + f[1];
        a.Flow = std::strtod(f[2].c_str(), nullptr);
        a.FlowUnit = "m3/h";
        const auto value = [](const std::string& text) { return std::strtod(text.c_str(), nullptr); };
        a.Forward = value(f[3]);
        a.Reverse = value(f[4]);
        const size_t open = f[3].find('['), close = f[3].find(']');
        if (open != std::string::npos && close != std::string::npos)
            a.TotaliserUnit = f[3].substr(open + 1, close - open - 1);
        a.Events = f[5];
        return a;
    }

    const CommonOptions& Common;
    publish::Publisher& Out;
    HourlyConsumption Hours;
};

} // namespace

int RunPublish(const CommonOptions& common, const PublishOptions& options, Loop& loop, modbus::Link& meters) {
    publish::BrokerOptions broker;
    broker.Host = options.Host;
    broker.Port = options.MqttPort;
    broker.User = options.User;
    broker.Password = options.Password;
    broker.CaFile = options.CaFile;
    broker.ClientId = options.ClientId;
    broker.Prefix = options.Prefix;
    broker.OutboxPath = options.OutboxPath;
    // Settings that no restart can mend come before the port and the outbox.
    if (const platform::Outcome checked = publish::CheckOptions(broker); !checked) {
        Say(checked.error);
        return kExitUsage;
    }
    const auto periods = ReadMeterPeriods(options.Periods, common.Addresses);
    if (!periods) {
        Say(periods.error);
        return kExitUsage;
    }
    if (const int code = CheckPort(common.Port); code != kExitOk) return code;
    platform::OrReason<std::unique_ptr<publish::Publisher>> started =
        publish::Publisher::Start(broker, loop.Notifier());
    if (!started) {
        Say(started.error);
        return kExitFile;
    }
    publish::Publisher& out = **started.value;
    PublishView view(common, out, loop);
    core::LineCycle line(meters.Factory(), view, common.Link(), common.Addresses, options.IntervalMs);
    line.SetPeriods(core::MeterPeriods(*periods));
    // The archives are read between the rounds, one request after a round.
    BackFillToBroker archives(common, out);
    core::BackFill backFill(archives, common.Addresses, int64_t{options.ArchiveEverySeconds} * 1000);
    if (options.ArchiveEverySeconds > 0) line.SetBetweenRounds(&backFill);
    int64_t droppedTold = 0, nextDropCheck = 0;
    line.Start();
    for (;;) {
        if (loop.WaitUntil(line.NextWakeMs()) == Loop::Event::Stop) break;
        // Every attempt to connect and why it failed, the outbox's troubles.
        for (const std::string& notice : out.TakeNotices()) Say(notice);
        // The outbox's cap gives way to the newest: say how many went (looked
        // at every 10 s, as counting a full outbox takes a while).
        if (Loop::NowMs() >= nextDropCheck) {
            nextDropCheck = Loop::NowMs() + 10000;
            if (const int64_t dropped = out.Counts().Dropped; dropped > droppedTold) {
                Say("the outbox is full: " + std::to_string(dropped) + " oldest messages dropped");
                droppedTold = dropped;
            }
        }
        line.Wake();
    }
    line.Stop();
    out.Close();
    return kExitOk; // stopped as asked: for a service, a clean end
}

} // namespace cli

// vqt540 publish: the meters of a line read in turn and their readings sent
// to an MQTT broker through an outbox on disk; every so often the archive
// records newer than the last one published, with their own times.
#include "cli/Commands.h"
#include "cli/Loop.h"
#include "cli/Say.h"

#include "core/ArchiveCycle.h"
#include "core/LineCycle.h"
#include "core/LinkState.h"
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

class PublishView final : public core::LineView {
public:
    PublishView(const CommonOptions& common, publish::Publisher& publisher, Loop& loop)
        : Common(common), Out(publisher), Waits(loop) {}

    int64_t NowMs() override { return Loop::NowMs(); }
    std::function<void()> CompletionNotifier() override { return Waits.Notifier(); }
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
    Loop& Waits;
};

// One meter's archive, the records newer than the last one published.
class ArchiveToBroker final : public core::ArchiveView {
public:
    ArchiveToBroker(const CommonOptions& common, publish::Publisher& publisher, Loop& loop, uint8_t address)
        : Common(common), Out(publisher), Waits(loop), Address(address) {}

    int Published = 0;
    int64_t NowMs() override { return Loop::NowMs(); }
    platform::Reading<modbus::LinkSettings> ReadLink() override {
        modbus::LinkSettings link = Common.Link();
        link.DeviceAddress = Address;
        return {link, {}};
    }
    platform::Reading<int32_t> ReadPeriod() override { return {0, {}}; }
    std::string DecimalSeparator() override { return "."; }
    void ShowError(const std::string& text) override { Say(text); }
    std::function<void()> CompletionNotifier() override { return Waits.Notifier(); }
    bool Ask(const std::string&) override { return false; }
    int64_t LocalMinuteNow() override { return 0; }
    void ShowProgress(const core::DownloadProgress&) override {}
    std::string ChooseOtherFile(const std::string&) override { return {}; }
    void DeliverRecords(const std::vector<std::string>& lines) override {
        for (const std::string& line : lines) {
            const platform::Outcome done = Out.PublishArchive({Common.Port, Address}, Fields(line));
            if (!done) {
                Say(done.error);
                return;
            }
            ++Published;
        }
    }

private:
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
    Loop& Waits;
    uint8_t Address;
};

// The archives of all meters, one after another, while the polling waits.
bool PublishArchives(const CommonOptions& common, publish::Publisher& out, Loop& loop, modbus::Link& meters) {
    for (const uint8_t address : common.Addresses) {
        const publish::MeterId meter{common.Port, address};
        const platform::Reading<std::optional<std::string>> mark = out.ArchiveMark(meter);
        std::string date, time;
        if (mark && *mark && (**mark).size() == 19) {
            date = (**mark).substr(0, 10);
            time = (**mark).substr(11);
        }
        core::LinkState link;
        ArchiveToBroker view(common, out, loop, address);
        core::ArchiveCycle cycle(link, meters.Factory(), view);
        if (const platform::Outcome started = cycle.DownloadRecordsAfter(date, time); !started) {
            Say(started.error);
            continue;
        }
        int64_t badBefore = 0, good = 0;
        while (cycle.ArchiveRunning()) {
            if (loop.WaitUntil(cycle.NextWakeMs()) == Loop::Event::Stop) {
                cycle.Stop(false);
                return false;
            }
            cycle.Wake();
            if (link.GoodReplies != good) {
                good = link.GoodReplies;
                badBefore = link.BadReplies;
            }
            if (link.BadReplies - badBefore >= 20) {
                Say("meter " + std::to_string(address) +
                    ": the archive gave no valid reply in 20 attempts; "
                    "tried again next time");
                cycle.Stop(false);
            }
        }
        if (view.Published > 0)
            Say("meter " + std::to_string(address) + ": " + std::to_string(view.Published) +
                " archive records published");
    }
    return true;
}

} // namespace

int RunPublish(const CommonOptions& common, const PublishOptions& options, Loop& loop, modbus::Link& meters) {
    if (const int code = CheckPort(common.Port); code != kExitOk) return code;
    publish::BrokerOptions broker;
    broker.Host = options.Host;
    broker.Port = options.MqttPort;
    broker.User = options.User;
    broker.Password = options.Password;
    broker.CaFile = options.CaFile;
    broker.ClientId = options.ClientId;
    broker.Prefix = options.Prefix;
    broker.OutboxPath = options.OutboxPath;
    platform::Reading<std::unique_ptr<publish::Publisher>> started =
        publish::Publisher::Start(broker, loop.Notifier());
    if (!started) {
        Say(started.error);
        return kExitFile;
    }
    publish::Publisher& out = **started.value;
    PublishView view(common, out, loop);
    core::LineCycle line(meters.Factory(), view, common.Link(), common.Addresses, options.IntervalMs);
    const int64_t archiveEveryMs = int64_t{options.ArchiveEverySeconds} * 1000;
    int64_t nextArchive = Loop::NowMs() + (archiveEveryMs > 0 ? 0 : -1);
    bool connected = false;
    std::string lastError;
    int64_t droppedTold = 0, nextDropCheck = 0;
    line.Start();
    for (;;) {
        std::optional<int64_t> due = line.NextWakeMs();
        if (archiveEveryMs > 0 && (!due || nextArchive < *due)) due = nextArchive;
        if (loop.WaitUntil(due) == Loop::Event::Stop) break;
        // The broker's coming and going, told once each.
        const bool now = out.Connected();
        const std::string error = now ? std::string() : out.LastError();
        if (now != connected || (!now && !error.empty() && error != lastError)) {
            Say(now ? "connected to the broker " + options.Host
                    : "the broker is away (" + error + "); readings are kept in the outbox");
            connected = now;
            lastError = error;
        }
        // The outbox's cap gives way to the newest: say how many went (looked
        // at every 10 s, as counting a full outbox takes a while).
        if (Loop::NowMs() >= nextDropCheck) {
            nextDropCheck = Loop::NowMs() + 10000;
            if (const int64_t dropped = out.Counts().Dropped; dropped > droppedTold) {
                Say("the outbox is full: " + std::to_string(dropped) + " oldest messages dropped");
                droppedTold = dropped;
            }
        }
        if (archiveEveryMs > 0 && Loop::NowMs() >= nextArchive) {
            line.Stop();
            if (!PublishArchives(common, out, loop, meters)) break;
            nextArchive = Loop::NowMs() + archiveEveryMs;
            line.Start();
            continue;
        }
        line.Wake();
    }
    line.Stop();
    out.Close();
    return kExitOk; // stopped as asked: for a service, a clean end
}

} // namespace cli

// The publisher's messages: stored in the outbox (or memory), handed to
// libmosquitto in order, and what the tool asks of them. The connections
// are PublisherConnection.cpp's.
#include "publish/PublisherState.h"

#include <algorithm>
#include <mutex>
#include <utility>

namespace publish {

namespace {

// Messages the outbox could not store wait in memory, at most this many.
constexpr size_t kHeldLimit = 1000;
constexpr size_t kNoticeLimit = 100;

size_t DigestOf(const Message& m) {
    return std::hash<std::string>{}(m.Topic + '\n' + m.Payload);
}

} // namespace

void Publisher::State::Notify() {
    Changed.notify_all();
    if (OnChange) OnChange();
}

// Lock held.
void Publisher::State::Tell(std::string text) {
    if (Notices.size() >= kNoticeLimit) Notices.erase(Notices.begin());
    Notices.push_back(std::move(text));
}

void Publisher::State::TakeBoxNotes() {
    for (std::string& note : Box->TakeNotes()) Tell(std::move(note));
}

// A failure told once until `failing` is cleared by a success.
void Publisher::State::Trouble(bool& failing, const std::string& text) {
    Error = text;
    if (!failing) Tell(text);
    failing = true;
}

Publisher::State::MeterState& Publisher::State::Meter(const MeterId& id) {
    const std::string key = MeterKey(id);
    auto it = Meters.find(key);
    if (it == Meters.end()) {
        MeterState meter;
        meter.Id = id;
        meter.T = TopicsFor(Options.Prefix, id);
        it = Meters.emplace(key, std::move(meter)).first;
    }
    return it->second;
}

// Into the outbox; when it cannot take the message, into memory, so that
// what the broker can take now does not hang on the disk. Lock held.
platform::Outcome Publisher::State::Store(const Message& m, bool state) {
    if (state && Refused.count(DigestOf(m))) return platform::Ok();
    const auto pushed = state ? Box->PushState(m, HandedUpTo) : Box->Push(m);
    TakeBoxNotes();
    if (pushed) {
        if (StoreFailing) Tell("The outbox " + Options.OutboxPath + " stores messages again.");
        StoreFailing = false;
        return platform::Ok();
    }
    if (state) std::erase_if(Memory, [&](const Held& h) { return h.Content.Topic == m.Topic; });
    if (Memory.size() >= kHeldLimit)
        return platform::Outcome::Fail(pushed.error + " The message on " + m.Topic + " is lost: " +
                                       std::to_string(kHeldLimit) + " wait in memory already.");
    Memory.push_back({NextHeld--, m});
    ++Unstored;
    Trouble(StoreFailing,
            pushed.error + " Messages go to the broker from memory until the outbox can store again.");
    return platform::Ok();
}

// Hands the next messages to libmosquitto while connected and the window
// has room: those held in memory first. Lock held.
void Publisher::State::Pump() {
    while (Mosq && IsConnected && !Closing && InFlight.size() < kWindow) {
        if (!Memory.empty()) {
            Held held = std::move(Memory.front());
            Memory.pop_front();
            Hand(held.Key, held.Content);
            continue;
        }
        const auto rows = Box->Peek(kWindow - InFlight.size(), HandedUpTo);
        TakeBoxNotes();
        if (!rows) return Trouble(ReadFailing, rows.error);
        ReadFailing = false;
        if (rows->empty()) return;
        for (const OutboxRow& row : *rows) {
            HandedUpTo = row.Seq;
            Hand(row.Seq, row.Content);
        }
    }
}

void Publisher::State::Hand(int64_t key, const Message& m) {
    int mid = 0;
    const int rc = mosquitto_publish(Mosq, &mid, m.Topic.c_str(), int(m.Payload.size()), m.Payload.data(),
                                     m.Qos, m.Retain);
    if (m.Qos > 0 && (rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_NO_CONN)) {
        Flight flight{key, NextOrder++, m.Topic, m.Payload.size(), DigestOf(m), m.Retain, std::nullopt};
        if (key < 0) flight.Held = m;
        InFlight[mid] = std::move(flight);
        ++Sent;
        return;
    }
    if (rc != MOSQ_ERR_SUCCESS) { // never sendable: it would hold up every later one
        ++SetAside;
        Tell("A message on " + m.Topic + " cannot be sent (" + Text(rc) + "); it was set aside.");
    } else {
        ++Sent;
    }
    if (key > 0) RemoveRow(key);
}

void Publisher::State::RemoveRow(int64_t seq) {
    const platform::Outcome removed = Box->Remove(seq);
    TakeBoxNotes();
    if (!removed)
        Trouble(RemoveFailing, removed.error + " What the broker acknowledged stays in the outbox until "
                                               "it can be removed (and is sent again after a restart).");
    else
        RemoveFailing = false;
}

platform::Outcome Publisher::State::QueueDiscovery(MeterState& meter, const model::ReadingInUnits& units) {
    auto done = Store(
        {meter.T.Discovery, DiscoveryJson(meter.Id, meter.T, units.FlowUnit, units.TotaliserUnit), true},
        true);
    if (done) {
        meter.Discovered = true;
        meter.FlowUnit = units.FlowUnit;
        meter.TotaliserUnit = units.TotaliserUnit;
    }
    return done;
}

platform::Outcome Publisher::State::QueueAvailability(MeterState& meter) {
    return Store({meter.T.Availability, *meter.Available ? "online" : "offline", true}, true);
}

// Every known meter's discovery, and its availability too. Lock held.
void Publisher::State::QueueStates(bool availability) {
    for (auto& [key, meter] : Meters) {
        platform::Outcome done = platform::Ok();
        if (meter.Discovered) {
            model::ReadingInUnits units;
            units.FlowUnit = meter.FlowUnit;
            units.TotaliserUnit = meter.TotaliserUnit;
            done = QueueDiscovery(meter, units);
        }
        if (done && availability && meter.Available) done = QueueAvailability(meter);
        if (!done) Tell(done.error);
    }
}

Publisher::Publisher() : S(std::make_unique<State>()) {}

platform::OrReason<std::unique_ptr<Publisher>> Publisher::Start(const BrokerOptions& options,
                                                                std::function<void()> changed) {
    using Result = platform::OrReason<std::unique_ptr<Publisher>>;
    if (auto checked = CheckOptions(options); !checked) return Result::Fail(checked.error);
    auto box = Outbox::Open(options.OutboxPath, options.Limits);
    if (!box) return Result::Fail(box.error);
    static std::once_flag init;
    std::call_once(init, [] { mosquitto_lib_init(); });

    std::unique_ptr<Publisher> p(new Publisher());
    State& s = *p->S;
    s.Options = options;
    s.OnChange = std::move(changed);
    s.ToolTopic = ToolAvailabilityTopic(options.Prefix);
    s.Broker = options.Host + ":" + std::to_string(options.Port);
    s.Box.emplace(std::move(*box.value));
    {
        std::unique_lock lock(s.Mutex);
        s.TakeBoxNotes(); // a damaged file moved aside
        if (const std::string failed = s.Renew(lock); !failed.empty()) return Result::Fail(failed);
    }
    s.Network = std::thread([&s] { s.Run(); });
    return {std::move(p), {}};
}

Publisher::~Publisher() {
    Close();
}

platform::Outcome Publisher::PublishReading(const MeterId& meter, int64_t unixMs,
                                            const model::ReadingInUnits& reading) {
    platform::Outcome done = platform::Ok();
    {
        std::lock_guard lock(S->Mutex);
        if (S->Closing) return platform::Outcome::Fail("The publisher is closed.");
        State::MeterState& m = S->Meter(meter);
        if (!m.Discovered || m.FlowUnit != reading.FlowUnit || m.TotaliserUnit != reading.TotaliserUnit)
            done = S->QueueDiscovery(m, reading);
        if (done) done = S->Store({m.T.Reading, ReadingJson(meter, unixMs, reading), false}, false);
        S->Pump();
    }
    S->Notify();
    return done;
}

platform::Outcome Publisher::PublishArchive(const MeterId& meter, const ArchiveFields& record) {
    return S->PushMarked(meter, &Topics::Archive, ArchiveRecordJson(meter, record), "archive/",
                         record.DateTime);
}

platform::OrReason<std::optional<std::string>> Publisher::ArchiveMark(const MeterId& meter) const {
    return S->Mark("archive/", meter);
}

platform::Outcome Publisher::PublishConsumption(const MeterId& meter, const std::string& json,
                                                std::string_view carry) {
    return S->PushMarked(meter, &Topics::Consumption, json, "consumption/", carry);
}

platform::OrReason<std::optional<std::string>> Publisher::ConsumptionMark(const MeterId& meter) const {
    return S->Mark("consumption/", meter);
}

platform::Outcome Publisher::State::PushMarked(const MeterId& meter, std::string Topics::*topic,
                                               const std::string& json, std::string_view kind,
                                               std::string_view mark) {
    platform::Outcome done = platform::Ok();
    {
        std::lock_guard lock(Mutex);
        if (Closing) return platform::Outcome::Fail("The publisher is closed.");
        const MeterState& m = Meter(meter);
        const auto pushed =
            Box->PushWithMark({m.T.*topic, json, false}, std::string(kind) + MeterKey(meter), mark);
        TakeBoxNotes();
        if (!pushed) done = platform::Outcome::Fail(pushed.error);
        Pump();
    }
    Notify();
    return done;
}

platform::OrReason<std::optional<std::string>> Publisher::State::Mark(std::string_view kind,
                                                                      const MeterId& meter) const {
    std::lock_guard lock(Mutex);
    return Box->GetMark(std::string(kind) + MeterKey(meter));
}

platform::Outcome Publisher::SetAvailable(const MeterId& meter, bool available) {
    platform::Outcome done = platform::Ok();
    {
        std::lock_guard lock(S->Mutex);
        if (S->Closing) return platform::Outcome::Fail("The publisher is closed.");
        State::MeterState& m = S->Meter(meter);
        m.Available = available;
        done = S->QueueAvailability(m);
        S->Pump();
    }
    S->Notify();
    return done;
}

bool Publisher::Connected() const {
    std::lock_guard lock(S->Mutex);
    return S->IsConnected;
}

PublishCounts Publisher::Counts() const {
    std::lock_guard lock(S->Mutex);
    return {S->Sent, S->AckCount, S->Box->Count(), S->Box->Dropped(), S->Unstored, S->SetAside};
}

std::string Publisher::LastError() const {
    std::lock_guard lock(S->Mutex);
    return S->Error;
}

std::vector<std::string> Publisher::TakeNotices() {
    std::lock_guard lock(S->Mutex);
    return std::exchange(S->Notices, {});
}

bool Publisher::WaitIdle(std::chrono::milliseconds limit) const {
    std::unique_lock lock(S->Mutex);
    return S->Changed.wait_for(
        lock, limit, [&] { return S->InFlight.empty() && S->Memory.empty() && S->Box->Count() == 0; });
}

void Publisher::Close(std::chrono::milliseconds flush) {
    {
        std::unique_lock lock(S->Mutex);
        if (S->Closing) return;
        S->Closing = true;
        if (S->IsConnected)
            mosquitto_publish(S->Mosq, &S->OfflineMid, S->ToolTopic.c_str(), 7, "offline", 1, true);
        S->Changed.wait_for(lock, flush, [&] {
            return !S->IsConnected || (S->InFlight.empty() && (S->OfflineMid < 0 || S->OfflineAcked));
        });
        S->Stop = true;
        if (S->Mosq) mosquitto_disconnect(S->Mosq); // wakes the loop out of its wait on the socket
    }
    S->Changed.notify_all();
    if (S->Network.joinable()) S->Network.join();
}

} // namespace publish
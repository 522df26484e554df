#include "publish/Publisher.h"

#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

namespace publish {

namespace {

// Rows handed to libmosquitto at a time, below its in-flight limit so that
// every one of them goes out at once, in order.
constexpr size_t kWindow = 16;
constexpr int kInflightLimit = 20;
// Messages the outbox could not store wait in memory, at most this many.
constexpr size_t kHeldLimit = 1000;
// The first unacknowledged message of this many lost connections in a row
// is set aside: sent again, it would only end the next one too.
constexpr int kStrikes = 3;
// A connection lost sooner than this counts as a failed attempt: the
// back-off grows on instead of starting over, and a flapping one is told.
constexpr int64_t kSteadyMs = 10000;
constexpr size_t kNoticeLimit = 100;

int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string Text(int rc) {
    std::string text = mosquitto_strerror(rc);
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

size_t DigestOf(const Message& m) {
    return std::hash<std::string>{}(m.Topic + '\n' + m.Payload);
}

struct MeterState {
    MeterId Id;
    Topics T;
    bool Discovered = false;
    std::string FlowUnit, TotaliserUnit; // of the last discovery
    std::optional<bool> Available;
};

// A message handed to libmosquitto: its outbox seq, or below zero one held
// in memory (which then comes along, to be handed again).
struct Flight {
    int64_t Key = 0;
    uint64_t Order = 0; // of handing
    std::string Topic;
    size_t Bytes = 0;
    size_t Digest = 0; // topic and payload: the same message under a new seq
    bool Retain = false;
    std::optional<Message> Held;
};

struct Held {
    int64_t Key = 0;
    Message Content;
};

} // namespace

struct Publisher::State {
    BrokerOptions Options;
    std::function<void()> OnChange;
    std::string ToolTopic, Broker; // Broker: "host:port", for the words
    mosquitto* Mosq = nullptr;     // replaced by the network thread alone, under the mutex
    std::thread Network;
    std::atomic<bool> Stop{false};

    mutable std::mutex Mutex;
    mutable std::condition_variable Changed;
    std::optional<Outbox> Box;
    std::map<int, Flight> InFlight; // message id -> what it is
    std::deque<Held> Memory;        // what the outbox could not store, oldest first
    int64_t NextHeld = -1;
    uint64_t NextOrder = 0;
    int64_t HandedUpTo = 0; // the last seq given to libmosquitto by this process
    bool IsConnected = false;
    bool Closing = false;
    int OfflineMid = -1;
    bool OfflineAcked = false;
    uint64_t Sent = 0, AckCount = 0, Unstored = 0, SetAside = 0;
    std::map<std::string, MeterState> Meters;
    std::set<size_t> Refused; // states set aside: not queued again
    std::string Error;
    std::vector<std::string> Notices;
    bool StoreFailing = false, RemoveFailing = false, ReadFailing = false;
    // The attempt under way, and how the last ones went.
    std::string Logged;
    int Refusal = 0, LostErrno = 0;
    int64_t ConnectedAt = 0;
    int Failures = 0, ShortLosses = 0;
    size_t Suspect = 0;
    int Strikes = 0;

    ~State() {
        if (Mosq) mosquitto_destroy(Mosq);
    }

    void Notify() {
        Changed.notify_all();
        if (OnChange) OnChange();
    }
    // Lock held.
    void Tell(std::string text) {
        if (Notices.size() >= kNoticeLimit) Notices.erase(Notices.begin());
        Notices.push_back(std::move(text));
    }
    void TakeBoxNotes() {
        for (std::string& note : Box->TakeNotes()) Tell(std::move(note));
    }
    // A failure told once until `failing` is cleared by a success.
    void Trouble(bool& failing, const std::string& text) {
        Error = text;
        if (!failing) Tell(text);
        failing = true;
    }

    MeterState& Meter(const MeterId& id) {
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
    platform::Outcome Store(const Message& m, bool state) {
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
    void Pump() {
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

    void Hand(int64_t key, const Message& m) {
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

    void RemoveRow(int64_t seq) {
        const platform::Outcome removed = Box->Remove(seq);
        TakeBoxNotes();
        if (!removed)
            Trouble(RemoveFailing, removed.error + " What the broker acknowledged stays in the outbox until "
                                                   "it can be removed (and is sent again after a restart).");
        else
            RemoveFailing = false;
    }

    platform::Outcome QueueDiscovery(MeterState& meter, const model::ReadingInUnits& units) {
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
    platform::Outcome QueueAvailability(MeterState& meter) {
        return Store({meter.T.Availability, *meter.Available ? "online" : "offline", true}, true);
    }
    // Every known meter's discovery, and its availability too. Lock held.
    void QueueStates(bool availability) {
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

    void OnConnect(int rc) {
        {
            std::lock_guard lock(Mutex);
            if (rc != 0) {
                Refusal = rc;
            } else {
                IsConnected = true;
                ConnectedAt = SteadyMs();
                Error.clear();
                Tell("Connected to the broker " + Broker + ".");
                if (!Closing) Announce();
            }
        }
        Notify();
    }

    // Lock held, in libmosquitto's connect callback; nothing is in flight on
    // a new client.
    void Announce() {
        mosquitto_publish(Mosq, nullptr, ToolTopic.c_str(), 6, "online", 1, true);
        mosquitto_subscribe(Mosq, nullptr, std::string(kHomeAssistantStatus).c_str(), 1);
        QueueStates(true);
        Pump();
    }

    void OnDisconnect() {
        const int error = errno; // the socket's, for the words
        {
            std::lock_guard lock(Mutex);
            IsConnected = false;
            LostErrno = error;
        }
        Notify();
    }

    void OnLoggedError(const std::string& text) {
        std::lock_guard lock(Mutex);
        if (Logged.size() < 400 && Logged.find(text) == std::string::npos)
            Logged += (Logged.empty() ? "" : "; ") + text;
    }

    void OnPuback(int mid) {
        {
            std::lock_guard lock(Mutex);
            if (mid == OfflineMid) OfflineAcked = true;
            if (auto it = InFlight.find(mid); it != InFlight.end()) {
                const int64_t key = it->second.Key;
                if (it->second.Digest == Suspect) Strikes = 0;
                InFlight.erase(it);
                if (key > 0) RemoveRow(key);
                ++AckCount;
                Pump();
            }
        }
        Notify();
    }

    void OnMessage(const mosquitto_message& message) {
        const std::string_view payload(static_cast<const char*>(message.payload), size_t(message.payloadlen));
        if (kHomeAssistantStatus != message.topic || payload != "online") return;
        {
            std::lock_guard lock(Mutex);
            QueueStates(false);
            Pump();
        }
        Notify();
    }

    platform::Outcome Configure(mosquitto* client);
    std::string Renew(std::unique_lock<std::mutex>& lock);
    void Run();
    std::pair<std::string, bool> Ended(int rc);
    std::string Blame();
    void ForgetFlights();
};

platform::Outcome Publisher::State::Configure(mosquitto* client) {
    using platform::Outcome;
    const BrokerOptions& o = Options;
    mosquitto_threaded_set(client, true); // published to from other threads than the loop's
    mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_max_inflight_messages_set(client, kInflightLimit);
    if (!o.User.empty() &&
        mosquitto_username_pw_set(client, o.User.c_str(), o.Password.empty() ? nullptr : o.Password.c_str()))
        return Outcome::Fail("The broker user name cannot be used.");
    if (!o.CaFile.empty()) {
        const int rc = mosquitto_tls_set(client, o.CaFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc == MOSQ_ERR_INVAL) return Outcome::Fail("The CA file " + o.CaFile + " cannot be read.");
        if (rc) return Outcome::Fail("TLS cannot be used (" + Text(rc) + ").");
    }
    if (mosquitto_will_set(client, ToolTopic.c_str(), 7, "offline", 1, true))
        return Outcome::Fail("The last will on " + ToolTopic + " cannot be set.");
    mosquitto_connect_callback_set(
        client, [](mosquitto*, void* s, int rc) { static_cast<State*>(s)->OnConnect(rc); });
    mosquitto_disconnect_callback_set(
        client, [](mosquitto*, void* s, int) { static_cast<State*>(s)->OnDisconnect(); });
    mosquitto_publish_callback_set(
        client, [](mosquitto*, void* s, int mid) { static_cast<State*>(s)->OnPuback(mid); });
    mosquitto_message_callback_set(client, [](mosquitto*, void* s, const mosquitto_message* m) {
        static_cast<State*>(s)->OnMessage(*m);
    });
    // A TLS handshake that fails (a certificate from another CA) says why
    // nowhere else.
    mosquitto_log_callback_set(client, [](mosquitto*, void* s, int level, const char* text) {
        if ((level & MOSQ_LOG_ERR) && text) static_cast<State*>(s)->OnLoggedError(text);
    });
    return platform::Ok();
}

// A client of its own for each connection. Called with the lock held, which
// is let go while the client is made: libmosquitto takes its own callback
// lock there, the one it holds when it calls back into us for the lock.
std::string Publisher::State::Renew(std::unique_lock<std::mutex>& lock) {
    mosquitto* old = std::exchange(Mosq, nullptr);
    lock.unlock();
    if (old) mosquitto_destroy(old);
    mosquitto* fresh =
        mosquitto_new(Options.ClientId.empty() ? nullptr : Options.ClientId.c_str(), true, this);
    std::string failed;
    if (!fresh)
        failed = "The MQTT client cannot be made (" + std::string(std::strerror(errno)) + ").";
    else if (const platform::Outcome configured = Configure(fresh); !configured)
        failed = configured.error;
    lock.lock();
    Mosq = fresh;
    return failed;
}

// The network thread: one connection after another, the lock let go while
// libmosquitto runs one, and a back-off between them that Close cuts short.
void Publisher::State::Run() {
    std::unique_lock lock(Mutex);
    for (bool first = true; !Stop; first = false) {
        std::pair<std::string, bool> ended{first ? std::string() : Renew(lock), true};
        if (ended.first.empty()) {
            Logged.clear();
            Refusal = LostErrno = 0;
            ConnectedAt = 0;
            lock.unlock();
            int rc =
                mosquitto_connect_async(Mosq, Options.Host.c_str(), Options.Port, Options.KeepaliveSeconds);
            const int refused = rc == MOSQ_ERR_ERRNO ? errno : 0; // at once, as on the loopback
            while (rc == MOSQ_ERR_SUCCESS && !Stop) rc = mosquitto_loop(Mosq, 1000, 1);
            lock.lock();
            if (Stop) break;
            if (refused) LostErrno = refused;
            ended = Ended(rc);
        }
        Failures = ended.second ? Failures + 1 : 0;
        const int64_t longest = Options.ReconnectMaxSeconds;
        const int64_t seconds =
            std::min(longest, int64_t{Options.ReconnectMinSeconds} << std::clamp(Failures - 1, 0, 20));
        Error = ended.first;
        Tell(ended.first + " Trying again in " + std::to_string(seconds) +
             " s; readings are kept in the outbox.");
        lock.unlock();
        Notify();
        lock.lock();
        Changed.wait_for(lock, std::chrono::seconds(seconds), [&] { return Stop.load(); });
    }
}

// Why the connection ended or never came, and whether that counts as a
// failed attempt; what was in flight goes back to be handed again. Lock held.
std::pair<std::string, bool> Publisher::State::Ended(int rc) {
    IsConnected = false;
    const std::string cause = rc == MOSQ_ERR_ERRNO && LostErrno ? std::strerror(LostErrno) : Text(rc);
    std::pair<std::string, bool> ended{{}, true};
    if (Refusal) {
        ended.first = RefusalText(Options, Refusal);
    } else if (ConnectedAt == 0) {
        ended.first = "The broker " + Broker + " cannot be reached" +
                      (Options.CaFile.empty() ? "" : " over TLS") + " (" + (Logged.empty() ? cause : Logged) +
                      ").";
    } else {
        const bool brief = SteadyMs() - ConnectedAt < kSteadyMs;
        ended = {"The connection to the broker " + Broker + " was lost (" + cause + ").", brief};
        // A frozen broker is no message's fault.
        if (rc != MOSQ_ERR_KEEPALIVE) ended.first += Blame();
        ShortLosses = brief ? ShortLosses + 1 : 0;
        if (ShortLosses >= kStrikes && Strikes <= 1 && !Options.ClientId.empty())
            ended.first +=
                " It was lost " + std::to_string(ShortLosses) +
                " times in a row soon after connecting: another client may be using the client id \"" +
                Options.ClientId + "\"; give each tool its own.";
    }
    ForgetFlights();
    return ended;
}

// The first message still unacknowledged when the broker closed the
// connection; the same one kStrikes times in a row is set aside. Lock held.
std::string Publisher::State::Blame() {
    if (InFlight.empty()) return {};
    const auto first = std::min_element(InFlight.begin(), InFlight.end(), [](const auto& a, const auto& b) {
        return a.second.Order < b.second.Order;
    });
    const Flight& f = first->second;
    Strikes = f.Digest == Suspect ? Strikes + 1 : 1;
    Suspect = f.Digest;
    if (Strikes < kStrikes) return {};
    ++SetAside;
    if (f.Retain) Refused.insert(f.Digest); // a state would be queued again on the next connect
    const std::string told =
        " The broker closed it " + std::to_string(Strikes) + " times in a row while the message on " +
        f.Topic + " (" + std::to_string(f.Bytes) +
        " bytes) was the first unacknowledged: it was set aside, the rest goes on (does the "
        "broker limit the packet size or refuse the topic?).";
    if (f.Key > 0) RemoveRow(f.Key);
    InFlight.erase(first);
    Strikes = 0;
    Suspect = 0;
    return told;
}

// The next client starts empty: what was in flight is handed again, in
// order, and counted as sent when it is. Lock held.
void Publisher::State::ForgetFlights() {
    std::vector<const Flight*> flights;
    for (const auto& [mid, flight] : InFlight) flights.push_back(&flight);
    std::sort(flights.begin(), flights.end(),
              [](const Flight* a, const Flight* b) { return a->Order < b->Order; });
    int64_t lowest = INT64_MAX;
    for (auto it = flights.rbegin(); it != flights.rend(); ++it) {
        if ((*it)->Held)
            Memory.push_front({(*it)->Key, *(*it)->Held});
        else
            lowest = std::min(lowest, (*it)->Key);
    }
    if (lowest != INT64_MAX) HandedUpTo = std::min(HandedUpTo, lowest - 1);
    Sent -= InFlight.size();
    InFlight.clear();
    OfflineMid = -1;
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
        MeterState& m = S->Meter(meter);
        if (!m.Discovered || m.FlowUnit != reading.FlowUnit || m.TotaliserUnit != reading.TotaliserUnit)
            done = S->QueueDiscovery(m, reading);
        if (done) done = S->Store({m.T.Reading, ReadingJson(meter, unixMs, reading), false}, false);
        S->Pump();
    }
    S->Notify();
    return done;
}

platform::Outcome Publisher::PublishArchive(const MeterId& meter, const ArchiveFields& record) {
    platform::Outcome done = platform::Ok();
    {
        std::lock_guard lock(S->Mutex);
        if (S->Closing) return platform::Outcome::Fail("The publisher is closed.");
        const MeterState& m = S->Meter(meter);
        const auto pushed = S->Box->PushWithMark({m.T.Archive, ArchiveRecordJson(meter, record), false},
                                                 "archive/" + MeterKey(meter), record.DateTime);
        S->TakeBoxNotes();
        if (!pushed) done = platform::Outcome::Fail(pushed.error);
        S->Pump();
    }
    S->Notify();
    return done;
}

platform::OrReason<std::optional<std::string>> Publisher::ArchiveMark(const MeterId& meter) const {
    std::lock_guard lock(S->Mutex);
    return S->Box->GetMark("archive/" + MeterKey(meter));
}

platform::Outcome Publisher::PublishConsumption(const MeterId& meter, const std::string& json,
                                                std::string_view carry) {
    platform::Outcome done = platform::Ok();
    {
        std::lock_guard lock(S->Mutex);
        if (S->Closing) return platform::Outcome::Fail("The publisher is closed.");
        const MeterState& m = S->Meter(meter);
        const auto pushed =
            S->Box->PushWithMark({m.T.Consumption, json, false}, "consumption/" + MeterKey(meter), carry);
        S->TakeBoxNotes();
        if (!pushed) done = platform::Outcome::Fail(pushed.error);
        S->Pump();
    }
    S->Notify();
    return done;
}

platform::OrReason<std::optional<std::string>> Publisher::ConsumptionMark(const MeterId& meter) const {
    std::lock_guard lock(S->Mutex);
    return S->Box->GetMark("consumption/" + MeterKey(meter));
}

platform::Outcome Publisher::SetAvailable(const MeterId& meter, bool available) {
    platform::Outcome done = platform::Ok();
    {
        std::lock_guard lock(S->Mutex);
        if (S->Closing) return platform::Outcome::Fail("The publisher is closed.");
        MeterState& m = S->Meter(meter);
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

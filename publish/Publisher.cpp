#include "publish/Publisher.h"

#include <mosquitto.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>

namespace publish {

namespace {

// Rows handed to libmosquitto at a time, below its in-flight limit so that
// every one of them goes out at once and a reconnect resends them in order.
constexpr size_t kWindow = 16;
constexpr int kInflightLimit = 20;

struct MeterState {
    MeterId Id;
    Topics T;
    bool Discovered = false;
    std::string FlowUnit, TotaliserUnit; // of the last discovery
    std::optional<bool> Available;
};

std::string Text(int rc) {
    return mosquitto_strerror(rc);
}

platform::Outcome Check(const BrokerOptions& o) {
    using platform::Outcome;
    if (o.Host.empty()) return Outcome::Fail("No broker host was given.");
    if (o.Port < 1 || o.Port > 65535) return Outcome::Fail("The broker port must be 1 to 65535.");
    if (o.KeepaliveSeconds < 5 || o.KeepaliveSeconds > 65535)
        return Outcome::Fail("The keepalive must be 5 to 65535 seconds.");
    if (o.ReconnectMinSeconds < 1 || o.ReconnectMaxSeconds < o.ReconnectMinSeconds)
        return Outcome::Fail(
            "The reconnect delays must be 1 second or more, the longest not below the shortest.");
    if (o.Prefix.empty() || o.Prefix.find_first_of("+#") != std::string::npos)
        return Outcome::Fail("The topic prefix must not be empty nor hold \"+\" or \"#\".");
    if (o.OutboxPath.empty()) return Outcome::Fail("No outbox file was given.");
    return platform::Ok();
}

} // namespace

struct Publisher::State {
    BrokerOptions Options;
    std::function<void()> OnChange;
    std::string ToolTopic;
    mosquitto* Mosq = nullptr;
    bool LoopRunning = false;

    mutable std::mutex Mutex;
    mutable std::condition_variable Changed;
    std::optional<Outbox> Box;
    std::map<int, int64_t> InFlight; // message id -> outbox seq
    int64_t HandedUpTo = 0;          // the last seq given to libmosquitto by this process
    bool IsConnected = false;
    bool Closing = false;
    int OfflineMid = -1;
    bool OfflineAcked = false;
    uint64_t Sent = 0, AckCount = 0;
    std::map<std::string, MeterState> Meters;
    std::string Error;

    ~State() {
        if (Mosq) mosquitto_destroy(Mosq);
    }

    void Notify() {
        Changed.notify_all();
        if (OnChange) OnChange();
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

    // Hands the next rows to libmosquitto while connected and the window has
    // room. Lock held.
    void Pump() {
        while (IsConnected && !Closing && InFlight.size() < kWindow) {
            const auto rows = Box->Peek(kWindow - InFlight.size(), HandedUpTo);
            if (!rows) {
                Error = rows.error;
                return;
            }
            if (rows->empty()) return;
            for (const OutboxRow& row : *rows) Hand(row);
        }
    }

    void Hand(const OutboxRow& row) {
        const Message& m = row.Content;
        int mid = 0;
        const int rc = mosquitto_publish(Mosq, &mid, m.Topic.c_str(), int(m.Payload.size()), m.Payload.data(),
                                         m.Qos, m.Retain);
        HandedUpTo = row.Seq;
        // libmosquitto 2.0 queues a QoS 1 message before it tries the socket:
        // one that meets a connection just lost goes out after the reconnect.
        if (m.Qos > 0 && (rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_NO_CONN)) {
            InFlight[mid] = row.Seq;
            ++Sent;
            return;
        }
        if (rc != MOSQ_ERR_SUCCESS) // never sendable: it would hold up every later row
            Error = "A message on " + m.Topic + " cannot be sent (" + Text(rc) + "); it was removed.";
        else
            ++Sent;
        if (auto removed = Box->Remove(row.Seq); !removed) Error = removed.error;
    }

    // Lock held.
    platform::Outcome PushState(const Message& message) {
        const auto pushed = Box->PushState(message, HandedUpTo);
        return pushed ? platform::Ok() : platform::Outcome::Fail(pushed.error);
    }
    platform::Outcome QueueDiscovery(MeterState& meter, const model::ReadingInUnits& units) {
        auto done = PushState(
            {meter.T.Discovery, DiscoveryJson(meter.Id, meter.T, units.FlowUnit, units.TotaliserUnit), true});
        if (done) {
            meter.Discovered = true;
            meter.FlowUnit = units.FlowUnit;
            meter.TotaliserUnit = units.TotaliserUnit;
        }
        return done;
    }
    platform::Outcome QueueAvailability(MeterState& meter) {
        return PushState({meter.T.Availability, *meter.Available ? "online" : "offline", true});
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
            if (!done) Error = done.error;
        }
    }

    void OnConnect(int rc) {
        {
            std::lock_guard lock(Mutex);
            if (rc != 0) {
                Error =
                    "The broker refused the connection (" + std::string(mosquitto_connack_string(rc)) + ").";
            } else {
                IsConnected = true;
                Error.clear();
                if (!Closing) Announce();
            }
        }
        Notify();
    }

    // Lock held, in libmosquitto's connect callback.
    void Announce() {
        mosquitto_publish(Mosq, nullptr, ToolTopic.c_str(), 6, "online", 1, true);
        mosquitto_subscribe(Mosq, nullptr, std::string(kHomeAssistantStatus).c_str(), 1);
        QueueStates(true);
        // What is still in flight goes again right after this callback, by
        // libmosquitto: anything handed now would overtake it. The rest
        // follows on its PUBACKs.
        if (InFlight.empty()) Pump();
    }

    void OnDisconnect(int rc) {
        {
            std::lock_guard lock(Mutex);
            if (rc != 0 && (IsConnected || Error.empty())) // a refusal's own text stays
                Error = (IsConnected ? "The connection to the broker was lost ("
                                     : "The broker cannot be reached (") +
                        Text(rc) + ").";
            IsConnected = false;
        }
        Notify();
    }

    void OnLoggedError(const std::string& text) {
        {
            std::lock_guard lock(Mutex);
            if (IsConnected) return;
            Error = "The connection to the broker failed: " + text + ".";
        }
        Notify();
    }

    void OnPuback(int mid) {
        {
            std::lock_guard lock(Mutex);
            if (mid == OfflineMid) OfflineAcked = true;
            if (auto it = InFlight.find(mid); it != InFlight.end()) {
                if (auto removed = Box->Remove(it->second); !removed) Error = removed.error;
                InFlight.erase(it);
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

    platform::Outcome Configure();
};

platform::Outcome Publisher::State::Configure() {
    using platform::Outcome;
    const BrokerOptions& o = Options;
    mosquitto_int_option(Mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_max_inflight_messages_set(Mosq, kInflightLimit);
    if (!o.User.empty() &&
        mosquitto_username_pw_set(Mosq, o.User.c_str(), o.Password.empty() ? nullptr : o.Password.c_str()))
        return Outcome::Fail("The broker user name cannot be used.");
    if (!o.CaFile.empty()) {
        const int rc = mosquitto_tls_set(Mosq, o.CaFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc == MOSQ_ERR_INVAL) return Outcome::Fail("The CA file " + o.CaFile + " cannot be read.");
        if (rc) return Outcome::Fail("TLS cannot be used (" + Text(rc) + ").");
    }
    if (mosquitto_will_set(Mosq, ToolTopic.c_str(), 7, "offline", 1, true))
        return Outcome::Fail("The last will on " + ToolTopic + " cannot be set.");
    mosquitto_reconnect_delay_set(Mosq, unsigned(o.ReconnectMinSeconds), unsigned(o.ReconnectMaxSeconds),
                                  true);
    mosquitto_connect_callback_set(
        Mosq, [](mosquitto*, void* s, int rc) { static_cast<State*>(s)->OnConnect(rc); });
    mosquitto_disconnect_callback_set(
        Mosq, [](mosquitto*, void* s, int rc) { static_cast<State*>(s)->OnDisconnect(rc); });
    mosquitto_publish_callback_set(
        Mosq, [](mosquitto*, void* s, int mid) { static_cast<State*>(s)->OnPuback(mid); });
    mosquitto_message_callback_set(
        Mosq, [](mosquitto*, void* s, const mosquitto_message* m) { static_cast<State*>(s)->OnMessage(*m); });
    // A TLS handshake that fails (a certificate from another CA) calls no
    // callback but this one: its words are the only reason there is.
    mosquitto_log_callback_set(Mosq, [](mosquitto*, void* s, int level, const char* text) {
        if ((level & MOSQ_LOG_ERR) && text) static_cast<State*>(s)->OnLoggedError(text);
    });
    return platform::Ok();
}

Publisher::Publisher() : S(std::make_unique<State>()) {}

platform::Reading<std::unique_ptr<Publisher>> Publisher::Start(const BrokerOptions& options,
                                                               std::function<void()> changed) {
    using Result = platform::Reading<std::unique_ptr<Publisher>>;
    if (auto checked = Check(options); !checked) return Result::Fail(checked.error);
    auto box = Outbox::Open(options.OutboxPath, options.Limits);
    if (!box) return Result::Fail(box.error);
    static std::once_flag init;
    std::call_once(init, [] { mosquitto_lib_init(); });

    std::unique_ptr<Publisher> p(new Publisher());
    State& s = *p->S;
    s.Options = options;
    s.OnChange = std::move(changed);
    s.ToolTopic = ToolAvailabilityTopic(options.Prefix);
    s.Box.emplace(std::move(*box.value));
    s.Mosq = mosquitto_new(options.ClientId.empty() ? nullptr : options.ClientId.c_str(), true, &s);
    if (!s.Mosq) return Result::Fail("The MQTT client cannot be created.");
    if (auto configured = s.Configure(); !configured) return Result::Fail(configured.error);
    // The thread first: libmosquitto 2.0 started after a connect that failed
    // at once waits for good for a connect nobody makes; started before, the
    // connect only queues and a refusal takes the reconnects' way.
    if (const int started = mosquitto_loop_start(s.Mosq))
        return Result::Fail("The MQTT network thread cannot be started (" + Text(started) + ").");
    s.LoopRunning = true;
    const int rc =
        mosquitto_connect_async(s.Mosq, options.Host.c_str(), options.Port, options.KeepaliveSeconds);
    if (rc == MOSQ_ERR_INVAL || rc == MOSQ_ERR_NOMEM) {
        mosquitto_loop_stop(s.Mosq, true); // it would wait for a connect for ever
        s.LoopRunning = false;
        return Result::Fail("The broker " + options.Host + " cannot be used (" + Text(rc) + ").");
    }
    if (rc) { // not there yet: the network thread tries again
        std::lock_guard lock(s.Mutex);
        // A reason libmosquitto logged meanwhile (a refused certificate) says more.
        if (s.Error.empty())
            s.Error = "The broker " + options.Host + ":" + std::to_string(options.Port) +
                      " is not reachable yet (" + Text(rc) + ").";
    }
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
        if (done) {
            const auto pushed = S->Box->Push({m.T.Reading, ReadingJson(meter, unixMs, reading), false});
            if (!pushed) done = platform::Outcome::Fail(pushed.error);
        }
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
        if (!pushed) done = platform::Outcome::Fail(pushed.error);
        S->Pump();
    }
    S->Notify();
    return done;
}

platform::Reading<std::optional<std::string>> Publisher::ArchiveMark(const MeterId& meter) const {
    std::lock_guard lock(S->Mutex);
    return S->Box->GetMark("archive/" + MeterKey(meter));
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
    return {S->Sent, S->AckCount, S->Box->Count(), S->Box->Dropped()};
}

std::string Publisher::LastError() const {
    std::lock_guard lock(S->Mutex);
    return S->Error;
}

bool Publisher::WaitIdle(std::chrono::milliseconds limit) const {
    std::unique_lock lock(S->Mutex);
    return S->Changed.wait_for(lock, limit, [&] { return S->InFlight.empty() && S->Box->Count() == 0; });
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
    }
    if (S->LoopRunning) {
        mosquitto_disconnect(S->Mosq);
        mosquitto_loop_stop(S->Mosq, false);
        S->LoopRunning = false;
    }
}

} // namespace publish

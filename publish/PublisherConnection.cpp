// The publisher's network thread and libmosquitto's callbacks: one client
// made anew for each connection, the back-off between attempts, and why a
// connection ended in words that say what to mend.
#include "publish/PublisherState.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <string_view>

namespace publish {

namespace {

// The first unacknowledged message of this many lost connections in a row
// is set aside: sent again, it would only end the next one too.
constexpr int kStrikes = 3;
// A connection lost sooner than this counts as a failed attempt: the
// back-off grows on instead of starting over, and a flapping one is told.
constexpr int64_t kSteadyMs = 10000;

int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

std::string Publisher::State::Text(int rc) {
    std::string text = mosquitto_strerror(rc);
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

Publisher::State::~State() {
    if (Mosq) mosquitto_destroy(Mosq);
}

void Publisher::State::OnConnect(int rc) {
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
void Publisher::State::Announce() {
    mosquitto_publish(Mosq, nullptr, ToolTopic.c_str(), 6, "online", 1, true);
    mosquitto_subscribe(Mosq, nullptr, std::string(kHomeAssistantStatus).c_str(), 1);
    QueueStates(true);
    Pump();
}

void Publisher::State::OnDisconnect() {
    const int error = errno; // the socket's, for the words
    {
        std::lock_guard lock(Mutex);
        IsConnected = false;
        LostErrno = error;
    }
    Notify();
}

void Publisher::State::OnLoggedError(const std::string& text) {
    std::lock_guard lock(Mutex);
    if (Logged.size() < 400 && Logged.find(text) == std::string::npos)
        Logged += (Logged.empty() ? "" : "; ") + text;
}

void Publisher::State::OnPuback(int mid) {
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

void Publisher::State::OnMessage(const mosquitto_message& message) {
    const std::string_view payload(static_cast<const char*>(message.payload), size_t(message.payloadlen));
    if (kHomeAssistantStatus != message.topic || payload != "online") return;
    {
        std::lock_guard lock(Mutex);
        QueueStates(false);
        Pump();
    }
    Notify();
}

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

} // namespace publish

// What the publisher's two halves share: Publisher.cpp stores the messages
// and hands them to libmosquitto for the tool's thread, PublisherConnection.cpp
// makes one connection after another on the network thread and takes
// libmosquitto's callbacks. The locking rules are Publisher.h's.
#pragma once

#include "publish/Publisher.h"

#include <mosquitto.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace publish {

struct Publisher::State {
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

    // Rows handed to libmosquitto at a time, below its in-flight limit so that
    // every one of them goes out at once, in order.
    static constexpr size_t kWindow = 16;
    static constexpr int kInflightLimit = 20;

    // libmosquitto's words for a result code, without the full stop.
    static std::string Text(int rc);

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

    ~State();

    void Notify();

    // The messages (Publisher.cpp); lock held.
    void Tell(std::string text);
    void TakeBoxNotes();
    void Trouble(bool& failing, const std::string& text);
    MeterState& Meter(const MeterId& id);
    platform::Outcome Store(const Message& m, bool state);
    void Pump();
    void Hand(int64_t key, const Message& m);
    void RemoveRow(int64_t seq);
    platform::Outcome QueueDiscovery(MeterState& meter, const model::ReadingInUnits& units);
    platform::Outcome QueueAvailability(MeterState& meter);
    void QueueStates(bool availability);

    // A message stored with its kind's mark ("archive/", "consumption/") in
    // one outbox transaction, so that the mark never names what is not
    // stored; each takes the lock.
    platform::Outcome PushMarked(const MeterId& meter, std::string Topics::*topic, const std::string& json,
                                 std::string_view kind, std::string_view mark);
    platform::OrReason<std::optional<std::string>> Mark(std::string_view kind, const MeterId& meter) const;

    // libmosquitto's callbacks (PublisherConnection.cpp); each takes the lock.
    void OnConnect(int rc);
    void OnDisconnect();
    void OnLoggedError(const std::string& text);
    void OnPuback(int mid);
    void OnMessage(const mosquitto_message& message);

    // The connections (PublisherConnection.cpp).
    void Announce();
    platform::Outcome Configure(mosquitto* client);
    std::string Renew(std::unique_lock<std::mutex>& lock);
    void Run();
    std::pair<std::string, bool> Ended(int rc);
    std::string Blame();
    void ForgetFlights();
};

} // namespace publish

// The meters' readings on an MQTT broker, through the outbox: every message
// is stored first and sent when the broker is there, in the order stored,
// and leaves the outbox only on the broker's PUBACK. QoS 1 is at least once:
// a message the broker took but whose PUBACK was lost (the broker or this
// program died in between) is sent again; one the broker acknowledged is not.
//
// A network thread of ours makes one connection after another, each with a
// libmosquitto client made anew, and drives it with mosquitto_loop; between
// attempts it waits out a back-off (doubled after each failure, up to
// ReconnectMaxSeconds) that Close cuts short. libmosquitto's own thread
// gives up for good after a failed TLS handshake or a protocol error, and
// the fresh client leaves nothing of an old connection queued in it: what
// was in flight is handed again from the outbox, in order. All shared state
// is under one mutex; libmosquitto calls back holding only its callback
// lock, which no call made under that mutex takes, so the two never wait on
// each other. mosquitto_new ignores SIGPIPE for the whole process.
//
// What the broker can take must not hang on the disk: a message the outbox
// cannot store (a full disk) waits in memory instead and goes first. A
// message the broker drops the connection over three times in a row (too
// large for its max_packet_size, say) is set aside, so that the rest goes
// on. Every failed attempt, refusal and such event is told once through
// TakeNotices(), in words that say what to mend.
//
// Meter availability and discovery are states: they go through the outbox
// too, so that they keep their place among the readings, but a newer one
// replaces an older one that has not been sent yet. On every connect the
// tool says "online" (retained; the last will says "offline"), subscribes
// to Home Assistant's status and queues every known meter's discovery and
// availability again; "online" on that status queues the discoveries again.
#pragma once

#include "publish/BrokerOptions.h"
#include "publish/Outbox.h"
#include "publish/Payloads.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace publish {

// Outbox messages only; the tool's own "online"/"offline" are not counted.
struct PublishCounts {
    uint64_t Sent = 0;         // handed to the broker (resends after a restart included)
    uint64_t Acknowledged = 0; // PUBACKs, each removing its row
    int64_t Queued = 0;        // rows in the outbox now
    int64_t Dropped = 0;       // rows the cap dropped, ever
    uint64_t Unstored = 0;     // sent from memory, as the outbox could not store them
    uint64_t SetAside = 0;     // given up on: the broker would not take them
};

class Publisher {
public:
    // Opens the outbox and starts connecting; a broker that is not there yet
    // is no error (the messages wait). `changed`, when given, is called from
    // any thread after the connection or the counts change, with no lock
    // held: a loop's wake-up, say.
    static platform::OrReason<std::unique_ptr<Publisher>> Start(const BrokerOptions& options,
                                                               std::function<void()> changed = {});
    ~Publisher(); // Close() with its default flush
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // A reading on the meter's reading topic; the meter's first reading and
    // one in other units than before also queue its discovery first.
    platform::Outcome PublishReading(const MeterId& meter, int64_t unixMs,
                                     const model::ReadingInUnits& reading);
    // An archive record on the archive topic, and its date and time as the
    // meter's archive mark in the same transaction.
    platform::Outcome PublishArchive(const MeterId& meter, const ArchiveFields& record);
    // The last archive record published for the meter ("YYYY-MM-DD HH:MM:SS").
    platform::OrReason<std::optional<std::string>> ArchiveMark(const MeterId& meter) const;
    // A finished hour's consumption (ConsumptionJson) on the consumption
    // topic, not retained, and `carry` (what the hours after it need) as the
    // meter's consumption mark in the same transaction.
    platform::Outcome PublishConsumption(const MeterId& meter, const std::string& json,
                                         std::string_view carry);
    platform::OrReason<std::optional<std::string>> ConsumptionMark(const MeterId& meter) const;
    // "online" or "offline", retained, on the meter's availability topic.
    platform::Outcome SetAvailable(const MeterId& meter, bool available);

    bool Connected() const;
    PublishCounts Counts() const;
    // The last refusal or loss of the connection, in English; empty if none.
    std::string LastError() const;
    // What happened since the last call, each told once, oldest first: every
    // failed attempt to connect and why, the connect, the outbox's troubles.
    std::vector<std::string> TakeNotices();

    // Waits until the outbox is empty and nothing is in flight; false at the deadline.
    bool WaitIdle(std::chrono::milliseconds limit) const;
    // Says "offline", waits up to `flush` for what is in flight to be
    // acknowledged, disconnects and stops the network thread. What is still
    // in the outbox stays there for the next start. Later calls do nothing.
    void Close(std::chrono::milliseconds flush = std::chrono::seconds(3));

private:
    struct State;
    Publisher();
    std::unique_ptr<State> S;
};

} // namespace publish

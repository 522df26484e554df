// The messages not yet acknowledged by the broker, in an SQLite file: a
// message pushed here is on disk when Push returns (a kill -9 or a power cut
// after that loses nothing), leaves only when the broker has acknowledged it
// and is sent again after a restart otherwise. Bounded: past the cap the
// oldest messages are dropped and counted, in the file, across restarts.
// Also keeps a few marks (key and text), such as the last archive record
// published for each meter.
//
// It looks after its file: a damaged one (SQLite's quick check at the open,
// or an error that says so later) is moved aside as PATH.damaged-TIME and a
// new one started; one deleted while open is made anew from the rows still
// held. The write-ahead log stays small: checkpointed every few hundred
// pages and emptied whenever the outbox has drained, when free pages of a
// past backlog are given back too. Near a full disk it stops growing: a new
// message takes the place of the oldest, so that there is always room to
// remove what the broker acknowledges. What happened is told once through
// TakeNotes().
//
// One process at a time: the file stays locked while it is open, so that a
// second tool on the same file is refused instead of sending everything
// twice. Not for several threads at once: the publisher serialises it.
#pragma once

#include "platform/OrReason.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace publish {

struct OutboxLimits {
    int64_t MaxRows = 200000;             // about two days of one reading a second
    int64_t MaxBytes = 256 * 1024 * 1024; // topics and payloads
    // Free space left on the file system: below it the outbox keeps to its
    // size, new messages replacing the oldest (dropped and counted).
    int64_t KeepFreeBytes = 2 * 1024 * 1024;
};

struct Message {
    std::string Topic;
    std::string Payload;
    bool Retain = false;
    int Qos = 1;
};

struct OutboxRow {
    int64_t Seq = 0; // grows with every push, never reused
    Message Content;
    int64_t CreatedMs = 0; // epoch ms of the push
};

class Outbox {
public:
    static platform::OrReason<Outbox> Open(const std::string& path, OutboxLimits limits = {});
    Outbox(Outbox&&) noexcept;
    Outbox& operator=(Outbox&&) noexcept;
    ~Outbox();

    // The new row's seq once it is on disk.
    platform::OrReason<int64_t> Push(const Message& message);
    // A state, of which only the latest counts (availability, discovery): the
    // topic's rows after `handedUpTo`, which nobody has sent yet, give way.
    platform::OrReason<int64_t> PushState(const Message& message, int64_t handedUpTo);
    // With the mark set in the same transaction, so that the mark never names
    // something the file does not hold.
    platform::OrReason<int64_t> PushWithMark(const Message& message, std::string_view key,
                                            std::string_view value);

    // Up to n rows after seq `after`, oldest first.
    platform::OrReason<std::vector<OutboxRow>> Peek(size_t n, int64_t after = 0) const;
    // Removing a row that is not there (dropped meanwhile) is no error. One
    // that cannot be removed now (a full disk) is tried again with the next.
    platform::Outcome Remove(int64_t seq);

    int64_t Count() const;   // rows held
    int64_t Dropped() const; // rows dropped by the cap, ever

    platform::OrReason<std::optional<std::string>> GetMark(std::string_view key) const;
    platform::Outcome SetMark(std::string_view key, std::string_view value);

    // What befell the file since the last call, each told once: moved aside
    // as damaged, made anew after it was deleted, the disk nearly full.
    std::vector<std::string> TakeNotes();

private:
    struct Db;
    explicit Outbox(std::unique_ptr<Db> db);
    using Mark = std::pair<std::string_view, std::string_view>;
    platform::OrReason<int64_t> Insert(const Message& message, std::optional<int64_t> replaceAfter,
                                      const Mark* mark);
    platform::OrReason<int64_t> InsertOnce(const Message& message, std::optional<int64_t> replaceAfter,
                                          const Mark* mark);
    std::unique_ptr<Db> D;
};

} // namespace publish

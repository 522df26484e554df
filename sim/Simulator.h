// A simulated VQT540 flowmeter: a MODBUS RTU slave on a pseudo-terminal or a
// serial device, or the meters behind an Ethernet gateway on a TCP port of
// the loopback (RTU frames as they are, or MODBUS TCP). Its framing code is
// its own on purpose: it shares nothing with modbus/, so a fault in one side
// cannot hide the same fault in the other.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vqtsim {

enum class Fault {
    None,
    Silence,       // never answer
    Late,          // answer after FaultDelayMs
    BadCrc,        // answer with the last CRC byte flipped
    Exception,     // answer every request with exception code FaultCode
    Split,         // pause FaultDelayMs after the 5th byte of the answer
    TrailingNoise, // append FaultCode extra bytes (0x55) to the answer
    // Well-formed answers (CRC right) that are not the meter's proper one:
    ForeignAddress,  // slave address FaultCode in byte 0, as another device on the line
    ForeignFunction, // function code FaultCode in byte 1, the length of the proper answer
    ByteCount,       // a function-03 answer whose byte count (byte 2) says FaultCode
};

// An impossible date in an archive record, as a meter with a bad clock or
// a half-written record shows it.
enum class DateFault {
    Month13,  // month 13
    Day32,    // day 32
    Time2561, // 25:61
    Year999,  // year 999
};

struct BadDate {
    int slot; // in reading order: file (slot / 3225) + 1, record index slot % 3225
    DateFault fault;
};

// Records spoiled as a real archive may hold them.
struct ArchiveDamage {
    // >= 0: the dated record with this many newer ones is all 0xFF bytes
    // (flash erased, year 65535), the older ones and the newer ones kept in
    // their places. A master that took that record for the newest at an
    // earlier download, and stops at an all-0xFF record, misses the newer.
    int erasedBefore = -1;
    std::vector<BadDate> badDates; // applied after the wrap, on dated records only
};

// A meter that stops answering `after` seconds after Start(), for
// `duration` seconds (0: for ever), and then answers again.
struct SilentSpell {
    uint8_t address;
    double after;
    double duration = 0;
};

struct Options {
    uint8_t address = 1;
    // When not empty: a line of several meters at these addresses, each with
    // its own registers, archive and counters; `address` is not used then.
    // The first of them is the one the accessors without an address mean.
    std::vector<uint8_t> addresses;
    uint32_t baudRate = 9600; // for wire-time emulation (11 bits per character)
    bool wireTiming = true;   // delay each answer by its wire time
    std::string device;       // open this serial device instead of a pty
    std::string linkDir;      // with a pty: create linkDir/linkName -> pty slave
    std::string linkName = "COM1";
    int archiveRecords = 100;    // dated records before the all-zero end record
    bool archiveWrapped = false; // ring buffer: newest records first in reading order
    std::time_t archiveNow = 0;  // the newest record is the last quarter hour before this (0: now)
    ArchiveDamage archiveDamage;
    uint32_t seed = 1; // for the drop probability and the live values
    int parity = 0;    // 0 none, 1 odd, 2 even: of the serial device, or the meter's own on a pty
    // On a pty, where speed and parity do nothing: answer as a real line
    // would when the master's side is set otherwise than the meter. Another
    // speed: the meter cannot read the request and stays silent. The same
    // speed with another parity: it answers, and the master gets the bytes
    // garbled (no good frame). A Linux pty keeps the speed and PARODD but
    // clears PARENB, so there odd parity is told from none and even, and
    // none from even not at all.
    bool strictLine = false;
    std::vector<SilentSpell> silences;
    // An Ethernet gateway in front of the meters instead of a pty or device
    // (no pty, no link; parity and strictLine unused, a device refused): listen on
    // 127.0.0.1 at this port (-1: any free one, see TcpPort(); 0: no gateway).
    // At most one of the two. One client at a time: the next waits in the
    // listen backlog, connected but unanswered, until the one served
    // disconnects. Wire timing, faults and counters as on the line, with the
    // serial wire time of the RTU request and answer.
    // rtuTcpPort: a transparent serial server; the bytes both ways are the
    // RTU frames of the line, framed the same way.
    // modbusTcpPort: MODBUS TCP; an ADU (MBAP header + PDU) per request, its
    // unit id as the meter's address; the answer echoes the transaction id,
    // the unit id is the answer's address byte (so ForeignAddress changes
    // it), the PDU is the meter's without address and CRC. Unit id 0 is a
    // broadcast: no answer. Any other unit id nobody has: exception 0x0B
    // (target failed to respond), with wire timing 50 ms after the request's
    // wire time, else at once; counted by no meter. BadCrc: exception 0x0B,
    // as a gateway reports a damaged answer. TrailingNoise: the 0x55 bytes
    // after the ADU; Split: a pause after the ADU's 5th byte; Late: the
    // answer late, with its own request's transaction id. A header with a
    // protocol id other than 0 or a length outside 2..254 ends the connection.
    int rtuTcpPort = 0;
    int modbusTcpPort = 0;
    // Through TCP: close a connection once its dropAfter-th request has
    // been dealt with (0: never); the next connection counts anew. See SetDropAfter.
    int dropAfter = 0;
};

// One entry of the traffic log: a frame taken off the line and the answer sent
// (empty when the simulator stayed silent), with a note saying why it was silent
// or that the bytes were discarded as noise.
struct TrafficEvent {
    std::vector<uint8_t> request;
    std::vector<uint8_t> answer;
    std::string note;
};

// One archive record as the meter stores it (22 bytes, see BuildRecord).
using Record = std::array<uint8_t, 22>;

class Simulator {
public:
    explicit Simulator(Options options);
    ~Simulator(); // stops the serving thread and removes the link
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the pty (or device), creates the link, starts serving on a thread.
    // False with Error() set when that fails.
    bool Start();
    void Stop();
    const std::string& Error() const;

    const std::string& DevicePath() const; // e.g. /dev/pts/7; empty when serving TCP
    const std::string& LinkPath() const;   // linkDir/linkName, empty without a link
    // The TCP port listened on while serving as a gateway, else 0.
    uint16_t TcpPort() const;

    // Fault injection; safe to change while serving.
    void SetFault(Fault fault, int code = 0, int delayMs = 0);
    void SetDropProbability(double p); // 0..1: share of requests left unanswered
    void SetFaultShare(double share);  // 0..1: share of requests that get the fault (1 at start)
    void SetWireTiming(bool on);
    // Through TCP: close each connection once it has brought this many
    // requests (answered or not; 0: never), counted from its start; what the
    // client sent after them is thrown away. No effect on a pty or device.
    void SetDropAfter(int requests);
    // A meter that has fallen silent takes the requests to it (RequestsSeen
    // counts them) and answers none, whatever the fault, until set back; the
    // spells of Options::silences silence it as well.
    void SetSilent(uint8_t address, bool silent);

    // The meters' addresses on the line, the first meter's first.
    const std::vector<uint8_t>& Addresses() const;

    // The accessors without an address are the first meter's; those with
    // one give zeros, and change nothing, for an address nobody has.

    // The 27 registers (index 0 = register 1), as the next read returns them.
    std::array<uint16_t, 27> Registers() const;
    std::array<uint16_t, 27> Registers(uint8_t address) const;
    void SetRegister(int number, uint16_t value); // 1-based
    void SetRegister(uint8_t address, int number, uint16_t value);
    // Freeze the live values (flow, totalisers) of every meter so tests see fixed data.
    void SetLive(bool on);

    // Archive contents in reading order for file f (1..4), record index i (0..3224).
    Record ArchiveRecord(int file, int index) const;
    Record ArchiveRecord(uint8_t address, int file, int index) const;

    // Counters (thread-safe).
    uint64_t RequestsSeen() const; // complete frames addressed to the meter
    uint64_t RepliesSent() const;
    uint64_t WritesApplied() const;
    uint64_t RequestsSeen(uint8_t address) const;
    uint64_t RepliesSent(uint8_t address) const;
    uint64_t WritesApplied(uint8_t address) const;
    uint64_t ConnectionsAccepted() const; // TCP clients taken so far

    // Called on the serving thread for every frame and every run of discarded
    // bytes. Set it before Start().
    void SetTrafficLog(std::function<void(const TrafficEvent&)> log);
    // CPU time used so far by the serving thread (zero when not serving).
    std::chrono::nanoseconds ServingCpuTime() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Frame handling, exposed for the simulator's own tests.
uint16_t SimCrc(const uint8_t* data, size_t n);
// Answer for one complete request frame (CRC already checked), as the meter
// would send it; empty when it would stay silent. Applies writes to regs.
std::vector<uint8_t> Answer(const std::vector<uint8_t>& request, uint8_t address,
                            std::array<uint16_t, 27>& regs, const std::vector<Record>& archive);
// The proper answer as a hostile meter sends it for ForeignAddress,
// ForeignFunction and ByteCount, with its CRC made right again; any other
// fault, and ByteCount on an answer other than function 03's, leave it.
void Misframe(std::vector<uint8_t>& answer, Fault fault, int code);
// Length of a complete request at the start of buf, 0 if more bytes are needed,
// -1 if the bytes cannot start a request this slave understands.
int RequestLength(const uint8_t* buf, size_t n);

// A dated archive record: year, month, day, hour, minute, second, flow (m3/h),
// totalisers in tenths, flags byte (bit 0 litres, bits 2..7 events).
Record BuildRecord(int year, int month, int day, int hour, int minute, int second, float flow,
                   int32_t forward, int32_t reverse, uint8_t flags);

constexpr int kArchiveFiles = 4;
constexpr int kRecordsPerFile = 3225;
constexpr int kArchiveSlots = kArchiveFiles * kRecordsPerFile;

// The whole archive in reading order (kArchiveSlots records): `records` dated
// records a quarter of an hour apart, the newest at the last quarter hour
// before `now`, then all-zero records. `wrapped` rotates the dated records so
// that the newest tenth comes first, as in a ring buffer that went round.
// `damage` spoils some of the dated records.
std::vector<Record> MakeArchive(int records, bool wrapped, uint32_t seed, std::time_t now,
                                const ArchiveDamage& damage = {});

// Registers as a fresh meter reports them.
std::array<uint16_t, 27> DefaultRegisters();

// Range value in thousandths of m3/h for a range position of a DN index;
// 0 when the DN has no range at that position.
int32_t RangeValue(int dnIndex, int position);

} // namespace vqtsim

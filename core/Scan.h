// Looking for the meter on the line: the parameter read sent to every
// address at the common speeds and parities, until a meter answers.
//
// Most often "the meter does not answer" is a meter at another address,
// speed or parity than the page says. A probe's time-out is the read's time
// on the wire at its speed plus a margin, not the page's time-out, so that a
// silent address costs little. The probes go: speeds in order (the page's
// first), at each the parities (the page's first), at each the addresses
// (the page's first). Bytes that come back without a good frame mean that
// something answers with other settings: that address is tried with the
// speed's other parities at once.
#pragma once

#include "core/LinkState.h"

#include "modbus/Transaction.h"
#include "platform/OrReason.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace core {

// The speeds a scan tries, the page's first: 9600, 19200, 115200, 38400,
// 57600, 4800, 2400, 1200 after it.
std::vector<uint32_t> ScanSpeeds(uint32_t first);
// The parities a scan tries, the page's first (codes of the port).
std::vector<uint8_t> ScanParities(uint8_t first);
// The addresses a scan tries: `first` first (when in range), then low to high.
std::vector<int> ScanAddresses(int first, int lowest = modbus::kLowestAddress,
                               int highest = modbus::kHighestAddress);
// The time a probe waits at a speed: request and reply on the wire, and a
// margin for the meter and the adapter.
int32_t ProbeTimeoutMs(uint32_t baud);

struct ScanPlan {
    std::string PortName;
    uint8_t StopBits = modbus::kOneStopBit; // kept as the page says: reads go out with two
    std::vector<uint32_t> Speeds;
    std::vector<uint8_t> Parities;
    std::vector<int> Addresses;
    bool All = false; // go on after the first meter
    // Added to every probe's time-out: a gateway's network hop and its own
    // turn-round. Speed and parity are the gateway's, so it is probed at one.
    int32_t NetworkMs = 0;
};

// What a scan through a gateway allows for the network on each probe.
inline constexpr int32_t kGatewayProbeMs = 250;
// A plan made for a serial line, narrowed for a gateway port: only the
// addresses are looked for.
void FitToGateway(ScanPlan& plan);

// A search from what the communication page says: its port and stop bits,
// and its own speed, parity and address as the first probe (9600 bit/s, no
// parity and address 1 where it names none). Refused without a port.
platform::OrReason<ScanPlan> PlanFromPage(const modbus::LinkChoice& page);

struct ScanFinding {
    modbus::LinkSettings Link;
    std::string Version;  // of a meter's good read; empty for another device's answer
    std::string Diameter; // "DN 100", likewise
    std::string Answer;   // the result text of the reply
};

struct ScanProgress {
    int Probed = 0;
    int Total = 0;
    modbus::LinkSettings Probing;
    int64_t MsLeft = 0; // the probes left at their time-outs: at most this long
};

class ScanView {
public:
    virtual ~ScanView() = default;
    // A steady clock in milliseconds.
    virtual int64_t NowMs() = 0;
    virtual void ShowProgress(const ScanProgress&) {}
    virtual void Found(const ScanFinding&) {}
    // Bytes came back at these settings, but no good frame.
    virtual void OtherSettingsAnswer(const modbus::LinkSettings&) {}
    virtual void Finished() {}
    // Thread-safe: an early Wake once a probe has finished (empty: none).
    virtual std::function<void()> CompletionNotifier() { return {}; }
};

class Scan {
public:
    Scan(modbus::TransactionFactory factory, ScanView& view);
    ~Scan();

    void Start(ScanPlan plan);
    // Does what is due now: a finished probe, or one at its time-out.
    void Wake();
    // When Wake has something to do next, unless a probe finishes first.
    std::optional<int64_t> NextWakeMs() const;
    // Ends the scan now: the probe in flight is given up.
    void Stop();
    bool Running() const { return Active; }

    std::vector<ScanFinding> Findings;
    std::vector<modbus::LinkSettings> OtherSettings;

private:
    struct Probe {
        size_t Speed, Parity, Address;
    };
    void StartProbe();
    void Judge(bool timedOut);
    void Next();
    void Finish();
    modbus::LinkSettings LinkOf(const Probe& p) const;
    void Report();

    modbus::TransactionFactory Factory;
    ScanView& View;
    ScanPlan Plan;
    bool Active = false;
    std::unique_ptr<modbus::Transaction> Current;
    Probe At{};    // the probe in flight
    Probe Sweep{}; // where the sweep through every probe has got to
    int64_t ProbeStart = 0;
    bool Signalled = false; // the probe in flight was told to stop waiting
    int Probed = 0;
    bool QuietNext = false; // after bytes that were no good frame
    // Addresses to try again at once with the other parities of this speed.
    std::vector<Probe> Retry;
    std::vector<std::vector<bool>> Tried; // per speed: (parity, address) done
};

} // namespace core

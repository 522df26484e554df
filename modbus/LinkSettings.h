// The line's settings: the one table of speeds, parities and stop bits
// that the window's lists, the settings file, the tool's options and the
// scan all use. model/LinkCheck.h checks a choice against it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace modbus {

// Parity codes: 0 none, 1 odd, 2 even. Stop-bit codes: 0 one, 2 two.
inline constexpr uint8_t kNoParity = 0, kOddParity = 1, kEvenParity = 2;
inline constexpr uint8_t kOneStopBit = 0, kTwoStopBits = 2;

// The addresses a meter can have: 0 would be a broadcast that every meter on
// the line obeys without answering, and above 247 the protocol reserves.
inline constexpr int32_t kLowestAddress = 1, kHighestAddress = 247;
constexpr bool IsDeviceAddress(int32_t address) {
    return address >= kLowestAddress && address <= kHighestAddress;
}

// The speeds, in the order of the window's list and the settings file's index.
inline constexpr std::array<uint32_t, 8> kSpeeds = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
// The order a search tries them: the common ones first.
inline constexpr std::array<uint32_t, 8> kSearchSpeeds = {9600,  19200, 115200, 38400,
                                                          57600, 4800,  2400,   1200};

struct ParityEntry {
    uint8_t Code;
    std::string_view Text; // the window's list and the settings file
    std::string_view Name; // the tool's option
};
inline constexpr std::array<ParityEntry, 3> kParities = {{
    {kNoParity, "Brak", "none"},
    {kEvenParity, "Parzyste", "even"},
    {kOddParity, "Nieparzyste", "odd"},
}};

struct StopBitsEntry {
    uint8_t Code;
    std::string_view Text;
};
inline constexpr std::array<StopBitsEntry, 2> kStopBits = {{{kOneStopBit, "1"}, {kTwoStopBits, "2"}}};

inline constexpr int kPortCount = 12; // "COM1" ... "COM12"

std::optional<size_t> SpeedIndex(uint32_t baud);
std::optional<size_t> ParityIndex(uint8_t code);
std::optional<size_t> ParityIndexOfName(std::string_view name);
std::optional<size_t> StopBitsIndex(uint8_t code);

// Port settings, slave address and reply time-out of one transaction, as
// read from the communication page (or the tool's options) when the
// transaction starts.
struct LinkSettings {
    std::string PortName;
    uint32_t BaudRate = 0;
    uint8_t Parity = kNoParity;
    uint8_t StopBits = kOneStopBit;
    uint8_t DeviceAddress = 0;
    // The cycle gives the transaction up after this long; the worker's own
    // wait ends later by itself (WorkerDeadlineMs), so that no worker is
    // ever left waiting for a cycle that has gone.
    int32_t TimeoutMs = 1000;
    bool operator==(const LinkSettings&) const = default;
};

// What a page, a settings file or a command line chose, before it is checked.
struct LinkChoice {
    std::string Port;                              // empty: none chosen
    std::optional<size_t> Speed, Parity, StopBits; // indexes into the tables
    std::string Address;                           // as typed
    int32_t TimeoutMs = 1000;
};

} // namespace modbus

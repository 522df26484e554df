// The meter's 27 registers as the 59-byte function-03 reply holds them, and
// the codecs of its fields. Offsets are reply offsets: register n has its high
// byte at 3 + 2(n-1).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace model {

// The first 256 bytes of the worker's reply buffer after a good read.
using ParameterBlock = std::array<uint8_t, 256>;

// Reply offsets of the fields.
namespace offset {
inline constexpr size_t DnIndex = 4;
inline constexpr size_t Flags = 6;
inline constexpr size_t Alarms = 8;
inline constexpr size_t Cutoff = 10;
inline constexpr size_t TimeConstant = 12;
inline constexpr size_t Range = 13;
inline constexpr size_t Alarm1 = 17;
inline constexpr size_t Alarm2 = 21;
inline constexpr size_t KorK = 25;
inline constexpr size_t KorC = 29;
inline constexpr size_t Flow = 33;
inline constexpr size_t ForwardTotaliser = 37;
inline constexpr size_t ReverseTotaliser = 41;
inline constexpr size_t ArchivePeriod = 46;
inline constexpr size_t Version = 47;
inline constexpr size_t VersionLength = 10;
} // namespace offset

// Big-endian signed 32-bit value at offset..offset+3. Bytes past the block
// read as 0, so no offset reaches outside it.
int32_t byteToInteger(const ParameterBlock& block, size_t offset);
// The same four bytes as a big-endian IEEE-754 single.
float byteToSingle(const ParameterBlock& block, size_t offset);

// Flags byte: flow unit in bits 0-1 (3 has no text), totaliser unit in bit 2,
// pulse weight in bits 3-4; bits 5-7 are ignored.
inline uint8_t getPrzeplyw(uint8_t flags) {
    return flags & 0x03u;
}
inline uint8_t getLicznik(uint8_t flags) {
    return (flags >> 2) & 0x01u;
}
inline uint8_t getImpuls(uint8_t flags) {
    return (flags >> 3) & 0x03u;
}

// The first 256 bytes of a finished read's reply buffer.
ParameterBlock CopyParameterBlock(const uint8_t* reply);

// Pending writes of the main window. Slot A carries two registers, slot B one;
// the polling cycle hands at most one slot to each new transaction.
struct WriteSlots {
    bool LongWritePending = false;
    int32_t LongWriteValue = 0;
    uint8_t LongWriteRegister = 0; // first of the two registers, 1-based
    bool ShortWritePending = false;
    uint8_t ShortWriteHigh = 0;
    uint8_t ShortWriteLow = 0;
    uint8_t ShortWriteRegister = 0; // 1-based
};

// The codes of the last good read, all 0 until the first one.
struct CachedIndexes {
    uint8_t FlowUnitIndex = 0;
    uint8_t TotaliserUnitIndex = 0;
    uint8_t ReverseTotaliserUnitIndex = 0;
    uint8_t PulseWeightIndex = 0;
    uint8_t TimeConstantIndex = 0;
    uint8_t ArchivePeriodIndex = 0;
    bool operator==(const CachedIndexes&) const = default;
};

// A flags byte with one field replaced and the other two taken from the last
// good read (not from a write still waiting). The new code is a list index;
// one that names no item (no selection, flow code 3) composes nothing, so a
// write never carries an undefined code or spills into the other fields.
std::optional<uint8_t> setFlagBytePrzeplyw(const CachedIndexes& cached, int flowCode);
std::optional<uint8_t> setFlagByteLicznik(const CachedIndexes& cached, int totaliserCode);
std::optional<uint8_t> setFlagByteWaga(const CachedIndexes& cached, int pulseCode);

// The lines of ListBox1 for an alarm byte, bit 7 first; bits 0 and 1 add none.
std::vector<std::string> AlarmLines(uint8_t alarms);

// The version text: bytes 47..56 up to the first zero byte, Windows-1250
// converted to UTF-8.
std::string VersionText(const ParameterBlock& block);

} // namespace model

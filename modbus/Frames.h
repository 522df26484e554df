// RTU frames, CRC, trace lines and the verdict of one transaction.
// Plain functions over byte buffers so that the worker, the tests and the
// fuzzers all run exactly the same code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace modbus {

enum class Kind { ReadRegisters, ReadFileRecord, WriteRegisters };

struct KindParams {
    uint8_t function;
    size_t expectedLength;     // E: length of a good reply
    uint8_t exceptionFunction; // X: function code of an exception reply
    uint32_t readTimeoutMs;    // longest one read of the port may take
    uint32_t writeTimeoutMs;   // longest one write of the port may take
};

const KindParams& Params(Kind kind);

constexpr size_t kTxBufferSize = 264;
constexpr size_t kRxBufferSize = 512;
constexpr size_t kWriteDataOffset = 256;   // write data sit in RxBuffer from here
constexpr size_t kMaxWriteRegisters = 127; // 9 + 2 * 127 fits TxBuffer
constexpr size_t kExceptionLength = 5;

uint16_t Crc16(const uint8_t* data, size_t n);
// CRC over buf[0..n-1] stored at buf[n] (low) and buf[n+1] (high).
void AppendCrc(uint8_t* buf, size_t n);
// True when buf[n], buf[n+1] hold the CRC of buf[0..n-1].
bool CheckCrc(const uint8_t* buf, size_t n);

// Each builder fills tx from byte 0 including the CRC and returns the frame length.
size_t BuildReadRequest(uint8_t* tx, uint8_t address, uint8_t reg, uint8_t count);
size_t BuildFileRecordRequest(uint8_t* tx, uint8_t address, uint8_t file, int32_t record);
// data: the 2 * count register bytes (the worker passes RxBuffer + 256);
// count is limited to kMaxWriteRegisters so the frame always fits TxBuffer.
size_t BuildWriteRequest(uint8_t* tx, uint8_t address, uint8_t reg, uint8_t count, const uint8_t* data);

// "[XX]" per byte, upper-case hex, appended to line.
void AppendTraceGroups(std::string& line, const uint8_t* bytes, size_t n);
std::string TraceLine(std::string_view prefix, const uint8_t* bytes, size_t n);
inline constexpr std::string_view kTxPrefix = "TX : ";
inline constexpr std::string_view kRxPrefix = "RX : ";

// The request and reply lines of one transaction.
struct Trace {
    std::string tx;
    std::string rx;
};

// A complete exception reply of this kind: 5 bytes, byte 1 = X, CRC good.
bool IsCompleteException(Kind kind, const uint8_t* rx, size_t n);

// What a gateway answers for a meter it cannot reach: there is no meter
// to hear from at that address, just as when nothing answers.
inline constexpr uint8_t kGatewayPathUnavailable = 0x0A, kGatewayTargetFailed = 0x0B;
constexpr bool IsGatewayException(uint8_t code) {
    return code == kGatewayPathUnavailable || code == kGatewayTargetFailed;
}

// The text for an exception code of this kind.
std::string_view ExceptionText(Kind kind, uint8_t code);

// How a transaction ended. The rest of the program decides on this, never on
// a text; the Polish result texts are made from it by ResultText alone.
enum class Status : uint8_t {
    Success,
    Timeout,  // told to stop waiting, nothing read
    BadReply, // told to stop waiting with a reply of neither good length
    NoReply,  // the wait ended without a time-out and without a byte (no text)
    TooShort, // fewer than 5 bytes
    BadCrc,
    Exception,       // Detail: the exception code
    BadLength,       // a good frame of another length than this kind's reply
    ForeignAddress,  // Detail: the address another device answered with
    ForeignFunction, // Detail: the function code of a reply to another request
    BadByteCount,    // Detail: a function-03 reply's byte count other than 54
};

struct Verdict {
    Status status = Status::NoReply;
    uint8_t detail = 0;
    bool operator==(const Verdict&) const = default;
};

// The ordered checks of a reply of n bytes to a request to `address`. A
// frame with a good CRC is this meter's reply only if its address and its
// function match the request: on a shared line anything else is another
// device's.
Verdict Judge(Kind kind, size_t bytesRead, bool timedOut, const uint8_t* rx, uint8_t address);

// The result text shown for a verdict; empty for NoReply.
std::string ResultText(Kind kind, Verdict verdict);

} // namespace modbus

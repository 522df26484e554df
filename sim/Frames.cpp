// The meter's side of the three MODBUS functions: framing by length, CRC,
// and the answers with their effects on the registers.
#include "sim/Simulator.h"

namespace vqtsim {
namespace {

constexpr uint8_t kReadHolding = 0x03;
constexpr uint8_t kWriteMultiple = 0x10;
constexpr uint8_t kReadFileRecord = 0x14;

constexpr uint8_t kIllegalFunction = 1;
constexpr uint8_t kIllegalAddress = 2;
constexpr uint8_t kIllegalValue = 3;

constexpr int kRegisterCount = 27;
constexpr int kLastRecordNumber = 11 * (kRecordsPerFile - 1); // 35464
constexpr int kRecordRegisters = 11;

// Range lists of the meter, per DN index, in thousandths of m3/h, largest
// first; 0 marks an empty slot.
constexpr int32_t kRanges[23][14] = {
    {240, 200, 150, 120, 100, 80, 60, 40, 30, 20, 15, 12},                                          // DN 3
    {480, 400, 300, 200, 150, 120, 100, 80, 60, 40, 30, 24},                                        // DN 4
    {1200, 1000, 800, 600, 400, 300, 200, 150, 120, 100, 80, 60},                                   // DN 6
    {1800, 1500, 1200, 1000, 800, 600, 400, 300, 200, 150, 120, 90},                                // DN 8
    {2700, 2400, 2000, 1500, 1200, 1000, 800, 600, 400, 300, 200, 160, 135},                        // DN 10
    {6000, 5000, 4000, 3000, 2500, 2000, 1500, 1000, 800, 600, 400, 300},                           // DN 15
    {9000, 8000, 6000, 5000, 4000, 3000, 2000, 1500, 1000, 800, 600, 450},                          // DN 20
    {12000, 10000, 8000, 6000, 5000, 4000, 3000, 2000, 1500, 1000, 800, 600},                       // DN 25
    {24000, 20000, 16000, 15000, 12000, 10000, 8000, 6000, 4000, 3000, 2000, 1600, 1200},           // DN 32
    {36000, 30000, 20000, 16000, 12000, 10000, 8000, 6000, 4000, 3000, 2000, 1000},                 // DN 40
    {60000, 40000, 30000, 20000, 16000, 12000, 10000, 8000, 6000, 5000, 4000, 3000},                // DN 50
    {120000, 100000, 80000, 60000, 40000, 30000, 20000, 16000, 12000, 10000, 8000, 6000},           // DN 65
    {180000, 150000, 120000, 100000, 80000, 60000, 40000, 30000, 20000, 18000, 15000, 12000, 9000}, // DN 80
    {240000, 200000, 160000, 120000, 100000, 80000, 60000, 40000, 30000, 20000, 16000, 12000},      // DN 100
    {420000, 400000, 300000, 200000, 160000, 120000, 100000, 80000, 60000, 40000, 30000, 21000},    // DN 125
    {600000, 500000, 400000, 300000, 200000, 160000, 120000, 100000, 80000, 60000, 40000, 30000},   // DN 150
    {1080000, 900000, 800000, 600000, 400000, 300000, 240000, 200000, 160000, 100000, 80000, 60000,
     54000}, // DN 200
    {1800000, 1600000, 1200000, 1000000, 800000, 600000, 400000, 300000, 200000, 160000, 120000,
     90000}, // DN 250
    {2400000, 2000000, 1600000, 1200000, 1000000, 800000, 600000, 400000, 300000, 200000, 160000,
     120000}, // DN 300
    {3300000, 3000000, 2400000, 2000000, 1500000, 1200000, 1000000, 800000, 600000, 400000, 300000, 240000,
     165000}, // DN 350
    {4500000, 4000000, 3600000, 3000000, 2400000, 2000000, 1800000, 1200000, 1000000, 800000, 600000, 400000,
     300000, 225000}, // DN 400
    {6600000, 5500000, 4800000, 4000000, 3000000, 2000000, 1500000, 1000000, 800000, 600000, 500000, 400000,
     330000}, // DN 500
    {9600000, 8000000, 6000000, 4000000, 3000000, 2000000, 1500000, 1000000, 800000, 600000,
     480000}, // DN 600
};

uint16_t Get16(const std::vector<uint8_t>& f, size_t at) {
    return static_cast<uint16_t>((f[at] << 8) | f[at + 1]);
}

void Put16(std::vector<uint8_t>& f, uint16_t v) {
    f.push_back(static_cast<uint8_t>(v >> 8));
    f.push_back(static_cast<uint8_t>(v & 0xFF));
}

std::vector<uint8_t> WithCrc(std::vector<uint8_t> f) {
    const uint16_t crc = SimCrc(f.data(), f.size());
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    return f;
}

std::vector<uint8_t> ExceptionReply(uint8_t address, uint8_t function, uint8_t code) {
    return WithCrc({address, static_cast<uint8_t>(function | 0x80), code});
}

std::vector<uint8_t> ReadRegisters(const std::vector<uint8_t>& rq, const std::array<uint16_t, 27>& regs) {
    const int start = Get16(rq, 2);
    const int count = Get16(rq, 4);
    if (count < 1 || count > kRegisterCount || start + count > kRegisterCount)
        return ExceptionReply(rq[0], kReadHolding, kIllegalAddress);
    std::vector<uint8_t> reply{rq[0], kReadHolding, static_cast<uint8_t>(2 * count)};
    for (int i = start; i < start + count; ++i) Put16(reply, regs[i]);
    return WithCrc(std::move(reply));
}

// Applies one accepted write to the registers; the exception code when the
// meter refuses the register, the count or the value, 0 when applied.
uint8_t ApplyWrite(int reg, int count, const uint8_t* data, std::array<uint16_t, 27>& regs) {
    const bool single = reg == 2 || reg == 4 || reg == 5 || reg == 22;
    const bool pair = reg == 6 || reg == 8 || reg == 10 || reg == 18 || reg == 20;
    if ((single && count != 1) || (pair && count != 2) || (!single && !pair)) return kIllegalAddress;

    if (single) {
        const int v = (data[0] << 8) | data[1];
        int limit = 0;
        switch (reg) {
        case 2:
            limit = 0x1F;
            break; // flow unit, totaliser unit, pulse weight; bits 5..7 unused
        case 4:
            limit = 0xFF;
            break; // cut-off in tenths of a percent
        case 5:
            limit = 14;
            break; // time constant index
        default:
            limit = 10;
            break; // archive period index
        }
        if (v > limit) return kIllegalValue;
        if (reg == 2 && (v & 0x03) == 0x03) return kIllegalValue; // flow unit code 3 does not exist
        regs[reg - 1] = static_cast<uint16_t>(v);
        return 0;
    }

    const auto raw = static_cast<uint32_t>((data[0] << 24) | (data[1] << 16) | (data[2] << 8) | data[3]);
    const auto v = static_cast<int32_t>(raw);
    uint32_t stored = raw;
    switch (reg) {
    case 6: {
        const int32_t range = RangeValue(regs[0] & 0xFF, v);
        if (range == 0) return kIllegalValue;
        stored = static_cast<uint32_t>(range);
        break;
    }
    case 8:
    case 10:
        if (v < 0) return kIllegalValue; // a flow threshold in l/h cannot be negative
        break;
    default: // 18, 20: only a reset of the totaliser
        if (v != 0) return kIllegalValue;
        break;
    }
    regs[reg - 1] = static_cast<uint16_t>(stored >> 16);
    regs[reg] = static_cast<uint16_t>(stored & 0xFFFF);
    return 0;
}

std::vector<uint8_t> WriteRegisters(const std::vector<uint8_t>& rq, std::array<uint16_t, 27>& regs) {
    const int start = Get16(rq, 2);
    const int count = Get16(rq, 4);
    const int bytes = rq[6];
    if (count < 1 || count > 123 || bytes != 2 * count)
        return ExceptionReply(rq[0], kWriteMultiple, kIllegalValue);
    if (const uint8_t code = ApplyWrite(start + 1, count, &rq[7], regs); code != 0)
        return ExceptionReply(rq[0], kWriteMultiple, code);
    return WithCrc({rq[0], kWriteMultiple, rq[2], rq[3], rq[4], rq[5]});
}

std::vector<uint8_t> ReadRecord(const std::vector<uint8_t>& rq, const std::vector<Record>& archive) {
    if (rq[3] != 6 || Get16(rq, 8) != kRecordRegisters)
        return ExceptionReply(rq[0], kReadFileRecord, kIllegalValue);
    const int file = Get16(rq, 4);
    const int number = Get16(rq, 6);
    if (file < 1 || file > kArchiveFiles || number > kLastRecordNumber || number % kRecordRegisters != 0)
        return ExceptionReply(rq[0], kReadFileRecord, kIllegalAddress);
    const size_t index = static_cast<size_t>(file - 1) * kRecordsPerFile + static_cast<size_t>(number / 11);
    std::vector<uint8_t> reply{rq[0], kReadFileRecord, 24, 23, 6};
    if (index < archive.size())
        reply.insert(reply.end(), archive[index].begin(), archive[index].end());
    else
        reply.resize(reply.size() + sizeof(Record), 0);
    return WithCrc(std::move(reply));
}

} // namespace

uint16_t SimCrc(const uint8_t* data, size_t n) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

void Misframe(std::vector<uint8_t>& answer, Fault fault, int code) {
    if (answer.size() < 5) return;
    const bool read = answer[1] == kReadHolding;
    const int at = fault == Fault::ForeignAddress      ? 0
                   : fault == Fault::ForeignFunction   ? 1
                   : fault == Fault::ByteCount && read ? 2
                                                       : -1;
    if (at < 0) return;
    answer[static_cast<size_t>(at)] = static_cast<uint8_t>(code);
    answer.resize(answer.size() - 2);
    answer = WithCrc(std::move(answer));
}

int RequestLength(const uint8_t* buf, size_t n) {
    if (n == 0) return 0;
    if (buf[0] > 247) return -1; // no slave address
    if (n < 2) return 0;
    int length = 0;
    switch (buf[1]) {
    case kReadHolding:
        length = 8;
        break;
    case kWriteMultiple:
        if (n < 7) return 0;
        if (buf[6] > 246) return -1; // would exceed the 256-byte frame limit
        length = 9 + buf[6];
        break;
    case kReadFileRecord:
        if (n < 3) return 0;
        if (buf[2] > 0xF5) return -1;
        length = 5 + buf[2];
        break;
    default:
        return -1;
    }
    return n >= static_cast<size_t>(length) ? length : 0;
}

std::vector<uint8_t> Answer(const std::vector<uint8_t>& request, uint8_t address,
                            std::array<uint16_t, 27>& regs, const std::vector<Record>& archive) {
    // Broadcasts (address 0) and frames for other slaves get no answer.
    if (address == 0 || request.size() < 4 || request[0] != address) return {};
    const uint8_t function = request[1];
    const size_t n = request.size();
    switch (function) {
    case kReadHolding:
        return n == 8 ? ReadRegisters(request, regs) : std::vector<uint8_t>{};
    case kWriteMultiple:
        return n >= 9 && n == 9u + request[6] ? WriteRegisters(request, regs) : std::vector<uint8_t>{};
    case kReadFileRecord:
        if (n != 5u + request[2]) return {};
        if (n != 12) return ExceptionReply(address, function, kIllegalValue);
        return ReadRecord(request, archive);
    default:
        if (function == 0 || function >= 0x80) return {}; // not a request at all
        return ExceptionReply(address, function, kIllegalFunction);
    }
}

int32_t RangeValue(int dnIndex, int position) {
    if (dnIndex < 0 || dnIndex > 22 || position < 0 || position > 13) return 0;
    return kRanges[dnIndex][position];
}

std::array<uint16_t, 27> DefaultRegisters() {
    return {
        0x000D,                                 // DN index 13 (DN 100)
        0x0009,                                 // m3/h, m3, pulse weight 10
        0x00C0,                                 // reverse flow, over range
        0x0019,                                 // cut-off 2.5 %
        0x0003,                                 // time constant 2.0 s
        0x0001, 0xD4C0,                         // range 120.000 m3/h
        0x0001, 0x86A0,                         // alarm 1: 100000 l/h
        0x0000, 0x2710,                         // alarm 2: 10000 l/h
        0x3F80, 0x0000,                         // KorK 1.0
        0x0000, 0x0000,                         // KorC 0.0
        0x4148, 0x0000,                         // flow 12.5 m3/h
        0x0001, 0xE240,                         // L+ 12345.6
        0x0000, 0x0000,                         // L- 0
        0x0004,                                 // archive every 15 min
        0x5631, 0x2E30, 0x3200, 0x0000, 0x0000, // "V1.02"
    };
}

} // namespace vqtsim

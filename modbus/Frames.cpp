#include "modbus/Frames.h"

#include <algorithm>

namespace modbus {

namespace {
// The archive read is sent record after record: its short limits keep a
// stuck port call from holding up the download.
constexpr KindParams kRead{0x03, 59, 0x83, 10000, 10000};
constexpr KindParams kFile{0x14, 29, 0x94, 10, 100};
constexpr KindParams kWrite{0x10, 8, 0x90, 10000, 10000};

struct KindTexts {
    std::string_view timeout;
    std::string_view badReply;
    std::string_view success;
    std::string_view unsupported;
};

const KindTexts& Texts(Kind kind) {
    static const KindTexts read{"Timeout przy odczycie danych", "Błędna odpowiedź przy odczycie danych",
                                "Odczyt danych zakończony sukcesem",
                                "Funkcaja 03 Modbus nie jest obsługiwana przez urządzenie"};
    static const KindTexts file{"Timeout przy odczycie danych z archiwum.",
                                "Błędna odpowiedź przy odczycie danych z archiwum",
                                "Odczyt danych z archiwum zakończony sukcesem",
                                "Funkcaja 0x14 Modbus nie jest obsługiwana przez urządzenie"};
    static const KindTexts write{"Timeout przy odczycie danych", "Błędna odpowiedź przy zapisie danych",
                                 "Zapis danych zakończony sukcesem",
                                 "Funkcaja 16 Modbus nie jest obsługiwana przez urządzenie"};
    switch (kind) {
    case Kind::ReadRegisters:
        return read;
    case Kind::ReadFileRecord:
        return file;
    case Kind::WriteRegisters:
        break;
    }
    return write;
}
} // namespace

const KindParams& Params(Kind kind) {
    switch (kind) {
    case Kind::ReadRegisters:
        return kRead;
    case Kind::ReadFileRecord:
        return kFile;
    case Kind::WriteRegisters:
        break;
    }
    return kWrite;
}

uint16_t Crc16(const uint8_t* data, size_t n) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc = static_cast<uint16_t>(crc ^ data[i]);
        for (int bit = 0; bit < 8; ++bit) {
            const bool lsb = (crc & 1u) != 0;
            crc = static_cast<uint16_t>(crc >> 1);
            if (lsb) crc = static_cast<uint16_t>(crc ^ 0xA001u);
        }
    }
    return crc;
}

void AppendCrc(uint8_t* buf, size_t n) {
    const uint16_t crc = Crc16(buf, n);
    buf[n] = static_cast<uint8_t>(crc & 0xFF);
    buf[n + 1] = static_cast<uint8_t>(crc >> 8);
}

bool CheckCrc(const uint8_t* buf, size_t n) {
    const uint16_t crc = Crc16(buf, n);
    return buf[n] == static_cast<uint8_t>(crc & 0xFF) && buf[n + 1] == static_cast<uint8_t>(crc >> 8);
}

size_t BuildReadRequest(uint8_t* tx, uint8_t address, uint8_t reg, uint8_t count) {
    tx[0] = address;
    tx[1] = 0x03;
    tx[2] = 0x00;
    tx[3] = static_cast<uint8_t>(reg - 1);
    tx[4] = 0x00;
    tx[5] = count;
    AppendCrc(tx, 6);
    return 8;
}

size_t BuildFileRecordRequest(uint8_t* tx, uint8_t address, uint8_t file, int32_t record) {
    const auto wire = static_cast<uint32_t>(record);
    tx[0] = address;
    tx[1] = 0x14;
    tx[2] = 0x07;
    tx[3] = 0x06;
    tx[4] = 0x00;
    tx[5] = file;
    tx[6] = static_cast<uint8_t>((wire >> 8) & 0xFF);
    tx[7] = static_cast<uint8_t>(wire & 0xFF);
    tx[8] = 0x00;
    tx[9] = 0x0B;
    AppendCrc(tx, 10);
    return 12;
}

size_t BuildWriteRequest(uint8_t* tx, uint8_t address, uint8_t reg, uint8_t count, const uint8_t* data) {
    const auto n = static_cast<uint8_t>(std::min<size_t>(count, kMaxWriteRegisters));
    tx[0] = address;
    tx[1] = 0x10;
    tx[2] = 0x00;
    tx[3] = static_cast<uint8_t>(reg - 1);
    tx[4] = 0x00;
    tx[5] = n;
    tx[6] = static_cast<uint8_t>(2 * n);
    std::copy(data, data + 2 * n, tx + 7);
    AppendCrc(tx, 7 + 2 * size_t{n});
    return 9 + 2 * size_t{n};
}

void AppendTraceGroups(std::string& line, const uint8_t* bytes, size_t n) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    line.reserve(line.size() + 4 * n);
    for (size_t i = 0; i < n; ++i) {
        line += '[';
        line += kHex[bytes[i] >> 4];
        line += kHex[bytes[i] & 0x0F];
        line += ']';
    }
}

std::string TraceLine(std::string_view prefix, const uint8_t* bytes, size_t n) {
    std::string line(prefix);
    AppendTraceGroups(line, bytes, n);
    return line;
}

bool IsCompleteException(Kind kind, const uint8_t* rx, size_t n) {
    return n == kExceptionLength && rx[1] == Params(kind).exceptionFunction && CheckCrc(rx, n - 2);
}

std::string_view ExceptionText(Kind kind, uint8_t code) {
    switch (code) {
    case 1:
        return Texts(kind).unsupported;
    case 2:
        return "Błędny adres danych w zapytaniu Modbus";
    case 3:
        return "Zła wartosc rejestru";
    case 4:
        return "Błąd urządzenia";
    case 5:
        return "Urządzenie nie może odpowiedziec w tym momencie";
    case 6:
        return "Urządzenie jest zajęte";
    case 7:
        return "Błąd urządzenia przy odczycie pamięci";
    case 8:
        return "Błąd parzystosci pamięci urządzenia";
    case kGatewayPathUnavailable:
        return "Bramka: ścieżka do urządzenia niedostępna";
    case kGatewayTargetFailed:
        return "Bramka: urządzenie docelowe nie odpowiedziało";
    default:
        return "Nieznany błąd opowiedzi urządzenia";
    }
}

Verdict Judge(Kind kind, size_t n, bool timedOut, const uint8_t* rx, uint8_t address) {
    const KindParams& p = Params(kind);
    if (timedOut && n == 0) return {Status::Timeout};
    if (timedOut && n != kExceptionLength && n != p.expectedLength) return {Status::BadReply};
    if (n == 0) return {Status::NoReply};
    if (n < kExceptionLength) return {Status::TooShort};
    if (!CheckCrc(rx, n - 2)) return {Status::BadCrc};
    if (rx[0] != address) return {Status::ForeignAddress, rx[0]};
    if (n == kExceptionLength && rx[1] == p.exceptionFunction) return {Status::Exception, rx[2]};
    if (rx[1] != p.function) return {Status::ForeignFunction, rx[1]};
    if (n != p.expectedLength) return {Status::BadLength};
    constexpr uint8_t kParameterBytes = 54;
    if (kind == Kind::ReadRegisters && rx[2] != kParameterBytes) return {Status::BadByteCount, rx[2]};
    return {Status::Success};
}

std::string ResultText(Kind kind, Verdict v) {
    const KindTexts& t = Texts(kind);
    switch (v.status) {
    case Status::Success:
        return std::string(t.success);
    case Status::Timeout:
        return std::string(t.timeout);
    case Status::BadReply:
        return std::string(t.badReply);
    case Status::NoReply:
        return {};
    case Status::TooShort:
        return "Odpowiedź urządzenia zbyt krótka";
    case Status::BadCrc:
        return "Błąd sumy kontrolnej w odpowiedzi urządzenia";
    case Status::Exception:
        return std::string(ExceptionText(kind, v.detail));
    case Status::BadLength:
        return "Błędna ilosc bytow w odpowiedzi";
    case Status::ForeignAddress:
        return "Odpowiedź innego urządzenia (adres " + std::to_string(v.detail) + ")";
    case Status::ForeignFunction:
        return "Odpowiedź na inną funkcję Modbus (0x" + TraceLine("", &v.detail, 1).substr(1, 2) + ")";
    case Status::BadByteCount:
        return "Błędna liczba bajtów danych w odpowiedzi (" + std::to_string(v.detail) + " zamiast 54)";
    }
    return {};
}

} // namespace modbus

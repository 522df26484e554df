// SerialPort on the Win32 communications calls.
#include "modbus/SerialPortWin32.h"
#include "platform/Wake.h"
#include "platform/Win32Text.h"

#include <algorithm>
#include <chrono>

namespace modbus {

const char* const kPortNames = "COM1 ... COM256 or a device path beginning with \\\\.\\";
const char* const kPortNamesHelp =
    "COM1 ... COM256 (vqt540 ports lists those present) or a device path beginning with \\\\.\\";

namespace {
HANDLE PortHandle(std::intptr_t native) {
    return reinterpret_cast<HANDLE>(native);
}

// Opens a port for this program's use: read/write, shared with nobody.
// Synchronous, not overlapped: overlapped reads stay pending for ever on some
// drivers (a pseudo-terminal under Wine among them), and the exchange needs
// no more than the per-call limits give: a read of bytes already waiting
// returns at once, a write within its limit.
HANDLE openForUse(PortProbe& probe) {
    const HANDLE port = ::CreateFileA(probe.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        probe.state = StateOfOpenError(error);
        if (probe.state == PortProbe::State::OtherError) probe.reason = platform::SystemErrorText(error);
        return INVALID_HANDLE_VALUE;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port, &dcb)) {
        // A device whose hardware is gone (Wine: a tty that answers EIO) is
        // absent; anything else that opens but has no line is no port.
        const bool gone = StateOfOpenError(::GetLastError()) == PortProbe::State::Absent;
        probe.state = gone ? PortProbe::State::Absent : PortProbe::State::NotATerminal;
        ::CloseHandle(port);
        return INVALID_HANDLE_VALUE;
    }
    probe.state = PortProbe::State::Usable;
    return port;
}

bool OfferedSpeed(uint32_t baud) {
    return SpeedIndex(baud).has_value();
}
} // namespace

// ERROR_NO_SUCH_DEVICE, which mingw-w64's headers lack.
constexpr unsigned long kNoSuchDevice = 433;

PortProbe::State StateOfOpenError(unsigned long error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST: // a USB adapter pulled out
    // What Wine gives for a COM port whose device is not there: a device
    // node without its device, an adapter's name left behind or a serial
    // port without a chip (ENXIO), and a device that fails every call (EIO).
    case kNoSuchDevice:
    case ERROR_NOT_READY:
    case ERROR_DEVICE_NOT_CONNECTED:
        return PortProbe::State::Absent;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return PortProbe::State::Busy;
    default:
        return PortProbe::State::OtherError;
    }
}

bool MakeCommState(DCB& dcb, uint32_t baudRate, uint8_t dataBits, uint8_t parity, uint8_t stopBits) {
    if (!OfferedSpeed(baudRate)) return false;
    dcb.BaudRate = baudRate;
    dcb.ByteSize = dataBits;
    dcb.Parity = parity == kOddParity ? ODDPARITY : parity == kEvenParity ? EVENPARITY : NOPARITY;
    dcb.StopBits = stopBits == kTwoStopBits ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    return true;
}

std::string ResolvePortName(const std::string& name) {
    const int number = ComDeviceNumber(name);
    // The device namespace, so that COM10 and above open too.
    return number == 0 ? std::string() : "\\\\.\\COM" + std::to_string(number);
}

std::string ResolveDevice(const std::string& nameOrPath) {
    if (nameOrPath.size() > 4 && nameOrPath.starts_with("\\\\.\\")) return nameOrPath;
    return ResolvePortName(nameOrPath);
}

PortProbe ProbePort(const std::string& nameOrPath) {
    PortProbe probe;
    probe.name = nameOrPath;
    probe.path = ResolveDevice(nameOrPath);
    if (probe.path.empty()) return probe; // BadName
    probe.device = probe.path;
    const HANDLE port = openForUse(probe);
    if (port != INVALID_HANDLE_VALUE) ::CloseHandle(port);
    return probe;
}

SerialPort::~SerialPort() {
    Close();
}

bool SerialPort::Open(const std::string& portName) {
    Close();
    PortProbe probe;
    probe.path = ResolveDevice(portName);
    if (probe.path.empty()) return false;
    const HANDLE port = openForUse(probe);
    if (port == INVALID_HANDLE_VALUE) return false;
    Native = reinterpret_cast<std::intptr_t>(port);
    return true;
}

bool SerialPort::Configure(uint32_t baudRate, uint8_t dataBits, uint8_t parity, uint8_t stopBits) {
    if (!IsOpen()) return false;
    const HANDLE port = PortHandle(Native);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port, &dcb) || !MakeCommState(dcb, baudRate, dataBits, parity, stopBits))
        return false;
    ::SetupComm(port, 512, 512);
    if (!::SetCommState(port, &dcb)) return false;
    // Bytes left from an earlier exchange (a reply that came after its
    // worker gave up) must not be taken for this one's reply.
    ::PurgeComm(port, PURGE_RXCLEAR);
    return true;
}

COMMTIMEOUTS WaitingReadTimeouts(uint32_t passMs, uint32_t writeTotalMs) {
    COMMTIMEOUTS limits{};
    // The one combination with which a read waits for the first byte alone;
    // without a time, one that returns at once with what is there.
    limits.ReadIntervalTimeout = MAXDWORD;
    limits.ReadTotalTimeoutMultiplier = passMs > 0 ? MAXDWORD : 0;
    limits.ReadTotalTimeoutConstant = passMs;
    limits.WriteTotalTimeoutConstant = writeTotalMs;
    return limits;
}

void SerialPort::SetTimeouts(uint32_t readTotalMs, uint32_t writeTotalMs) {
    if (!IsOpen()) return;
    ReadLimitMs = readTotalMs;
    WriteLimitMs = writeTotalMs;
    // Reads of bytes already waiting return at once with these as with the
    // exchange's plain limits; only the wait for input reads when none are,
    // and it waits a pass at a time: set for its first pass already.
    ReadPassMs = std::min<uint32_t>(readTotalMs, kLongestPassMs);
    COMMTIMEOUTS limits = WaitingReadTimeouts(ReadPassMs, writeTotalMs);
    ::SetCommTimeouts(PortHandle(Native), &limits);
}

size_t SerialPort::Write(const uint8_t* data, size_t n) {
    if (!IsOpen()) return 0;
    DWORD written = 0;
    if (!::WriteFile(PortHandle(Native), data, static_cast<DWORD>(n), &written, nullptr)) {
        if (::GetLastError() != ERROR_TIMEOUT) Failed = true;
        return 0;
    }
    return written;
}

size_t SerialPort::InputCount() const {
    if (!IsOpen()) return 0;
    const size_t held = Held >= 0 ? 1 : 0;
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(PortHandle(Native), &errors, &status)) {
        Failed = true; // the device is gone (an adapter pulled out)
        return held;
    }
    return held + status.cbInQue;
}

size_t SerialPort::Read(uint8_t* data, size_t n) {
    // Never more than is waiting: a read of more would wait for it.
    n = std::min(n, InputCount());
    if (n == 0) return 0;
    size_t given = 0;
    if (Held >= 0) {
        data[given++] = static_cast<uint8_t>(Held);
        Held = -1;
    }
    DWORD got = 0;
    if (given < n &&
        !::ReadFile(PortHandle(Native), data + given, static_cast<DWORD>(n - given), &got, nullptr)) {
        got = 0;
        Failed = true;
    }
    return given + got;
}

SerialPort::WaitResult SerialPort::WaitForInput(platform::Wake& wake, int timeoutMs) {
    WaitResult result;
    if (!IsOpen()) {
        result.woken = wake.Wait(timeoutMs);
        return result;
    }
    // A read that blocks until the first byte comes: the reply is seen the
    // moment it arrives, and a silent line costs one wake-up a pass. No
    // event of arriving bytes works on every driver (WaitCommEvent and
    // overlapped reads never end on a pseudo-terminal under Wine), so the
    // wake, set from other threads, is looked at after each empty pass. A
    // pass is no longer than the exchange's read limit, so that the archive's
    // reads (10 ms) need no other limit set; every call to the port counts,
    // as under Wine each is a trip to its server.
    const HANDLE port = PortHandle(Native);
    if (Held >= 0) {
        result.readable = true;
        return result;
    }
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const long long elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count();
        long long pass = std::min<long long>(kLongestPassMs, ReadLimitMs > 0 ? ReadLimitMs : kLongestPassMs);
        if (timeoutMs >= 0) pass = std::min<long long>(pass, timeoutMs - elapsed);
        if (pass <= 0) break;
        if (static_cast<uint32_t>(pass) != ReadPassMs) {
            ReadPassMs = static_cast<uint32_t>(pass);
            COMMTIMEOUTS limits = WaitingReadTimeouts(ReadPassMs, WriteLimitMs);
            ::SetCommTimeouts(port, &limits);
        }
        uint8_t byte = 0;
        DWORD got = 0;
        if (!::ReadFile(port, &byte, 1, &got, nullptr)) {
            result.hungUp = true;
            break;
        }
        if (got == 1) {
            Held = byte;
            result.readable = true;
            break;
        }
        if (wake.Take()) {
            result.woken = true;
            break;
        }
    }
    return result;
}

void SerialPort::Close() {
    if (!IsOpen()) return;
    ::CloseHandle(PortHandle(Native));
    Native = kClosed;
    Held = -1;
    Failed = false;
    ReadPassMs = 0;
}

} // namespace modbus

// SerialPort on the Win32 communications calls.
#include "modbus/SerialPortWin32.h"
#include "platform/Wake.h"
#include "platform/Win32Text.h"

#include <algorithm>
#include <chrono>
#include <mmsystem.h>

namespace modbus {

const char* const kPortNames = "COM1 ... COM12 or a device path beginning with \\\\.\\";
const char* const kPortNamesHelp =
    "COM1 ... COM12 or a device path beginning with \\\\.\\ such as \\\\.\\COM15";

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
        probe.state = PortProbe::State::NotATerminal;
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

PortProbe::State StateOfOpenError(unsigned long error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST: // a USB adapter pulled out
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
    const int number = ComPortNumber(name);
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

void SerialPort::SetTimeouts(uint32_t readTotalMs, uint32_t writeTotalMs) {
    if (!IsOpen()) return;
    COMMTIMEOUTS limits{};
    limits.ReadTotalTimeoutConstant = readTotalMs;
    limits.WriteTotalTimeoutConstant = writeTotalMs;
    ::SetCommTimeouts(PortHandle(Native), &limits);
}

size_t SerialPort::Write(const uint8_t* data, size_t n) {
    if (!IsOpen()) return 0;
    DWORD written = 0;
    if (!::WriteFile(PortHandle(Native), data, static_cast<DWORD>(n), &written, nullptr)) return 0;
    return written;
}

size_t SerialPort::InputCount() const {
    if (!IsOpen()) return 0;
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(PortHandle(Native), &errors, &status)) return 0;
    return status.cbInQue;
}

size_t SerialPort::Read(uint8_t* data, size_t n) {
    // Never more than is waiting: a synchronous read of more would wait
    // for it up to the read limit.
    n = std::min(n, InputCount());
    if (n == 0) return 0;
    DWORD got = 0;
    if (!::ReadFile(PortHandle(Native), data, static_cast<DWORD>(n), &got, nullptr)) return 0;
    return got;
}

SerialPort::WaitResult SerialPort::WaitForInput(platform::Wake& wake, int timeoutMs) {
    WaitResult result;
    if (!IsOpen()) {
        result.woken = wake.Wait(timeoutMs);
        return result;
    }
    // No event of arriving bytes works on every driver (a pseudo-terminal
    // under Wine aborts WaitCommEvent), so each pass blocks on the wake and
    // then looks at the input count. A pass lasts a tenth of the silence so
    // far, 1 to 10 ms: a meter's answer is seen at most a tenth of its delay
    // late, while a silent meter costs a hundred looks a second. Windows'
    // timers tick every 15.6 ms unless asked for finer ones while we wait.
    ::timeBeginPeriod(1);
    const auto start = std::chrono::steady_clock::now();
    const HANDLE port = PortHandle(Native);
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(port, &errors, &status)) {
            result.hungUp = true;
            break;
        }
        if (status.cbInQue > 0) {
            result.readable = true;
            break;
        }
        const long long elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count();
        if (timeoutMs >= 0 && elapsed >= timeoutMs) break;
        long long pass = std::clamp<long long>(elapsed / 10, kShortestPassMs, kLongestPassMs);
        if (timeoutMs >= 0) pass = std::min<long long>(pass, timeoutMs - elapsed);
        if (wake.Wait(static_cast<int>(pass))) {
            result.woken = true;
            break;
        }
    }
    ::timeEndPeriod(1);
    return result;
}

void SerialPort::Close() {
    if (!IsOpen()) return;
    ::CloseHandle(PortHandle(Native));
    Native = kClosed;
}

} // namespace modbus

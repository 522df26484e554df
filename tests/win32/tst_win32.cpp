// The Windows build's own parts, as plain code: Qt Test does not exist for
// this build, and CTest runs it under Wine. What the Win32 calls give and how
// the program reads them: the port's open errors, names and line settings,
// the wake, the gateway's TCP connection, the files with Polish names in
// binary mode, the local time's offset. The tool as a whole runs under Wine
// against the simulator in tests/cli/tst_cli_wine.
#include "cli/Platform.h"
#include "modbus/SerialPortWin32.h"
#include "platform/FileIo.h"
#include "platform/Socket.h"
#include "platform/Wake.h"
#include "platform/Win32Text.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>
#include <winsock2.h>

namespace {

int failures = 0;

void Check(bool ok, const std::string& what) {
    if (ok) return;
    ++failures;
    std::printf("FAIL: %s\n", what.c_str());
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

using modbus::PortProbe;

void OpenErrors() {
    using S = PortProbe::State;
    const struct {
        unsigned long error;
        S state;
        std::string says;
    } rows[] = {
        {ERROR_FILE_NOT_FOUND, S::Absent, ": brak takiego urządzenia."},
        {ERROR_PATH_NOT_FOUND, S::Absent, ": brak takiego urządzenia."},
        // Wine, for a COM port whose device is gone (ENXIO, EIO): absent too,
        // not "no serial port" nor "cannot open".
        {433 /* ERROR_NO_SUCH_DEVICE */, S::Absent, ": brak takiego urządzenia."},
        {ERROR_NOT_READY, S::Absent, ": brak takiego urządzenia."},
        {ERROR_DEVICE_NOT_CONNECTED, S::Absent, ": brak takiego urządzenia."},
        // Another program holds the port.
        {ERROR_ACCESS_DENIED, S::Busy, ": zajęty przez inny program."},
        {ERROR_SHARING_VIOLATION, S::Busy, ": zajęty przez inny program."},
        // Anything else with the system's own words, without their full stop and line end.
        {ERROR_GEN_FAILURE, S::OtherError,
         ": nie można otworzyć (" + platform::SystemErrorText(ERROR_GEN_FAILURE) + ")."},
    };
    for (const auto& r : rows) {
        PortProbe probe{"COM3", "\\\\.\\COM3", "\\\\.\\COM3", modbus::StateOfOpenError(r.error), {}};
        if (probe.state == S::OtherError) probe.reason = platform::SystemErrorText(r.error);
        const std::string text = modbus::DescribeProbe(probe);
        Check(probe.state == r.state && text == "COM3 → \\\\.\\COM3" + r.says,
              "open error " + std::to_string(r.error) + ": " + text);
    }
    const std::string words = platform::SystemErrorText(ERROR_GEN_FAILURE);
    Check(words.size() > 3 && words.back() != '.' && words.back() != '\n' && !Contains(words, "błąd"),
          "the system's words for an error: " + words);

    // What Wine gives for a port that is not there and for a device that is no port.
    const struct {
        const char* name;
        S state;
    } probes[] = {{"\\\\.\\COM199", S::Absent},
                  {"\\\\.\\NUL", S::NotATerminal},
                  {"COM13", S::Absent}, // an adapter's name, not plugged in here
                  {"COM257", S::BadName},
                  {"/dev/ttyS0", S::BadName}};
    for (const auto& p : probes) {
        const PortProbe probe = modbus::ProbePort(p.name);
        Check(probe.state == p.state,
              std::string("probe of ") + p.name + ": " + modbus::DescribeProbe(probe));
    }
}

void PortNames() {
    const struct {
        const char* name;
        const char* device;
    } rows[] = {{"COM1", "\\\\.\\COM1"},
                {"COM12", "\\\\.\\COM12"},
                {"COM13", "\\\\.\\COM13"},
                {"COM256", "\\\\.\\COM256"},
                {"COM257", ""},
                {"COM01", ""},
                {"com1", ""},
                {"\\\\.\\COM15", "\\\\.\\COM15"},
                {"\\\\.\\", ""},
                {"/dev/ttyS0", ""},
                {"./COM1", ""}};
    for (const auto& r : rows)
        Check(modbus::ResolveDevice(r.name) == r.device,
              std::string("device of ") + r.name + ": " + modbus::ResolveDevice(r.name));
}

void LineSettings() {
    // From a port an earlier program left with flow control, parity checking
    // and the modem lines in handshake.
    DCB old{};
    old.DCBlength = sizeof old;
    old.BaudRate = 2400;
    old.fParity = old.fOutxCtsFlow = old.fOutxDsrFlow = old.fDsrSensitivity = TRUE;
    old.fTXContinueOnXoff = old.fOutX = old.fInX = old.fErrorChar = old.fNull = old.fAbortOnError = TRUE;
    old.fDtrControl = DTR_CONTROL_HANDSHAKE;
    old.fRtsControl = RTS_CONTROL_TOGGLE;
    old.fBinary = FALSE;
    old.XonChar = 0x11;
    old.ErrorChar = '?';
    const struct {
        uint32_t baud;
        uint8_t parity, stopBits;
        BYTE dcbParity, dcbStopBits;
    } rows[] = {{115200, modbus::kEvenParity, modbus::kOneStopBit, EVENPARITY, ONESTOPBIT},
                {9600, modbus::kOddParity, modbus::kTwoStopBits, ODDPARITY, TWOSTOPBITS},
                {1200, modbus::kNoParity, modbus::kTwoStopBits, NOPARITY, TWOSTOPBITS}};
    for (const auto& r : rows) {
        DCB d = old;
        const bool made = modbus::MakeCommState(d, r.baud, 8, r.parity, r.stopBits);
        const bool flagsOff = !d.fParity && !d.fOutxCtsFlow && !d.fOutxDsrFlow && !d.fDsrSensitivity &&
                              !d.fTXContinueOnXoff && !d.fOutX && !d.fInX && !d.fErrorChar && !d.fNull &&
                              !d.fAbortOnError && d.fDtrControl == DTR_CONTROL_DISABLE &&
                              d.fRtsControl == RTS_CONTROL_DISABLE;
        Check(made && d.BaudRate == r.baud && d.ByteSize == 8 && d.Parity == r.dcbParity &&
                  d.StopBits == r.dcbStopBits && d.fBinary && flagsOff,
              "line settings at " + std::to_string(r.baud));
        Check(d.XonChar == 0x11 && d.ErrorChar == '?', "the other fields are the port's own");
    }
    for (const uint32_t refused : {0u, 300u, 230400u}) {
        DCB d = old;
        Check(!modbus::MakeCommState(d, refused, 8, 0, 0) && d.BaudRate == 2400,
              "speed " + std::to_string(refused) + " refused, the block left alone");
    }
}

// The wait's read returns with the first byte, or at once with what is
// there, never waiting for a count; the write keeps its own limit.
void WaitingReads() {
    const struct {
        uint32_t passMs, writeMs;
        DWORD interval, multiplier, constant;
    } rows[] = {
        {25, 10000, MAXDWORD, MAXDWORD, 25}, {10, 100, MAXDWORD, MAXDWORD, 10}, {0, 100, MAXDWORD, 0, 0}};
    for (const auto& r : rows) {
        const COMMTIMEOUTS t = modbus::WaitingReadTimeouts(r.passMs, r.writeMs);
        Check(t.ReadIntervalTimeout == r.interval && t.ReadTotalTimeoutMultiplier == r.multiplier &&
                  t.ReadTotalTimeoutConstant == r.constant && t.WriteTotalTimeoutMultiplier == 0 &&
                  t.WriteTotalTimeoutConstant == r.writeMs,
              "read time-outs of a pass of " + std::to_string(r.passMs) + " ms");
    }
}

void WakeUp() {
    using Clock = std::chrono::steady_clock;
    platform::Wake wake;
    wake.Set();
    wake.Set();
    Check(wake.Take() && !wake.Take(), "one take takes every set before it");
    const auto before = Clock::now();
    Check(!wake.Wait(40), "a wait without a set times out");
    Check(Clock::now() - before >= std::chrono::milliseconds(30), "and waits its time");
    // The worker's wait with the port closed ends by the wake alone, at once.
    modbus::SerialPort port;
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        wake.Set();
    });
    const auto start = Clock::now();
    const modbus::SerialPort::WaitResult seen = port.WaitForInput(wake, -1);
    const auto took = Clock::now() - start;
    setter.join();
    Check(seen.woken && !seen.readable && took < std::chrono::seconds(2), "a set ends the wait for input");
}

// The gateway's connection against listeners of this process on the
// loopback: a refusal, bytes both ways, the wake, the peer's close.
void Sockets() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data); // for the listeners' own calls
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const SOCKET idle = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP); // bound, not listening
    sockaddr_in at[2] = {};
    int size = sizeof at[0];
    for (int i = 0; i < 2; ++i) {
        at[i].sin_family = AF_INET;
        at[i].sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(i == 0 ? listener : idle, reinterpret_cast<sockaddr*>(&at[i]), size);
        ::getsockname(i == 0 ? listener : idle, reinterpret_cast<sockaddr*>(&at[i]), &size);
    }
    ::listen(listener, 4);
    platform::Wake wake;
    platform::TcpSocket socket;
    const std::string refused = socket.Connect("127.0.0.1", ntohs(at[1].sin_port), 3000, wake);
    Check(refused == "połączenie odrzucone", "a port nobody listens on: " + refused);
    const std::string why = socket.Connect("127.0.0.1", ntohs(at[0].sin_port), 3000, wake);
    Check(why.empty() && socket.IsOpen(), "connected: " + why);
    const SOCKET peer = ::accept(listener, nullptr, nullptr);
    const uint8_t request[] = {1, 3, 0, 0, 0, 2};
    char arrived[sizeof request] = {};
    Check(socket.Send(request, sizeof request, 1000) &&
              ::recv(peer, arrived, sizeof arrived, MSG_WAITALL) == int(sizeof arrived) &&
              std::memcmp(arrived, request, sizeof request) == 0,
          "the request arrives whole");
    uint8_t got[8] = {};
    Check(::send(peer, "\x01\x03", 2, 0) == 2 && socket.WaitForInput(wake, 10000).readable &&
              socket.Receive(got, sizeof got) == 2 && got[1] == 3 && socket.Receive(got, sizeof got) == 0,
          "the reply arrives, then nothing more waits");
    std::thread([&] { wake.Set(); }).join();
    const platform::TcpSocket::WaitResult seen = socket.WaitForInput(wake, 10000);
    Check(seen.woken && !seen.readable && !wake.Take(), "a set ends the wait for input and is taken");
    ::closesocket(peer);
    Check(socket.WaitForInput(wake, 10000).readable && socket.Receive(got, sizeof got) == 0 &&
              !socket.IsOpen(),
          "the peer's close closes the connection");
    ::closesocket(listener);
    ::closesocket(idle);
}

// Every file of the folder by its wide name.
std::vector<std::wstring> Listing(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(find, &found));
    ::FindClose(find);
    return names;
}

void Files() {
    namespace io = platform;
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring folder =
        std::wstring(temp) + L"vqt540-test-" + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::string dir = platform::WideToUtf8(folder);
    const std::string file = dir + "\\pomiar-zażółć.csv";
    const std::string table = "Nr logu\r\n0;2024-05-01\r\n1;a\nb\r\n";

    Check(io::CreateWithContent(file, table) && io::ReadWholeFile(file).value == table,
          "bytes written are the bytes read: CR LF once, a lone LF left alone");
    // The name reaches the disk as the user wrote it, not in the ANSI code page.
    Check(Listing(folder) == std::vector<std::wstring>{L"pomiar-za\u017C\u00F3\u0142\u0107.csv"},
          "the Polish name on the disk");
    Check(io::FileExists(file) && io::CheckAppendable(file), "the file is there and appendable");

    Check(io::ReplaceWholeFile(file, "Nr logu\r\n", "5;x\r\n") &&
              io::ReadWholeFile(file).value == "Nr logu\r\n5;x\r\n",
          "replaced whole");
    Check(Listing(folder).size() == 1, "nothing left beside the replaced file");

    // A folder in the file's place cannot be replaced: it stays, and nothing is left beside it.
    const std::string folderInPlace = dir + "\\katalog-ł.csv";
    ::CreateDirectoryW(platform::Utf8ToWide(folderInPlace).c_str(), nullptr);
    const platform::Outcome refused = io::ReplaceWholeFile(folderInPlace, "a", "b");
    Check(!refused && io::FileExists(folderInPlace) && Listing(folder).size() == 2,
          "a folder in the file's place: " + refused.error);
    ::RemoveDirectoryW(platform::Utf8ToWide(folderInPlace).c_str());
    const std::string gone = dir + "\\brak\\plik.csv";
    Check(!io::ReplaceWholeFile(gone, "a") && !io::CheckAppendable(gone) && !io::ReadWholeFile(gone) &&
              !io::FileExists(gone),
          "the folder is gone: every operation says so");
    Check(io::ReplaceWholeFile(gone, "a").error.find(gone) != std::string::npos, "the error names the file");

    // A new file only where the name is free; refused, the old one stays and nothing is left beside it.
    const std::string fresh = dir + "\\nowy-ś.csv";
    Check(io::CreateNewWholeFile(fresh, "Nr logu\r\n", "1;a\r\n") &&
              io::ReadWholeFile(fresh).value == "Nr logu\r\n1;a\r\n",
          "a new file, whole");
    const platform::Outcome taken = io::CreateNewWholeFile(fresh, "x");
    Check(taken.error == io::FileErrorText("Utworzenie", fresh, "plik już istnieje") &&
              io::ReadWholeFile(fresh).value == "Nr logu\r\n1;a\r\n" && Listing(folder).size() == 2,
          "a taken name: " + taken.error);
    Check(io::TruncateFile(fresh, 9) && io::ReadWholeFile(fresh).value == "Nr logu\r\n" &&
              io::TruncateFile(fresh, 99) && *io::FileSize(fresh) == 9,
          "cut back to the last whole line, never padded");
    io::RemoveFile(fresh);
    // Through a symbolic link the file it names is replaced, where the system makes one (Wine 8
    // says it did and makes nothing).
    const std::wstring link = folder + L"\\link.csv";
    ::CreateSymbolicLinkW(link.c_str(), platform::Utf8ToWide(file).c_str(),
                          SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    const DWORD linkAttributes = ::GetFileAttributesW(link.c_str());
    if (linkAttributes != INVALID_FILE_ATTRIBUTES && (linkAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        const std::string linkPath = platform::WideToUtf8(link);
        Check(io::ReplaceWholeFile(linkPath, "przez link\r\n") &&
                  io::ReadWholeFile(file).value == "przez link\r\n" &&
                  (::GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT),
              "replaced through a link, which stays");
        ::DeleteFileW(link.c_str());
        io::ReplaceWholeFile(file, "Nr logu\r\n", "5;x\r\n");
    } else {
        std::printf("skipped: no symbolic link can be made here\n");
    }

    // stdio for the watch table: appended in binary mode.
    if (std::FILE* f = io::OpenFile(file, "ab")) {
        std::fputs("6;y\r\n", f);
        std::fclose(f);
    }
    Check(io::ReadWholeFile(file).value == "Nr logu\r\n5;x\r\n6;y\r\n", "appended through stdio");

    io::RemoveFile(file);
    Check(!io::FileExists(file), "removed");
    ::RemoveDirectoryW(folder.c_str());
}

void Times() {
    const struct {
        int offset;
        const char* text;
    } rows[] = {{120, "2024-06-01T14:05:09.007+02:00"},
                {0, "2024-06-01T14:05:09.007+00:00"},
                {345, "2024-06-01T14:05:09.007+05:45"},
                {-210, "2024-06-01T14:05:09.007-03:30"},
                {-30, "2024-06-01T14:05:09.007-00:30"}};
    for (const auto& r : rows) {
        cli::LocalTimestamp t{2024, 6, 1, 14, 5, 9, 7, r.offset};
        Check(cli::IsoTimestamp(t) == r.text, "ISO time " + cli::IsoTimestamp(t));
    }
    // The system's zone, not the C runtime's reading of TZ (CTest sets a zone
    // with a quarter-hour offset; Wine passes it to Windows).
    SYSTEMTIME utc{};
    ::GetSystemTime(&utc);
    const cli::LocalTimestamp now = cli::LocalTimeNow();
    const int localMinute = now.Hour * 60 + now.Minute, utcMinute = utc.wHour * 60 + utc.wMinute;
    Check((localMinute - utcMinute - now.UtcOffsetMinutes + 2 * 1440 + 1) % 1440 <= 2,
          "local time is UTC and the offset: " + cli::IsoTimestamp(now));
    if (const char* zone = std::getenv("TZ"); zone && std::string(zone) == "Asia/Kathmandu")
        Check(now.UtcOffsetMinutes == 345, "Kathmandu's offset: " + cli::IsoTimestamp(now));
}

} // namespace

int main() {
    OpenErrors();
    PortNames();
    LineSettings();
    WaitingReads();
    WakeUp();
    Sockets();
    Files();
    Times();
    std::printf("%s: %d failed\n", failures == 0 ? "PASS" : "FAIL", failures);
    return failures == 0 ? 0 : 1;
}

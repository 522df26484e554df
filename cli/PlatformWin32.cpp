// The tool's system parts on Windows: the console's control events, its
// code page, the wide command line, local time from the system's time zone.
#include "cli/Loop.h"
#include "cli/Platform.h"

#include "platform/Win32Text.h"

#include <mutex>
#include <windows.h>

#include <shellapi.h>

namespace cli {

namespace {
// The handler runs on a thread the system makes for each event.
std::mutex HandlerMutex;
std::shared_ptr<LoopWake> HandlerWake;
bool StopAsked = false;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    std::shared_ptr<LoopWake> wake;
    bool again = false;
    {
        std::lock_guard lock(HandlerMutex);
        wake = HandlerWake;
        again = StopAsked;
        StopAsked = true;
    }
    if (!wake) return FALSE;
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        // The user insists: the system's own handler ends the program.
        if (again) return FALSE;
        wake->RequestStop();
        return TRUE;
    }
    // The console closes, the user logs off or the system shuts down: the
    // system ends the program as soon as this returns, so it returns never,
    // and the program ends by itself once the loop has wound down (or when
    // the system stops waiting, after some seconds).
    wake->RequestStop();
    ::Sleep(INFINITE);
    return TRUE;
}
} // namespace

struct SignalStop::Waiting {};

SignalStop::SignalStop(std::shared_ptr<LoopWake> wake) {
    {
        std::lock_guard lock(HandlerMutex);
        HandlerWake = std::move(wake);
        StopAsked = false;
    }
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

SignalStop::~SignalStop() {
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    std::lock_guard lock(HandlerMutex);
    HandlerWake.reset();
}

ConsoleSession::ConsoleSession() {
    SavedCodePage = ::GetConsoleOutputCP();
    ::SetConsoleOutputCP(CP_UTF8);
    const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (::GetConsoleMode(error, &mode) &&
        ::SetConsoleMode(error, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
        SavedMode = mode;
        ModeChanged = true;
    }
}

ConsoleSession::~ConsoleSession() {
    // The code page belongs to the console, which outlives the program.
    if (SavedCodePage != 0) ::SetConsoleOutputCP(SavedCodePage);
    if (ModeChanged) ::SetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), SavedMode);
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(platform::WideToUtf8(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

bool StderrIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

LocalTimestamp LocalTimeNow() {
    // Not the C runtime's localtime: it takes a TZ variable it cannot read
    // (a zone name such as Europe/Warsaw) for UTC.
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    SYSTEMTIME utc{}, local{};
    ::FileTimeToSystemTime(&now, &utc);
    ::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
    FILETIME utcTime{}, localTime{};
    ::SystemTimeToFileTime(&utc, &utcTime);
    ::SystemTimeToFileTime(&local, &localTime);
    const auto ticks = [](const FILETIME& f) {
        return static_cast<long long>(static_cast<unsigned long long>(f.dwHighDateTime) << 32 |
                                      f.dwLowDateTime);
    };
    constexpr long long kTicksPerMinute = 600000000; // of 100 ns
    LocalTimestamp t;
    t.Year = local.wYear;
    t.Month = local.wMonth;
    t.Day = local.wDay;
    t.Hour = local.wHour;
    t.Minute = local.wMinute;
    t.Second = local.wSecond;
    t.Millisecond = local.wMilliseconds;
    t.UtcOffsetMinutes = static_cast<int>((ticks(localTime) - ticks(utcTime)) / kTicksPerMinute);
    return t;
}

} // namespace cli

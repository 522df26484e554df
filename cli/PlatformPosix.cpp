// The tool's system parts on POSIX: signals, the terminal, local time.
#include "cli/Loop.h"
#include "cli/Platform.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <pthread.h>
#include <signal.h>
#include <thread>
#include <unistd.h>

namespace cli {

struct SignalStop::Waiting {
    sigset_t Previous{};
    std::atomic<bool> Closing{false};
    std::thread Waiter;
};

SignalStop::SignalStop(std::shared_ptr<LoopWake> wake) : Impl(std::make_unique<Waiting>()) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, &Impl->Previous);
    Impl->Waiter = std::thread([impl = Impl.get(), signals, wake = std::move(wake)] {
        bool asked = false;
        for (;;) {
            int number = 0;
            if (sigwait(&signals, &number) != 0) continue;
            if (impl->Closing.load()) return;
            // The user insists: no more waiting for the cycle to wind down.
            if (asked) std::_Exit(128 + number);
            asked = true;
            wake->RequestStop();
        }
    });
}

SignalStop::~SignalStop() {
    Impl->Closing.store(true);
    pthread_kill(Impl->Waiter.native_handle(), SIGTERM);
    Impl->Waiter.join();
    pthread_sigmask(SIG_SETMASK, &Impl->Previous, nullptr);
}

ConsoleSession::ConsoleSession() = default;
ConsoleSession::~ConsoleSession() = default;

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

bool StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

LocalTimestamp LocalTimeNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    LocalTimestamp t;
    t.Year = local.tm_year + 1900;
    t.Month = local.tm_mon + 1;
    t.Day = local.tm_mday;
    t.Hour = local.tm_hour;
    t.Minute = local.tm_min;
    t.Second = local.tm_sec;
    t.Millisecond = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    t.UtcOffsetMinutes = static_cast<int>(local.tm_gmtoff / 60);
    return t;
}

} // namespace cli

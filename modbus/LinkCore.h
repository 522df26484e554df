// What the link's workers share with it: their count and deadlines, the
// lines and whose turn each is, and the threads they run on. Workers hold it
// by a shared pointer, so a worker that ends late never finds it gone.
#pragma once

#include "modbus/Line.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace modbus {

// A line lent to one worker for one transaction.
struct LineLease {
    std::string Port;
    std::unique_ptr<Line> Held; // nullptr: the name leads nowhere
    bool Turn = false;          // the port's turn was had (else a line of its own)
};

class LinkCore : public std::enable_shared_from_this<LinkCore> {
public:
    using Clock = std::chrono::steady_clock;

    LinkCore(bool keepSerialOpen, std::chrono::milliseconds idleClose,
             std::function<void(const std::string&, LineEvent)> notice);
    ~LinkCore();

    // Workers' lives: each counts from its creation to its destruction, and
    // says by when it will have ended once started.
    void Born();
    void Started(Clock::time_point deadline);
    void Died(std::optional<Clock::time_point> deadline);
    int Live() const;
    bool WaitForAll();

    // The port's line once it is this worker's turn (after the last holder,
    // or after kTurnLimit: then a line of its own, which finds the port busy).
    LineLease Take(const std::string& port);
    // Back after the transaction: kept open or closed, as the line's kind and
    // the link's choice say.
    void Give(LineLease lease);
    bool Held(const std::string& port) const;
    size_t KeptCount() const;
    void Notice(const std::string& port, LineEvent event) const;

    // Runs a worker's job on a kept thread.
    void Run(std::function<void()> job);
    // Ends the threads: joined when no worker is left, else let go.
    void Shutdown(bool joinThreads);

    static constexpr std::chrono::milliseconds kTurnLimit{1000};

private:
    struct Kept {
        std::unique_ptr<Line> line;
        Clock::time_point lastUsed;
    };
    void Serve();
    void Tidy(); // the janitor: closes lines left idle

    const bool KeepSerialOpen;
    const std::chrono::milliseconds IdleClose;
    const std::function<void(const std::string&, LineEvent)> OnNotice;

    mutable std::mutex Mutex;
    std::condition_variable Changed; // a worker died, a turn was given, a job came, shutdown
    int Count = 0;
    std::vector<Clock::time_point> Deadlines; // of the started, live workers (a multiset)
    std::vector<std::string> Busy;            // ports whose turn is taken
    std::map<std::string, Kept> Lines;        // lines kept open between transactions
    std::deque<std::function<void()>> Jobs;
    std::vector<std::thread> Threads;
    size_t Idle = 0;
    bool Stopping = false;
    std::thread Janitor;
};

} // namespace modbus

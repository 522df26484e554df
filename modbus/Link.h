// The program's way to its meters: made once in main and handed down. It
// starts the transactions (each a ModbusRead worker on a thread of its own),
// keeps the lines they use (a gateway's connection, and with KeepSerialOpen
// a serial port, stay open between transactions), lets this program's
// workers take turns on a port, and at the end waits for its workers by
// their own deadlines.
#pragma once

#include "modbus/Line.h"
#include "modbus/Transaction.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace modbus {

class ModbusRead;
class LinkCore;

class Link {
public:
    struct Options {
        // The tool keeps a serial port for its whole run; the window opens
        // and closes it for every transaction.
        bool KeepSerialOpen = false;
        // A kept line without work for this long is closed.
        std::chrono::milliseconds IdleClose{60000};
        // Told on a worker's thread when a kept line had to be made anew.
        std::function<void(const std::string& port, LineEvent event)> Notice;
    };

    Link();
    explicit Link(Options options);
    // Waits for the workers (WaitForWorkers), then closes the lines.
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Creates, stages and starts one transaction.
    std::unique_ptr<Transaction> Start(const TransactionRequest& request);
    // The same as the cycles take it; valid while the link lives.
    TransactionFactory Factory();
    // A suspended worker of this link, for a caller that drives one by hand.
    std::shared_ptr<ModbusRead> CreateWorker();

    // A worker of this link has the port now (or is still closing it).
    bool PortHeld(const std::string& portName) const;
    // Lines held open between transactions now.
    size_t KeptLines() const;
    // Workers whose object still exists (running, or done and not yet freed).
    int LiveWorkers() const;
    // Blocks until no worker is left, or until the latest of the live
    // workers' own deadlines has passed; true when none is left.
    bool WaitForWorkers();

private:
    std::shared_ptr<LinkCore> Core;
};

} // namespace modbus

// The status bar's second line: what the result line above it leaves out
// (which meter, why the port fails, how old the values are, the download),
// so that the result line keeps its room for both counters.
#pragma once

#include "modbus/LinkSettings.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace core {

// "COM1, 9600 bit/s, parzystość Brak, adres 1".
std::string MeterText(const modbus::LinkSettings& link);
// What to check when the meter polled does not answer at all, and that the
// search can find it: the line's speed and parity on a serial port, the
// gateway's address on a gateway, whose line the gateway sets.
std::string UnansweredText(const modbus::LinkSettings& link);
// "Zapisano 42 rekordy do pliku C:\archiwum.csv.", the count in its Polish form;
// `beforePath` in place of the blank before the path ("\n": on a line of its own).
std::string SavedText(const std::string& path, size_t records, std::string_view beforePath = " ");

struct StatusNotes {
    std::string Download;                      // the download's details while it runs
    std::string Settings;                      // a settings file's writes while they run
    std::string PortProblem;                   // why the polling cannot open its port
    std::optional<modbus::LinkSettings> Meter; // the meter polled, while connected
    std::string PortNote;                      // where its port name leads, when not where it did
    bool Unanswered = false;                   // every transaction to it has timed out
    bool ValuesCurrent = false;                // the device page shows the last transaction's read
    std::string LastGoodRead;                  // its time, "14:32:05"; empty before the first
    std::string Saved;                         // what the last download wrote
};

// The download while it runs; else the port's trouble; else the meter
// polled; both with where its port leads now if not where it did; what to
// check when it never answered, or else the time of the last good read
// while its values are not current; else what the last download wrote;
// else how old the values are.
std::string DetailsLine(const StatusNotes& notes);

} // namespace core

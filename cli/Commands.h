// The three commands of vqt540; each returns the program's exit code.
#pragma once

#include "cli/Settings.h"

#include "core/Progress.h"
#include "modbus/Link.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cli {

class Loop;

struct ReadOptions {
    bool Json = false;
};

struct WatchOptions {
    int IntervalMs = 1000;        // the window's scan period; with several meters, a round's
    int Count = 0;                // 0: until SIGINT or SIGTERM
    std::string CsvPath;          // empty: stdout
    std::string Format = "table"; // table, json (a document a line) or influx (line protocol)
    // --period: meters read less often than every round.
    std::vector<std::string> Periods;
};

struct ArchiveOptions {
    std::string NewPath;
    std::string UpdatePath;
    int PeriodMs = 1000; // the window's scan period; a tenth of it paces the requests
    int Retries = 20;
    bool KeepPartial = false;
};

struct PublishOptions {
    int IntervalMs = 10000; // a round's period
    std::string Host = "localhost";
    int MqttPort = 1883;
    std::string User, Password, CaFile, ClientId;
    std::string Prefix = "vqt540";
    std::string OutboxPath = "vqt540-outbox.db";
    int ArchiveEverySeconds = 0; // 0: never
    // --period: meters read less often than every round.
    std::vector<std::string> Periods;
};

struct ScanOptions {
    int LowestAddress = 1;
    int HighestAddress = 247;
    std::vector<uint32_t> Speeds; // empty: --baud first, then the common ones
    bool All = false;
    bool Json = false;
};

struct ReportOptions {
    std::string Path;
    std::string By = "day";       // hour, day or month
    std::string Format = "table"; // table, csv or json
};

struct SettingsOptions {
    std::string Action; // save, diff or apply
    std::string Path;
    std::string RecordPath; // save: the commissioning record too, as text
    bool DryRun = false;    // apply: compare only
};

struct PortsOptions {
    bool Json = false;
    std::string Root = "/"; // where /sys and /dev are looked for: the tests' own tree
};

// "17" or "10-20", within 1 … 247 and in order.
std::optional<std::pair<int, int>> ParseAddressRange(const std::string& text);

// Each waits on `loop`, which SIGINT and SIGTERM stop.
int RunRead(const CommonOptions& common, const ReadOptions& options, Loop& loop, modbus::Link& meters);
int RunWatch(const CommonOptions& common, const WatchOptions& options, Loop& loop, modbus::Link& meters);
int RunArchive(const CommonOptions& common, const ArchiveOptions& options, Loop& loop, modbus::Link& meters);
int RunScan(const CommonOptions& common, const ScanOptions& options, Loop& loop, modbus::Link& meters);
// The consumption of each period from an export file; no meter needed.
int RunReport(const CommonOptions& common, const ReportOptions& options);

// A meter's settings saved to a file, compared with one, or made like one.
int RunSettings(const CommonOptions& common, const SettingsOptions& options, Loop& loop,
                modbus::Link& meters);
// The serial ports of this machine; none is no error.
int RunPorts(const PortsOptions& options);
// The meters' readings to an MQTT broker; a clean end (0) when stopped.
int RunPublish(const CommonOptions& common, const PublishOptions& options, Loop& loop, modbus::Link& meters);
// watch over several meters, or in another format than the table: the
// meters read in turn on one line.
int RunLineWatch(const CommonOptions& common, const WatchOptions& options, Loop& loop, modbus::Link& meters);

// The download's progress line on a terminal: what the window's bar and
// tooltip say, in the tool's words.
std::string ProgressLine(const core::DownloadProgress& progress);

} // namespace cli

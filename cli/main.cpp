// vqt540: the meter from the command line, for gateways without a desktop.
// The same cycles as the window, driven by a loop of its own; no Qt.
#include "cli/Commands.h"
#include "cli/Loop.h"
#include "cli/MeterPeriodOption.h"
#include "cli/Platform.h"
#include "cli/Say.h"

#include <CLI/CLI.hpp>

#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace cli;

constexpr int kLongestIntervalMs = 86400000;
constexpr int kLongestPeriodMs = 600000;

// The tool keeps its line for the whole run, as every peer on a site does:
// opening and setting up a port for each read costs more than the read.
modbus::Link::Options LinkOptions() {
    modbus::Link::Options options;
    options.KeepSerialOpen = true;
    options.Notice = [](const std::string& port, modbus::LineEvent event) {
        if (event == modbus::LineEvent::Reopened)
            Say(port + ": the gateway had closed the connection; connected again");
    };
    return options;
}

// A command: its options, filled by the parse, and what runs it.
using Runner = std::function<int(Loop&, modbus::Link&)>;

Runner AddRead(CLI::App& app, CommonOptions& common) {
    auto options = std::make_shared<ReadOptions>();
    CLI::App* read = app.add_subcommand("read", "Read the parameters once and show them as the window does.");
    const CommonFlags flags = AddCommonOptions(*read, common);
    read->add_flag("--json", options->Json, "the register values, the decoded numbers and the shown texts");
    read->footer(ExitCodeHelp());
    return [read, flags, options, &common](Loop& loop, modbus::Link& meters) {
        if (!read->parsed()) return -1;
        if (const int code = ApplyConfigFile(flags, common); code != kExitOk) return code;
        return RunRead(common, *options, loop, meters);
    };
}

Runner AddWatch(CLI::App& app, CommonOptions& common) {
    auto options = std::make_shared<WatchOptions>();
    CLI::App* watch = app.add_subcommand(
        "watch", "Poll as the window does; one line per read (time, flow, L+, L-, units, alarms, status).");
    const CommonFlags flags = AddCommonOptions(*watch, common, true);
    CLI::Option* interval =
        watch->add_option("--interval", options->IntervalMs, "pause between reads in ms (the scan period)")
            ->transform(Whole(0, kLongestIntervalMs))
            ->capture_default_str();
    watch->add_option("--count", options->Count, "stop after this many reads (0: until SIGINT or SIGTERM)")
        ->transform(Whole(0, 2000000000))
        ->capture_default_str();
    watch->add_option("--csv", options->CsvPath,
                      "append the lines to this file (Windows-1250, ';', CR LF, a header in a new file) "
                      "instead of stdout");
    watch
        ->add_option("--format", options->Format,
                     "table: the lines above (with the meter's address when there are several); json: a "
                     "document a line; influx: InfluxDB line protocol, for Telegraf's execd input")
        ->check(CLI::IsMember({"table", "json", "influx"}))
        ->capture_default_str();
    AddMeterPeriodOption(*watch, options->Periods);
    watch->footer(ExitCodeHelp());
    return [watch, flags, interval, options, &common](Loop& loop, modbus::Link& meters) {
        if (!watch->parsed()) return -1;
        const PeriodFlag pause{interval, &options->IntervalMs, kLongestIntervalMs};
        if (const int code = ApplyConfigFile(flags, common, pause); code != kExitOk) return code;
        if (common.Addresses.size() > 1 || options->Format != "table" || !options->Periods.empty())
            return RunLineWatch(common, *options, loop, meters);
        return RunWatch(common, *options, loop, meters);
    };
}

Runner AddArchive(CLI::App& app, CommonOptions& common) {
    auto options = std::make_shared<ArchiveOptions>();
    CLI::App* archive = app.add_subcommand(
        "archive", "Download the meter's archive into a new export file, or bring an export up to date.");
    const CommonFlags flags = AddCommonOptions(*archive, common);
    CLI::Option_group* target = archive->add_option_group("export file");
    CLI::Option* newFile =
        target->add_option("--new", options->NewPath, "write the whole archive to this new file");
    target->add_option("--update", options->UpdatePath,
                       "add the records newer than this export's last line to it");
    target->require_option(1);
    CLI::Option* period =
        archive
            ->add_option("--period", options->PeriodMs,
                         "the window's scan period in ms; a tenth of it paces the requests (0: no pacing)")
            ->transform(Whole(0, kLongestPeriodMs))
            ->capture_default_str();
    archive
        ->add_option("--retries", options->Retries,
                     "give up after this many failed attempts in a row for one record")
        ->transform(Whole(1, 1000000))
        ->capture_default_str();
    archive
        ->add_flag("--keep-partial", options->KeepPartial,
                   "when the download gives up or is stopped, save what was read instead of writing no file")
        ->needs(newFile);
    archive->footer(ExitCodeHelp());
    return [archive, flags, period, options, &common](Loop& loop, modbus::Link& meters) {
        if (!archive->parsed()) return -1;
        const PeriodFlag pacing{period, &options->PeriodMs, kLongestPeriodMs};
        if (const int code = ApplyConfigFile(flags, common, pacing); code != kExitOk) return code;
        return RunArchive(common, *options, loop, meters);
    };
}

Runner AddScan(CLI::App& app, CommonOptions& common) {
    auto options = std::make_shared<ScanOptions>();
    auto addresses = std::make_shared<std::string>("1-247");
    CLI::App* scan = app.add_subcommand(
        "scan", "Look for the meter: the parameter read at every address, at the common speeds and parities "
                "(--baud, --parity and --address first); one line per meter found.");
    const CommonFlags flags = AddCommonOptions(*scan, common);
    scan->add_option("--addresses", *addresses, "the addresses to try, N or FIRST-LAST")
        ->check(CLI::Validator(
            [](std::string& text) {
                return ParseAddressRange(text) ? std::string()
                                               : "\"" + text + "\" is no address range in 1-247";
            },
            "N|FIRST-LAST"))
        ->capture_default_str();
    scan->add_option("--speeds", options->Speeds,
                     "the speeds to try, in this order, comma-separated (default: --baud, then 9600, 19200, "
                     "115200, 38400, 57600, 4800, 2400, 1200)")
        ->delimiter(',')
        ->transform(LineSpeed());
    scan->add_flag("--all", options->All, "go on after the first meter and list every one");
    scan->add_flag("--json", options->Json, "the meters found and the settings with garbled answers as JSON");
    scan->footer(ExitCodeHelp());
    return [scan, flags, options, addresses, &common](Loop& loop, modbus::Link& meters) {
        if (!scan->parsed()) return -1;
        if (const int code = ApplyConfigFile(flags, common); code != kExitOk) return code;
        const auto range = ParseAddressRange(*addresses);
        options->LowestAddress = range->first;
        options->HighestAddress = range->second;
        return RunScan(common, *options, loop, meters);
    };
}

Runner AddPublish(CLI::App& app, CommonOptions& common) {
    auto o = std::make_shared<PublishOptions>();
    CLI::App* publish = app.add_subcommand(
        "publish", "Read the meters of a line in turn and publish their readings to an MQTT broker (QoS 1), "
                   "with Home Assistant discovery; readings taken while the broker is away wait in an outbox "
                   "on disk and are sent in order when it returns.");
    AddCommonOptions(*publish, common, true, true);
    publish->add_option("--interval", o->IntervalMs, "a round's period in ms")
        ->transform(Whole(0, kLongestIntervalMs))
        ->capture_default_str();
    publish->add_option("--host", o->Host, "the broker's host")->capture_default_str();
    publish->add_option("--mqtt-port", o->MqttPort, "the broker's port (8883 with TLS)")
        ->transform(Whole(1, 65535))
        ->capture_default_str();
    publish->add_option("--user", o->User, "the broker's user name");
    publish->add_option("--password", o->Password,
                        "the broker's password; on the command line every user of the machine sees it "
                        "(ps): give it as 'password = ...' in the --config file instead");
    publish->add_option("--ca-file", o->CaFile,
                        "TLS, checking the broker against the CA certificates (PEM) in this file");
    publish->add_option("--client-id", o->ClientId, "the MQTT client id (default: the broker's choice)");
    publish->add_option("--prefix", o->Prefix, "the topics' prefix (not under \"$\", no \"+\" or \"#\")")
        ->capture_default_str();
    publish->add_option("--outbox", o->OutboxPath, "the outbox, an SQLite file")->capture_default_str();
    publish
        ->add_option("--archive-every", o->ArchiveEverySeconds,
                     "how often the archive records newer than the last one published are read and "
                     "published, such as 1h or 30min (0: never)")
        ->transform(Duration());
    AddMeterPeriodOption(*publish, o->Periods);
    publish->footer(ExitCodeHelp());
    return [publish, o, &common](Loop& loop, modbus::Link& meters) {
        if (!publish->parsed()) return -1;
        ResolveAddresses(common);
        return RunPublish(common, *o, loop, meters);
    };
}

Runner AddReport(CLI::App& app, CommonOptions& common) {
    auto options = std::make_shared<ReportOptions>();
    CLI::App* report = app.add_subcommand(
        "report", "What flowed in each hour, day or month, from an export file's totalisers (m3), with the "
                  "flow and the events of each; gaps, resets and records twice or out of order marked.");
    report->add_option("FILE", options->Path, "the export file (as the window or vqt540 archive writes it)")
        ->required();
    report->add_option("--by", options->By, "the periods, on the meter's own clock")
        ->check(CLI::IsMember({"hour", "day", "month"}))
        ->capture_default_str();
    report->add_option("--format", options->Format, "table: to read; csv or json: for other programs")
        ->check(CLI::IsMember({"table", "csv", "json"}))
        ->capture_default_str();
    report->footer(ExitCodeHelp());
    return [report, options, &common](Loop&, modbus::Link&) {
        return report->parsed() ? RunReport(common, *options) : -1;
    };
}

Runner AddSettings(CLI::App& app, CommonOptions& common) {
    auto options = std::make_shared<SettingsOptions>();
    CLI::App* settings = app.add_subcommand(
        "settings", "save: the meter's settings into FILE; diff: the meter against FILE; apply: write the "
                    "settings that differ from FILE, one at a time, and read them back. Never the address "
                    "or the totalisers.");
    const CommonFlags flags = AddCommonOptions(*settings, common);
    settings->add_option("action", options->Action, "save, diff or apply")
        ->required()
        ->check(CLI::IsMember({"save", "diff", "apply"}));
    settings->add_option("file", options->Path, "the settings file (JSON)")->required();
    settings->add_flag("--dry-run", options->DryRun, "apply: show what would be written, write nothing");
    settings->add_option("--record", options->RecordPath, "save: also the commissioning record, as text");
    settings->footer(ExitCodeHelp());
    return [settings, flags, options, &common](Loop& loop, modbus::Link& meters) {
        if (!settings->parsed()) return -1;
        if (const int code = ApplyConfigFile(flags, common); code != kExitOk) return code;
        if ((options->DryRun && options->Action != "apply") ||
            (!options->RecordPath.empty() && options->Action != "save")) {
            Say("--dry-run goes with apply, --record with save; see vqt540 settings --help");
            return static_cast<int>(kExitUsage);
        }
        return RunSettings(common, *options, loop, meters);
    };
}

Runner AddPorts(CLI::App& app) {
    auto options = std::make_shared<PortsOptions>();
    CLI::App* ports = app.add_subcommand(
        "ports", "List the serial ports of this machine, USB adapters with their maker, product and serial "
                 "number, and their stable names under /dev/serial/by-id.");
    ports->add_flag("--json", options->Json, "the ports as a JSON array");
    ports->add_option("--root", options->Root, "where to look for /sys and /dev")->group("");
    ports->footer(ExitCodeHelp());
    return [ports, options](Loop&, modbus::Link&) { return ports->parsed() ? RunPorts(*options) : -1; };
}

} // namespace

int main(int argc, char** argv) {
    const ConsoleSession console;
    // First of all, before any other thread: a signal from the first moment
    // on asks the command to stop as it would later.
    Loop loop;
    const SignalStop signals(loop.Wake());
    CLI::App app("VQT540 electromagnetic flowmeter on a serial line (MODBUS RTU): parameters, polling, "
                 "archive download.",
                 "vqt540");
    app.set_version_flag("--version", "vqt540 " VQT_VERSION, "print the program's version and exit");
    app.require_subcommand(1);
    app.footer(ExitCodeHelp());

    CommonOptions common;
    const std::vector<Runner> commands{
        AddRead(app, common),    AddWatch(app, common),  AddArchive(app, common),  AddScan(app, common),
        AddPublish(app, common), AddReport(app, common), AddSettings(app, common), AddPorts(app)};
    try {
        std::vector<std::string> arguments = Utf8Arguments(argc, argv);
        std::vector<char*> pointers;
        for (std::string& argument : arguments) pointers.push_back(argument.data());
        app.parse(static_cast<int>(pointers.size()), pointers.data());
        // A site's settings file fills in what the command line left open,
        // parsed again with them so that every check applies alike.
        if (CLI::App* publish = app.get_subcommand("publish");
            publish->parsed() && !common.ConfigPath.empty()) {
            const platform::OrReason<std::vector<std::string>> site =
                SiteArguments(common.ConfigPath, *publish);
            if (!site) {
                Say(site.error);
                return kExitUsage;
            }
            for (std::string argument : *site) arguments.push_back(std::move(argument));
            pointers.clear();
            for (std::string& argument : arguments) pointers.push_back(argument.data());
            app.parse(static_cast<int>(pointers.size()), pointers.data());
        }
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) return app.exit(error); // --help, --version
        Say(error.what());
        Say("see vqt540 --help");
        return kExitUsage;
    }

    // Made here and handed down; at its end it waits for its workers by
    // their own deadlines, so that none outlives the program.
    modbus::Link meters(LinkOptions());
    try {
        for (const Runner& run : commands)
            if (const int code = run(loop, meters); code >= 0) return code;
        return kExitInternal;
    } catch (const std::exception& error) {
        Say(error.what());
        return kExitInternal;
    }
}

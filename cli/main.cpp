// vqt540: the meter from the command line, for gateways without a desktop.
// The same cycles as the window, driven by a loop of its own; no Qt.
#include "cli/Commands.h"
#include "cli/Platform.h"

#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace {
constexpr int kLongestIntervalMs = 86400000;
constexpr int kLongestPeriodMs = 600000;
} // namespace

int main(int argc, char** argv) {
    using namespace cli;
    const ConsoleSession console;
    CLI::App app("VQT540 electromagnetic flowmeter on a serial line (MODBUS RTU): parameters, polling, "
                 "archive download.",
                 "vqt540");
    app.set_version_flag("--version", "vqt540 " VQT_VERSION, "print the program's version and exit");
    app.require_subcommand(1);
    app.footer(kExitCodeHelp);

    CommonOptions common;

    ReadOptions readOptions;
    CLI::App* read = app.add_subcommand("read", "Read the parameters once and show them as the window does.");
    const CommonFlags readFlags = AddCommonOptions(*read, common);
    read->add_flag("--json", readOptions.Json,
                   "the register values, the decoded numbers and the shown texts");
    read->footer(kExitCodeHelp);

    WatchOptions watchOptions;
    CLI::App* watch = app.add_subcommand(
        "watch", "Poll as the window does; one line per read (time, flow, L+, L-, units, alarms, status).");
    const CommonFlags watchFlags = AddCommonOptions(*watch, common);
    CLI::Option* interval =
        watch
            ->add_option("--interval", watchOptions.IntervalMs, "pause between reads in ms (the scan period)")
            ->check(CLI::Range(0, kLongestIntervalMs))
            ->capture_default_str();
    watch
        ->add_option("--count", watchOptions.Count, "stop after this many reads (0: until SIGINT or SIGTERM)")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    watch->add_option("--csv", watchOptions.CsvPath,
                      "append the lines to this file (Windows-1250, ';', CR LF, a header in a new file) "
                      "instead of stdout");
    watch->footer(kExitCodeHelp);

    ArchiveOptions archiveOptions;
    CLI::App* archive = app.add_subcommand(
        "archive", "Download the meter's archive into a new export file, or bring an export up to date.");
    const CommonFlags archiveFlags = AddCommonOptions(*archive, common);
    CLI::Option_group* target = archive->add_option_group("export file");
    CLI::Option* newFile =
        target->add_option("--new", archiveOptions.NewPath, "write the whole archive to this new file");
    target->add_option("--update", archiveOptions.UpdatePath,
                       "add the records newer than this export's last line to it");
    target->require_option(1);
    CLI::Option* period =
        archive
            ->add_option("--period", archiveOptions.PeriodMs,
                         "the window's scan period in ms; a tenth of it paces the requests (0: no pacing)")
            ->check(CLI::Range(0, kLongestPeriodMs))
            ->capture_default_str();
    archive
        ->add_option("--retries", archiveOptions.Retries,
                     "give up after this many failed attempts in a row for one record")
        ->check(CLI::Range(1, 1000000))
        ->capture_default_str();
    archive
        ->add_flag("--keep-partial", archiveOptions.KeepPartial,
                   "when the download gives up or is stopped, save what was read instead of deleting "
                   "the file")
        ->needs(newFile);
    archive->footer(kExitCodeHelp);

    ScanOptions scanOptions;
    CLI::App* scan = app.add_subcommand(
        "scan", "Look for the meter: the parameter read at every address, at the common speeds and parities "
                "(--baud, --parity and --address first); one line per meter found.");
    const CommonFlags scanFlags = AddCommonOptions(*scan, common);
    std::string addresses = "1-247";
    scan->add_option("--addresses", addresses, "the addresses to try, N or FIRST-LAST")
        ->check(CLI::Validator(
            [](std::string& text) {
                return ParseAddressRange(text) ? std::string()
                                               : "\"" + text + "\" is no address range in 1-247";
            },
            "N|FIRST-LAST"))
        ->capture_default_str();
    scan->add_option("--speeds", scanOptions.Speeds,
                     "the speeds to try, in this order, comma-separated (default: --baud, then 9600, 19200, "
                     "115200, 38400, 57600, 4800, 2400, 1200)")
        ->delimiter(',')
        ->check(CLI::IsMember(SpeedList()));
    scan->add_flag("--all", scanOptions.All, "go on after the first meter and list every one");
    scan->add_flag("--json", scanOptions.Json,
                   "the meters found and the settings with garbled answers as JSON");
    scan->footer(kExitCodeHelp);

    try {
        std::vector<std::string> arguments = Utf8Arguments(argc, argv);
        std::vector<char*> pointers;
        for (std::string& argument : arguments) pointers.push_back(argument.data());
        app.parse(static_cast<int>(pointers.size()), pointers.data());
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? kExitOk : kExitUsage;
    }

    try {
        if (read->parsed()) {
            if (const int code = ApplyConfigFile(readFlags, common); code != kExitOk) return code;
            return RunRead(common, readOptions);
        }
        if (watch->parsed()) {
            const PeriodFlag pause{interval, &watchOptions.IntervalMs, kLongestIntervalMs};
            if (const int code = ApplyConfigFile(watchFlags, common, pause); code != kExitOk) return code;
            return RunWatch(common, watchOptions);
        }
        if (scan->parsed()) {
            if (const int code = ApplyConfigFile(scanFlags, common); code != kExitOk) return code;
            const auto range = ParseAddressRange(addresses);
            scanOptions.LowestAddress = range->first;
            scanOptions.HighestAddress = range->second;
            return RunScan(common, scanOptions);
        }
        const PeriodFlag pacing{period, &archiveOptions.PeriodMs, kLongestPeriodMs};
        if (const int code = ApplyConfigFile(archiveFlags, common, pacing); code != kExitOk) return code;
        return RunArchive(common, archiveOptions);
    } catch (const std::exception& error) {
        std::cerr << "vqt540: " << error.what() << '\n';
        return kExitInternal;
    }
}

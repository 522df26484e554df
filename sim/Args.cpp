#include "sim/Args.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <string_view>

namespace vqtsim {
namespace {

using Error = std::optional<std::string>;

const char* const kValueOptions[] = {"--link-dir",    "--link",      "--device",  "--address",
                                     "--baud",        "--parity",    "--silent",  "--records",
                                     "--erased",      "--bad-dates", "--fault",   "--drop",
                                     "--fault-share", "--seed",      "--rtu-tcp", "--modbus-tcp"};

const char* const kUsageText =
    "Usage: vqt540-sim [options]\n"
    "Simulates a VQT540 flowmeter (MODBUS RTU slave) until SIGINT or SIGTERM, on a pty,\n"
    "a serial device, or behind a simulated Ethernet gateway on 127.0.0.1.\n"
    "\n"
    "Line:\n"
    "  --link-dir DIR     directory for the link to the pty (default \".\")\n"
    "  --link NAME        name of that link (default COM1)\n"
    "  --device PATH      serve on this serial device instead of a new pty (no link)\n"
    "  --parity P         none, even or odd (default none): the device's, or on a pty the\n"
    "                     meter's own, which --strict-line holds the master to\n"
    "  --strict-line      on a pty, answer as a real line would when the master's speed or\n"
    "                     parity differs: silence for another speed, garbled bytes for\n"
    "                     another parity (a Linux pty tells odd parity from none and\n"
    "                     even, but none from even not)\n"
    "  --address LIST     slave address 1..247 (default 1), or several meters on the line:\n"
    "                     addresses and ranges such as 1-3,7, each meter with its own\n"
    "                     registers, archive and counters (the first with the default\n"
    "                     values, the others with a flow and L+ of their own); requests\n"
    "                     to other addresses stay unanswered\n"
    "  --silent A:S[:F]   the meter at address A falls silent S seconds after the start,\n"
    "                     for F seconds (0 or none: for ever), then answers again;\n"
    "                     decimals allowed; repeatable\n"
    "  --baud N           line speed 300..230400 for wire timing and --device (default 9600)\n"
    "  --no-wire-time     answer at once instead of after the characters' time on the line\n"
    "\n"
    "Gateway (instead of a pty or device; one client at a time, the next waits connected\n"
    "in the listen backlog until the first disconnects; wire timing and faults apply):\n"
    "  --rtu-tcp PORT     a transparent serial server on 127.0.0.1:PORT (0: any free port,\n"
    "                     printed): RTU frames, CRC and all, as on the line\n"
    "  --modbus-tcp PORT  a MODBUS TCP gateway on 127.0.0.1:PORT (0: any free port): MBAP\n"
    "                     header and PDU, unit id = the meter's address; a unit id nobody\n"
    "                     has gets exception 0x0B (50 ms after the request's wire time;\n"
    "                     at once with --no-wire-time), and so does a badcrc answer\n"
    "\n"
    "Meter:\n"
    "  --records N        dated archive records before the end record, 0..12900 (default 100)\n"
    "  --wrapped          archive as a ring buffer that went round (newest records first)\n"
    "  --erased K         the dated record with K newer ones after it is all 0xFF, as flash\n"
    "                     erased and never written (year 65535); --records 100 --erased 20:\n"
    "                     79 older records, the erased one, the 20 newest, the end record\n"
    "  --bad-dates LIST   impossible dates: SLOT:KIND,... where SLOT is a dated record's\n"
    "                     place in reading order (file SLOT/3225+1, index SLOT%3225) and\n"
    "                     KIND month (13), day (32), time (25:61) or year (999); repeatable\n"
    "  --static           keep the default values; no live flow, totalisers or alarms\n"
    "\n"
    "Faults:\n"
    "  --fault F          one of: silence, late:MS, badcrc, exception:CODE, split:MS, noise:N,\n"
    "                     foreign-address:N, foreign-function:F, byte-count:N\n"
    "                     (late: answer MS ms later; split: pause MS ms after the 5th answer byte;\n"
    "                     exception: answer every request with exception CODE 0..255;\n"
    "                     noise: N bytes 0x55 after each answer;\n"
    "                     foreign-address: slave address N 0..255 in byte 0 of the answer;\n"
    "                     foreign-function: function code F 0..255 in byte 1, same length;\n"
    "                     byte-count: a register read's byte count (byte 2) says N 0..255;\n"
    "                     these three with a correct CRC);\n"
    "                     or drop-after:N, through TCP only and besides any other fault:\n"
    "                     close a connection once it has brought N requests (answered or\n"
    "                     not), counting anew on the next one\n"
    "  --fault-share P    give the fault to this share 0..1 of the requests (default 1)\n"
    "  --drop P           leave this share 0..1 of the requests unanswered\n"
    "  --seed N           seed for --drop, the live values and the archive (default 1)\n"
    "\n"
    "Output:\n"
    "  --quiet            print only the device and link, not every request\n"
    "  --version          the program's version\n"
    "  --help             this text\n";

template <typename T> std::optional<T> Number(std::string_view text, T low, T high) {
    T v{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < low || v > high) return std::nullopt;
    return v;
}

std::optional<double> Probability(const std::string& text) {
    try {
        size_t used = 0;
        const double p = std::stod(text, &used);
        if (used == text.size() && p >= 0.0 && p <= 1.0) return p;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

std::optional<double> Seconds(const std::string& text) {
    try {
        size_t used = 0;
        const double s = std::stod(text, &used);
        if (used == text.size() && s >= 0.0 && s <= 1e6) return s;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (size_t at; (at = text.find(sep, from)) != std::string::npos; from = at + 1)
        parts.push_back(text.substr(from, at - from));
    parts.push_back(text.substr(from));
    return parts;
}

bool ParseFault(const std::string& text, Config& c) {
    const auto colon = text.find(':');
    const std::string name = text.substr(0, colon);
    const std::string arg = colon == std::string::npos ? "" : text.substr(colon + 1);
    const bool hasArg = colon != std::string::npos;
    if (name == "silence" && !hasArg) return c.fault = Fault::Silence, true;
    if (name == "badcrc" && !hasArg) return c.fault = Fault::BadCrc, true;
    if (name == "drop-after") {
        const auto n = Number<int>(arg, 1, 1000000);
        return n && (c.options.dropAfter = *n, true);
    }
    const bool byteArg = name == "exception" || name == "foreign-address" || name == "foreign-function" ||
                         name == "byte-count";
    const auto n = Number<int>(arg, 0, byteArg ? 255 : name == "noise" ? 256 : 600000);
    if (!hasArg || !n) return false;
    if (name == "late") return c.fault = Fault::Late, c.faultDelayMs = *n, true;
    if (name == "split") return c.fault = Fault::Split, c.faultDelayMs = *n, true;
    if (name == "exception") return c.fault = Fault::Exception, c.faultCode = *n, true;
    if (name == "noise") return c.fault = Fault::TrailingNoise, c.faultCode = *n, true;
    if (name == "foreign-address") return c.fault = Fault::ForeignAddress, c.faultCode = *n, true;
    if (name == "foreign-function") return c.fault = Fault::ForeignFunction, c.faultCode = *n, true;
    if (name == "byte-count") return c.fault = Fault::ByteCount, c.faultCode = *n, true;
    return false;
}

// "2:1.5:10" as meter 2 silent from 1.5 s for 10 s; the length is optional.
std::optional<SilentSpell> ParseSilent(const std::string& text) {
    const std::vector<std::string> p = Split(text, ':');
    if (p.size() < 2 || p.size() > 3) return std::nullopt;
    const auto address = Number<int>(p[0], 1, 247);
    const auto after = Seconds(p[1]);
    const auto duration = p.size() == 3 ? Seconds(p[2]) : std::optional<double>(0.0);
    if (!address || !after || !duration) return std::nullopt;
    return SilentSpell{static_cast<uint8_t>(*address), *after, *duration};
}

// "1-3,7" as 1, 2, 3, 7; nullopt for a bad or repeated address.
std::optional<std::vector<uint8_t>> ParseAddresses(const std::string& text) {
    std::vector<uint8_t> list;
    for (const std::string& item : Split(text, ',')) {
        const std::vector<std::string> ends = Split(item, '-');
        const auto low = ends.size() <= 2 ? Number<int>(ends.front(), 1, 247) : std::nullopt;
        const auto high = low ? Number<int>(ends.back(), *low, 247) : std::nullopt;
        if (!high) return std::nullopt;
        for (int a = *low; a <= *high; ++a) {
            if (std::find(list.begin(), list.end(), a) != list.end()) return std::nullopt;
            list.push_back(static_cast<uint8_t>(a));
        }
    }
    return list;
}

bool ParseBadDates(const std::string& text, std::vector<BadDate>& out) {
    for (const std::string& item : Split(text, ',')) {
        const std::vector<std::string> p = Split(item, ':');
        const auto slot = p.size() == 2 ? Number<int>(p[0], 0, kArchiveSlots - 1) : std::nullopt;
        if (!slot) return false;
        if (p[1] == "month")
            out.push_back({*slot, DateFault::Month13});
        else if (p[1] == "day")
            out.push_back({*slot, DateFault::Day32});
        else if (p[1] == "time")
            out.push_back({*slot, DateFault::Time2561});
        else if (p[1] == "year")
            out.push_back({*slot, DateFault::Year999});
        else
            return false;
    }
    return true;
}

// The line's options that take a value; nullopt when opt is not one of them.
std::optional<Error> LineValue(const std::string& opt, const std::string& v, Config& c) {
    const auto bad = [&](const std::string& why) { return "bad value \"" + v + "\" for " + opt + why; };
    Options& o = c.options;
    if (opt == "--link-dir") {
        if (v.empty()) return bad("");
        o.linkDir = v;
    } else if (opt == "--link") {
        if (v.empty() || v.find('/') != std::string::npos) return bad("");
        o.linkName = v;
    } else if (opt == "--device") {
        if (v.empty()) return bad("");
        o.device = v;
    } else if (opt == "--address") {
        const auto list = ParseAddresses(v);
        if (!list) return bad(" (1..247, or a list such as 1-3,7 without repeats)");
        o.address = list->front();
        o.addresses = list->size() > 1 ? *list : std::vector<uint8_t>{};
    } else if (opt == "--silent") {
        const auto spell = ParseSilent(v);
        if (!spell) return bad(" (ADDRESS:AFTER_S[:FOR_S])");
        o.silences.push_back(*spell);
    } else if (opt == "--baud") {
        const auto n = Number<uint32_t>(v, 300, 230400);
        if (!n) return bad(" (300..230400)");
        o.baudRate = *n;
    } else if (opt == "--rtu-tcp" || opt == "--modbus-tcp") {
        const auto n = Number<int>(v, 0, 65535);
        if (!n) return bad(" (0..65535, 0: any free port)");
        (opt == "--rtu-tcp" ? o.rtuTcpPort : o.modbusTcpPort) = *n == 0 ? -1 : *n;
    } else if (opt == "--parity") {
        const int parity = v == "none" ? 0 : v == "odd" ? 1 : v == "even" ? 2 : -1;
        if (parity < 0) return bad(" (none, even, odd)");
        o.parity = parity;
    } else {
        return std::nullopt;
    }
    return Error{};
}

// The meter's and the faults' options that take a value; nullopt when opt
// is not one of them.
std::optional<Error> MeterValue(const std::string& opt, const std::string& v, Config& c) {
    const auto bad = [&](const std::string& why) { return "bad value \"" + v + "\" for " + opt + why; };
    Options& o = c.options;
    if (opt == "--records" || opt == "--erased") {
        const auto n = Number<int>(v, 0, kArchiveSlots);
        if (!n) return bad(" (0.." + std::to_string(kArchiveSlots) + ")");
        (opt == "--records" ? o.archiveRecords : o.archiveDamage.erasedBefore) = *n;
    } else if (opt == "--bad-dates") {
        if (!ParseBadDates(v, o.archiveDamage.badDates)) return bad(" (SLOT:month|day|time|year,...)");
    } else if (opt == "--fault") {
        if (!ParseFault(v, c)) return bad("");
    } else if (opt == "--drop" || opt == "--fault-share") {
        const auto p = Probability(v);
        if (!p) return bad(" (0..1)");
        (opt == "--drop" ? c.drop : c.faultShare) = *p;
    } else if (opt == "--seed") {
        const auto n = Number<uint32_t>(v, 0, UINT32_MAX);
        if (!n) return bad("");
        o.seed = *n;
    } else {
        return std::nullopt;
    }
    return Error{};
}

// What the options say together.
Error Check(const Config& c) {
    const ArchiveDamage& d = c.options.archiveDamage;
    const int records = c.options.archiveRecords;
    if (d.erasedBefore >= records)
        return "--erased " + std::to_string(d.erasedBefore) + " needs more than that many --records";
    for (const BadDate& b : d.badDates)
        if (b.slot >= records)
            return "--bad-dates: slot " + std::to_string(b.slot) + " is not a dated record (--records " +
                   std::to_string(records) + ")";
    if (c.options.rtuTcpPort != 0 && c.options.modbusTcpPort != 0)
        return "--rtu-tcp and --modbus-tcp exclude each other";
    if ((c.options.rtuTcpPort != 0 || c.options.modbusTcpPort != 0) && !c.options.device.empty())
        return "--device with a gateway: the gateway's meters are simulated, not on a device";
    const std::vector<uint8_t>& list = c.options.addresses;
    for (const SilentSpell& s : c.options.silences)
        if (list.empty() ? s.address != c.options.address
                         : std::find(list.begin(), list.end(), s.address) == list.end())
            return "--silent: no meter at address " + std::to_string(s.address);
    return std::nullopt;
}

} // namespace

const char* Usage() {
    return kUsageText;
}

std::optional<std::string> ParseArgs(const std::vector<std::string>& args, Config& c) {
    c.options.linkDir = ".";
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& opt = args[i];
        if (opt == "--help" || opt == "-h") {
            c.help = true;
        } else if (opt == "--version") {
            c.version = true;
        } else if (opt == "--no-wire-time") {
            c.options.wireTiming = false;
        } else if (opt == "--strict-line") {
            c.options.strictLine = true;
        } else if (opt == "--wrapped") {
            c.options.archiveWrapped = true;
        } else if (opt == "--static") {
            c.live = false;
        } else if (opt == "--quiet") {
            c.quiet = true;
        } else if (std::find(std::begin(kValueOptions), std::end(kValueOptions), opt) !=
                   std::end(kValueOptions)) {
            if (i + 1 >= args.size()) return opt + " needs a value";
            const std::string& v = args[++i];
            std::optional<Error> err = LineValue(opt, v, c);
            if (!err) err = MeterValue(opt, v, c);
            if (err && *err) return *err;
        } else {
            return "unknown option " + opt;
        }
    }
    return c.help || c.version ? Error{} : Check(c);
}

} // namespace vqtsim

// The meter's data archive: record layout and a plausible history.
#include "sim/Simulator.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <random>

namespace vqtsim {
namespace {

void Put32(Record& r, size_t at, uint32_t v) {
    r[at] = static_cast<uint8_t>(v >> 24);
    r[at + 1] = static_cast<uint8_t>(v >> 16);
    r[at + 2] = static_cast<uint8_t>(v >> 8);
    r[at + 3] = static_cast<uint8_t>(v);
}

// Tenths of the unit, as the meter counts; it rolls over rather than overflow.
int32_t Tenths(double m3, bool litres) {
    const double tenths = std::floor(m3 * (litres ? 10000.0 : 10.0));
    return static_cast<int32_t>(std::fmod(tenths, 2147483648.0));
}

constexpr uint8_t kLitres = 0x01;
constexpr uint8_t kInverterFault = 0x04;
constexpr uint8_t kParametersSet = 0x08;
constexpr uint8_t kPowerLoss = 0x10;
constexpr uint8_t kEmptyPipe = 0x20;
constexpr uint8_t kOverRange = 0x40;
constexpr uint8_t kReverseFlow = 0x80;

void SpoilDate(Record& r, DateFault fault) {
    switch (fault) {
    case DateFault::Month13:
        r[4] = 13;
        break;
    case DateFault::Day32:
        r[5] = 32;
        break;
    case DateFault::Time2561:
        r[6] = 25;
        r[7] = 61;
        break;
    case DateFault::Year999:
        r[2] = 999 >> 8;
        r[3] = 999 & 0xFF;
        break;
    }
}

} // namespace

Record BuildRecord(int year, int month, int day, int hour, int minute, int second, float flow,
                   int32_t forward, int32_t reverse, uint8_t flags) {
    Record r{};
    r[2] = static_cast<uint8_t>((year >> 8) & 0xFF);
    r[3] = static_cast<uint8_t>(year & 0xFF);
    r[4] = static_cast<uint8_t>(month);
    r[5] = static_cast<uint8_t>(day);
    r[6] = static_cast<uint8_t>(hour);
    r[7] = static_cast<uint8_t>(minute);
    r[8] = static_cast<uint8_t>(second);
    Put32(r, 9, std::bit_cast<uint32_t>(flow));
    Put32(r, 13, static_cast<uint32_t>(forward));
    Put32(r, 17, static_cast<uint32_t>(reverse));
    r[21] = flags;
    return r;
}

std::vector<Record> MakeArchive(int records, bool wrapped, uint32_t seed, std::time_t now,
                                const ArchiveDamage& damage) {
    const int n = std::clamp(records, 0, kArchiveSlots);
    constexpr std::time_t kPeriod = 15 * 60;
    const std::time_t newest = now - now % kPeriod;
    std::mt19937 rng(seed);
    // Own mapping to [-1, 1]: the standard distributions differ between libraries.
    auto noise = [&rng] { return static_cast<double>(rng()) / 2147483648.0 - 1.0; };

    std::vector<Record> dated;
    dated.reserve(static_cast<size_t>(n));
    double forward = 10000.0; // m3
    double reverse = 5.0;
    for (int i = 0; i < n; ++i) {
        const std::time_t t = newest - static_cast<std::time_t>(n - 1 - i) * kPeriod;
        std::tm tm{};
        localtime_r(&t, &tm);
        const double hourOfDay = tm.tm_hour + tm.tm_min / 60.0;
        double flow = 12.0 + 5.0 * std::sin(2.0 * std::numbers::pi * (hourOfDay - 6.0) / 24.0) + noise();
        uint8_t flags = 0;
        if (i % 31 == 3) flags |= kParametersSet;
        if (i % 157 == 90) flags |= kInverterFault;
        if (i % 53 == 7) {
            flags |= kPowerLoss;
            flow = 0.0;
        }
        if (i % 71 == 20) {
            flags |= kEmptyPipe;
            flow = 0.0;
        }
        if (i % 89 >= 40 && i % 89 <= 42) {
            flags |= kReverseFlow;
            flow = -2.0 - std::fabs(noise());
        }
        if (i % 113 == 60) {
            flags |= kOverRange;
            flow = 130.0 + noise();
        }
        if (flow > 0)
            forward += flow * 0.25;
        else
            reverse -= flow * 0.25;
        // Now and then the totalisers were switched to litres for a while.
        const bool litres = (i / 50) % 4 == 3;
        if (litres) flags |= kLitres;
        dated.push_back(BuildRecord(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                                    tm.tm_sec, static_cast<float>(flow), Tenths(forward, litres),
                                    Tenths(reverse, litres), flags));
    }
    if (damage.erasedBefore >= 0 && damage.erasedBefore < n)
        dated[static_cast<size_t>(n - 1 - damage.erasedBefore)].fill(0xFF);
    if (wrapped && n >= 2) {
        const int newestFirst = std::max(1, n / 10);
        std::rotate(dated.begin(), dated.end() - newestFirst, dated.end());
    }

    std::vector<Record> archive(kArchiveSlots, Record{});
    std::copy(dated.begin(), dated.end(), archive.begin());
    for (const BadDate& bad : damage.badDates)
        if (bad.slot >= 0 && bad.slot < n) SpoilDate(archive[static_cast<size_t>(bad.slot)], bad.fault);
    return archive;
}

} // namespace vqtsim

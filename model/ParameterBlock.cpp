#include "model/ParameterBlock.h"

#include "model/Cp1250.h"

#include <algorithm>
#include <bit>
#include <string_view>

namespace model {

namespace {
uint32_t BigEndian32(const ParameterBlock& block, size_t offset) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) {
        const size_t at = offset + i;
        v = (v << 8) | (at < block.size() ? block[at] : 0u);
    }
    return v;
}

constexpr std::string_view kAlarmTexts[] = {
    "Przepływ w tył",  "Przekroczenie zakresu", "Alarm \"pustej rury\"",
    "Alarm falownika", "Aktywny Alarm 1",       "Aktywny Alarm 2",
};

// The masks keep bits 5-7 at 0 even if a cached index were ever out of range.
uint8_t Compose(int flow, int totaliser, int pulse) {
    return static_cast<uint8_t>((flow & 3) + 4 * (totaliser & 1) + 8 * (pulse & 3));
}
} // namespace

ParameterBlock CopyParameterBlock(const uint8_t* reply) {
    ParameterBlock block{};
    std::copy_n(reply, block.size(), block.begin());
    return block;
}

int32_t byteToInteger(const ParameterBlock& block, size_t offset) {
    return static_cast<int32_t>(BigEndian32(block, offset));
}

float byteToSingle(const ParameterBlock& block, size_t offset) {
    return std::bit_cast<float>(BigEndian32(block, offset));
}

std::optional<uint8_t> setFlagBytePrzeplyw(const CachedIndexes& cached, int flowCode) {
    if (flowCode < 0 || flowCode > 2) return std::nullopt;
    return Compose(flowCode, cached.TotaliserUnitIndex, cached.PulseWeightIndex);
}

std::optional<uint8_t> setFlagByteLicznik(const CachedIndexes& cached, int totaliserCode) {
    if (totaliserCode < 0 || totaliserCode > 1) return std::nullopt;
    return Compose(cached.FlowUnitIndex, totaliserCode, cached.PulseWeightIndex);
}

std::optional<uint8_t> setFlagByteWaga(const CachedIndexes& cached, int pulseCode) {
    if (pulseCode < 0 || pulseCode > 3) return std::nullopt;
    return Compose(cached.FlowUnitIndex, cached.TotaliserUnitIndex, pulseCode);
}

std::vector<std::string> AlarmLines(uint8_t alarms) {
    std::vector<std::string> lines;
    for (int bit = 7, i = 0; bit >= 2; --bit, ++i) {
        if ((alarms >> bit) & 1u) lines.emplace_back(kAlarmTexts[i]);
    }
    return lines;
}

std::string VersionText(const ParameterBlock& block) {
    const auto* first = reinterpret_cast<const char*>(block.data() + offset::Version);
    std::string_view bytes(first, offset::VersionLength);
    bytes = bytes.substr(0, bytes.find('\0'));
    return Cp1250ToUtf8(bytes);
}

} // namespace model

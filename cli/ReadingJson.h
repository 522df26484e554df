// A reading as the tool's documents carry it: numbers with their units.
#pragma once

#include "model/MeterReading.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

namespace cli {

nlohmann::ordered_json InUnitsJson(const model::ReadingInUnits& u);

// One reading in InfluxDB line protocol: measurement vqt540, the port and the
// address as tags, the numbers and units as fields, the time in ns.
std::string InfluxLine(const std::string& port, uint8_t address, int64_t unixNs,
                       const model::ReadingInUnits& u);

} // namespace cli

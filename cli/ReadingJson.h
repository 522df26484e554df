// A reading as the tool's documents carry it: numbers with their units.
#pragma once

#include "model/MeterReading.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

namespace cli {

nlohmann::ordered_json InUnitsJson(const model::ReadingInUnits& u);

} // namespace cli

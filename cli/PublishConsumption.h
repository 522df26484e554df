// vqt540 publish: the consumption of each finished hour, from the archive
// records the back-fill has just published, so that a dashboard need not do
// the totaliser arithmetic itself.
#pragma once

#include "core/Consumption.h"
#include "publish/Publisher.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace cli {

class HourlyConsumption {
public:
    HourlyConsumption(std::string port, publish::Publisher& publisher)
        : Port(std::move(port)), Out(publisher) {}
    // Records of the meter now on the broker, in time order (the back-fill's
    // lines): the hours they finish go out after them. What the next hours
    // need is kept in the outbox with each hour, for a restart.
    void Published(uint8_t address, const std::vector<std::string>& records);

private:
    std::string Port;
    publish::Publisher& Out;
    std::map<uint8_t, core::HourTally> Tallies;
};

} // namespace cli

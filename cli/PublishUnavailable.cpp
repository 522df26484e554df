// vqt540 publish on a system without an MQTT client library of its own.
#include "cli/Commands.h"
#include "cli/Say.h"

namespace cli {

int RunPublish(const CommonOptions&, const PublishOptions&, Loop&, modbus::Link&) {
    Say("publish is not in this build; watch --format influx or json writes the readings for another "
        "program to send");
    return kExitUsage;
}

} // namespace cli

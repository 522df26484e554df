#include "cli/PortCheck.h"

#include "cli/ExitCodes.h"
#include "cli/Say.h"

#include "modbus/PortName.h"
#include "modbus/SerialPort.h"

namespace cli {

int CheckPort(const std::string& port) {
    using State = modbus::PortProbe::State;
    // A gateway is tried by the transactions themselves, which say why not.
    if (modbus::IsGatewayName(port)) return kExitOk;
    const modbus::PortProbe probe = modbus::ProbePort(port);
    int code = kExitOk;
    switch (probe.state) {
    case State::Usable:
        return kExitOk;
    case State::Absent:
        code = kExitPortAbsent;
        break;
    case State::Busy:
        code = kExitPortBusy;
        break;
    case State::NoPermission:
        code = kExitPortNoPermission;
        break;
    case State::NotATerminal:
        code = kExitPortNotTerminal;
        break;
    case State::BadName:
        code = kExitUsage;
        break;
    case State::OtherError:
        code = kExitPortOther;
        break;
    }
    Say(modbus::DescribeProbe(probe));
    return code;
}

} // namespace cli

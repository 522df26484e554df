#include "cli/CommonOptions.h"

#include "cli/AddressList.h"
#include "cli/Locale.h"
#include "cli/Validators.h"

#include "modbus/PortName.h"
#include "modbus/SerialPort.h"

#include <CLI/CLI.hpp>

namespace cli {

modbus::LinkSettings CommonOptions::Link() const {
    modbus::LinkSettings link;
    link.PortName = Port;
    link.BaudRate = Baud;
    link.Parity = modbus::kParities[modbus::ParityIndexOfName(Parity).value_or(0)].Code;
    link.StopBits = StopBits == 2 ? modbus::kTwoStopBits : modbus::kOneStopBit;
    link.DeviceAddress = static_cast<uint8_t>(Address);
    link.TimeoutMs = TimeoutMs;
    return link;
}

std::string CommonOptions::Separator() const {
    return DecimalSeparator.empty() ? LocaleDecimalSeparator() : DecimalSeparator;
}

CommonFlags AddCommonOptions(CLI::App& app, CommonOptions& o, bool manyAddresses, bool siteConfig) {
    CommonFlags flags;
    const CLI::Validator portName(
        [](std::string& name) {
            if (modbus::IsGatewayName(name)) {
                const auto gateway = modbus::ParsePortName(name);
                return gateway ? std::string() : "\"" + name + "\": " + gateway.error;
            }
            if (!modbus::ResolveDevice(name).empty()) return std::string();
            return "\"" + name + "\" is no port: " + modbus::kPortNames + kGatewayNames;
        },
        "");
    flags.Port = app.add_option("--port", o.Port, std::string(modbus::kPortNamesHelp) + kGatewayNames)
                     ->check(portName)
                     ->capture_default_str();
    if (manyAddresses)
        flags.Address = app.add_option("--address", o.AddressList,
                                       "slave addresses of the meters on the line: N, or a list such as "
                                       "1,2,5 or 1-3,7 (default 1)")
                            ->check(CLI::Validator(
                                [](std::string& text) { return ParseAddressList(text).error; }, "LIST"));
    else
        flags.Address = app.add_option("--address", o.Address, "slave address of the meter")
                            ->transform(Address())
                            ->capture_default_str();
    flags.Baud = app.add_option("--baud", o.Baud, "line speed in bit/s")
                     ->transform(LineSpeed())
                     ->capture_default_str();
    flags.Parity = app.add_option("--parity", o.Parity, "parity")
                       ->check(CLI::IsMember(ParityNames()))
                       ->capture_default_str();
    flags.StopBits =
        app.add_option("--stop-bits", o.StopBits, "stop bits")->transform(Whole(1, 2))->capture_default_str();
    flags.Timeout =
        app.add_option("--timeout", o.TimeoutMs,
                       "reply time-out in ms; through a gateway " + std::to_string(kGatewayTimeoutMs) +
                           " unless given, as the network adds its own delay")
            ->transform(Timeout())
            ->each([&o](const std::string&) { o.TimeoutSet = true; })
            ->capture_default_str();
    app.add_option("--decimal-separator", o.DecimalSeparator,
                   "decimal separator of the numbers shown and written (default: the locale's)")
        ->check(CLI::IsMember({",", "."}));
    if (siteConfig) {
        // The site's own file: "key = value" lines named as the options.
        flags.Config = app.add_option("--config", o.ConfigPath,
                                      "a site's settings file: one 'key = value' a line, the keys the "
                                      "options' names without the dashes, '#' starting a comment line; "
                                      "options given on the command line win");
        return flags;
    }
    flags.Config =
        app.add_option("--config", o.ConfigPath,
                       "the window's settings file, for what the options above leave open (default: "
                       "VQT540.cfg in the working directory, when there is one)");
    return flags;
}

} // namespace cli

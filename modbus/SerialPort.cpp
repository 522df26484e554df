// The parts of the port that are the same on every system: the program's
// port names and the sentences of the probe.
#include "modbus/SerialPort.h"

#include <charconv>

namespace modbus {

int ComDeviceNumber(const std::string& name) {
    if (name.size() < 4 || name.compare(0, 3, "COM") != 0) return 0;
    int number = 0;
    const char* first = name.data() + 3;
    const char* last = name.data() + name.size();
    auto [end, ec] = std::from_chars(first, last, number);
    if (ec != std::errc{} || end != last || *first == '0' || number < 1 || number > 256) return 0;
    return number;
}

int ComPortNumber(const std::string& name) {
    const int number = ComDeviceNumber(name);
    return number <= 12 ? number : 0;
}

std::string DescribeProbe(const PortProbe& probe) {
    if (probe.state == PortProbe::State::BadName)
        return "\"" + probe.name + "\" nie jest nazwą portu (COM1 … COM12 albo ścieżka urządzenia).";
    std::string text = probe.name;
    if (probe.path != probe.name) text += " → " + probe.path;
    if (probe.device != probe.path) text += " → " + probe.device;
    switch (probe.state) {
    case PortProbe::State::Usable:
        return text + ": dostępny.";
    case PortProbe::State::Absent:
        return text + ": brak takiego urządzenia.";
    case PortProbe::State::Busy:
        return text + ": zajęty przez inny program.";
    case PortProbe::State::NoPermission:
        return text + ": brak uprawnień. Dodaj użytkownika do grupy dialout (sudo adduser $USER dialout) "
                      "i zaloguj się ponownie.";
    case PortProbe::State::NotATerminal:
        return text + ": to nie jest port szeregowy.";
    case PortProbe::State::OtherError:
    case PortProbe::State::BadName:
        break;
    }
    return text + ": nie można otworzyć (" + probe.reason + ").";
}

} // namespace modbus

// The serial ports this machine has, with what the system knows of each:
// the USB adapters a technician plugs in as well as the ports on the board.
// The build picks SerialPortsPosix.cpp (sysfs and /dev/serial/by-id) or
// SerialPortsWin32.cpp (the ports the system registers).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct SerialPortInfo {
    std::string Name;    // what to open: "/dev/ttyUSB0", "/dev/serial/by-id/usb-…", "COM14"
    std::string Device;  // the device behind it ("/dev/ttyUSB0"); Name when it is no link
    std::string Driver;  // "ftdi_sio", "cp210x", "serial8250" …; empty when unknown
    std::string Maker;   // the adapter's maker, as its USB descriptor says
    std::string Product; // the adapter's product name
    std::string Serial;  // the adapter's serial number
};

// The ports present now, devices first (sorted naturally: ttyS2 before
// ttyS10), then their /dev/serial/by-id names. POSIX: `root` is the file
// system root to look under ("/"; tests give a tree of their own); a ttyS
// device counts only when its UART is real, as most of the 32 the kernel
// makes are not. Windows: root is not used.
std::vector<SerialPortInfo> ListSerialPorts(const std::string& root = "/");

// The order of the list: runs of digits compare as numbers, so that
// "ttyS2" comes before "ttyS10" and "COM9" before "COM10".
bool NaturalLess(std::string_view a, std::string_view b);

} // namespace platform

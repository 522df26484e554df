// The ports as sysfs tells them: /sys/class/tty for the devices, the USB
// descriptors above an adapter's interface for what it is, and the stable
// names udev makes in /dev/serial/by-id. Nothing here opens a port.
#include "platform/SerialPorts.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>

namespace platform {

namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 3> kPrefixes{"ttyS", "ttyUSB", "ttyACM"};

// A sysfs attribute's text without its line end; empty when it is not there.
std::string Attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    while (!text.empty() && (text.back() == '\r' || text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    return text;
}

bool IsSerialName(std::string_view name) {
    return std::any_of(kPrefixes.begin(), kPrefixes.end(),
                       [name](std::string_view prefix) { return name.starts_with(prefix); });
}

// The kernel makes 32 ttyS whether the board has the UARTs or not; those it
// found nothing at say type 0 (PORT_UNKNOWN), and opening them fails.
bool IsRealUart(const fs::path& ttyDir) {
    const std::string type = Attribute(ttyDir / "type");
    return !type.empty() && type.find_first_not_of('0') != std::string::npos &&
           type.find_first_not_of("0123456789") == std::string::npos;
}

// The maker, product and serial number from the USB device the port belongs
// to: the first directory up from the port's device with an idVendor.
void ReadUsbDescriptor(const fs::path& device, SerialPortInfo& port) {
    std::error_code error;
    for (fs::path dir = fs::canonical(device, error); !error && dir.has_relative_path();
         dir = dir.parent_path()) {
        if (!fs::exists(dir / "idVendor", error)) continue;
        port.Maker = Attribute(dir / "manufacturer");
        port.Product = Attribute(dir / "product");
        port.Serial = Attribute(dir / "serial");
        return;
    }
}

// Since Linux 6.5 a UART's device is the serial core's port (driver "port")
// below its controller ("ctrl"); the driver that found the UART is above both.
std::string DriverOf(const fs::path& device) {
    std::error_code error;
    fs::path dir = fs::canonical(device, error);
    if (error) return {};
    while (dir.has_relative_path() && fs::canonical(dir / "subsystem", error).filename() == "serial-base")
        dir = dir.parent_path();
    const fs::path driver = fs::canonical(dir / "driver", error);
    return error ? std::string() : driver.filename().string();
}

std::vector<SerialPortInfo> Devices(const fs::path& root) {
    std::vector<SerialPortInfo> ports;
    std::error_code error;
    fs::directory_iterator entries(root / "sys/class/tty", error);
    for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        const fs::path dir = entries->path();
        std::error_code missing;
        // Virtual terminals and pseudo-terminals have no device behind them.
        if (!IsSerialName(name) || !fs::exists(dir / "device", missing)) continue;
        if (name.starts_with("ttyS") && !IsRealUart(dir)) continue;
        SerialPortInfo port;
        port.Name = port.Device = "/dev/" + name;
        port.Driver = DriverOf(dir / "device");
        ReadUsbDescriptor(dir / "device", port);
        ports.push_back(std::move(port));
    }
    return ports;
}

// udev's stable names: the same adapter keeps its link whatever ttyUSBn it
// got this time.
std::vector<SerialPortInfo> StableNames(const fs::path& root, const std::vector<SerialPortInfo>& devices) {
    std::vector<SerialPortInfo> links;
    std::error_code error;
    fs::directory_iterator entries(root / "dev/serial/by-id", error);
    for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
        std::error_code unreadable;
        const fs::path target = fs::read_symlink(entries->path(), unreadable);
        if (unreadable) continue;
        SerialPortInfo link;
        link.Device = "/dev/" + target.filename().string();
        const auto device = std::find_if(devices.begin(), devices.end(),
                                         [&](const SerialPortInfo& d) { return d.Device == link.Device; });
        if (device != devices.end()) link = *device;
        link.Name = "/dev/serial/by-id/" + entries->path().filename().string();
        links.push_back(std::move(link));
    }
    return links;
}

void SortByName(std::vector<SerialPortInfo>& ports) {
    std::sort(ports.begin(), ports.end(),
              [](const SerialPortInfo& a, const SerialPortInfo& b) { return NaturalLess(a.Name, b.Name); });
}

} // namespace

std::vector<SerialPortInfo> ListSerialPorts(const std::string& root) {
    const fs::path base(root.empty() ? "/" : root);
    std::vector<SerialPortInfo> ports = Devices(base);
    SortByName(ports);
    std::vector<SerialPortInfo> links = StableNames(base, ports);
    SortByName(links);
    ports.insert(ports.end(), links.begin(), links.end());
    return ports;
}

} // namespace platform

// A machine's /sys and /dev as the port list reads them, under a folder of
// the test's own: UARTs the kernel found and one it did not, a USB adapter
// with its descriptor, a modem, a console without a device, udev's link.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

inline void MakeFakeSerialTree(const std::filesystem::path& root) {
    namespace fs = std::filesystem;
    const fs::path tty = "sys/class/tty", at = fs::absolute(root);
    const auto file = [&](const fs::path& where, const std::string& text) {
        fs::create_directories((at / where).parent_path());
        std::ofstream(at / where) << text;
    };
    // A link, and the folder it names when that is in the tree.
    const auto link = [&](const fs::path& where, const fs::path& target) {
        fs::create_directories((at / where).parent_path());
        if (target.is_absolute()) fs::create_directories(target);
        fs::create_symlink(target, at / where);
    };
    // ttyS0 as before Linux 6.5; since, the serial core's port and controller
    // stand between a tty and the driver that found the UART.
    const fs::path board = "sys/devices/platform/serial8250", port = board / "serial8250:0/serial8250:0.2";
    link(board / "driver", at / "sys/bus/platform/drivers/serial8250");
    link(port.parent_path() / "subsystem", at / "sys/bus/serial-base");
    link(port.parent_path() / "driver", at / "sys/bus/serial-base/drivers/ctrl");
    link(port / "subsystem", at / "sys/bus/serial-base");
    link(port / "driver", at / "sys/bus/serial-base/drivers/port");
    for (const char* uart : {"ttyS0", "ttyS1", "ttyS2", "ttyS10"}) {
        file(tty / uart / "type", uart == std::string("ttyS1") ? "0\n" : "4\n");
        link(tty / uart / "device", at / (uart == std::string("ttyS0") ? board : port));
    }
    const struct {
        const char *name, *usb, *port, *driver, *bus, *maker, *product, *serial;
    } adapters[] = {
        {"ttyUSB0", "1-1", "1-1:1.0/ttyUSB0", "ftdi_sio", "usb-serial", "FTDI", "FT232R USB UART", "A1B2C3"},
        {"ttyACM0", "1-2", "1-2:1.0", "cdc_acm", "usb", "Arduino", "Uno", "7503"}};
    for (const auto& a : adapters) {
        const fs::path usb = fs::path("sys/devices/pci0000:00/usb1") / a.usb;
        for (const auto& [name, text] : {std::pair{"idVendor", "0403"},
                                         {"manufacturer", a.maker},
                                         {"product", a.product},
                                         {"serial", a.serial}})
            file(usb / name, std::string(text) + "\n");
        link(usb / a.port / "driver", at / "sys/bus" / a.bus / "drivers" / a.driver);
        link(tty / a.name / "device", at / usb / a.port);
    }
    fs::create_directories(at / tty / "tty0");
    link("dev/serial/by-id/usb-FTDI_X_A1B2C3-if00-port0", "../../ttyUSB0");
}

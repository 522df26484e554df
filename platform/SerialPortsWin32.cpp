// The COM ports the system registers under HARDWARE\DEVICEMAP\SERIALCOMM:
// each value names the port's device object and holds its COM name. The key
// lists the ports present now, USB adapters included, and needs no rights.
#include "platform/SerialPorts.h"

#include "platform/Win32Text.h"

#include <algorithm>
#include <windows.h>

namespace platform {

namespace {

// A registry string need not end in a NUL, or may end in several.
std::wstring RegistryText(const std::vector<BYTE>& data, DWORD size) {
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

} // namespace

std::vector<SerialPortInfo> ListSerialPorts(const std::string&) {
    std::vector<SerialPortInfo> ports;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return ports; // no port was ever there: the key is made with the first
    DWORD longestName = 0, longestData = 0;
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longestName,
                           &longestData, nullptr, nullptr) == ERROR_SUCCESS) {
        std::wstring name(longestName + 1, L'\0');
        std::vector<BYTE> data(longestData + sizeof(wchar_t));
        for (DWORD i = 0;; ++i) {
            DWORD nameSize = static_cast<DWORD>(name.size());
            DWORD dataSize = static_cast<DWORD>(data.size());
            DWORD type = 0;
            const LONG result =
                ::RegEnumValueW(key, i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
            if (result == ERROR_NO_MORE_ITEMS) break;
            if (result != ERROR_SUCCESS || type != REG_SZ) continue;
            const std::string com = WideToUtf8(RegistryText(data, dataSize));
            if (com.empty()) continue;
            SerialPortInfo port;
            port.Name = com;
            // COM10 and up open only through the device namespace; below, it does no harm.
            port.Device = "\\\\.\\" + com;
            port.Driver = WideToUtf8(std::wstring_view(name.data(), nameSize)); // "\Device\VCP0"
            ports.push_back(std::move(port));
        }
    }
    ::RegCloseKey(key);
    std::sort(ports.begin(), ports.end(),
              [](const SerialPortInfo& a, const SerialPortInfo& b) { return NaturalLess(a.Name, b.Name); });
    return ports;
}

} // namespace platform

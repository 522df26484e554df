#include "sim/LineRules.h"

#include "sim/Simulator.h"

#include <cmath>

namespace vqtsim {

speed_t SpeedCode(uint32_t baud) {
    switch (baud) {
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return B0;
    }
}

std::chrono::microseconds WireTime(size_t chars, uint32_t baud) {
    return std::chrono::microseconds(
        static_cast<int64_t>(std::ceil(static_cast<double>(chars) * 11.0 * 1000000.0 / baud)));
}

LineMatch CompareLine(const termios& master, uint32_t baud, int parity) {
    if (cfgetospeed(&master) != SpeedCode(baud)) return LineMatch::OtherSpeed;
    const bool odd = (master.c_cflag & PARODD) != 0;
    if ((master.c_cflag & PARENB) != 0)
        return (odd ? 1 : 2) == parity ? LineMatch::Same : LineMatch::OtherParity;
    return odd == (parity == 1) ? LineMatch::Same : LineMatch::OtherParity;
}

void GarbleAnswer(std::vector<uint8_t>& answer) {
    for (uint8_t& b : answer) b = static_cast<uint8_t>(((b << 1) | (b >> 7)) ^ 0x40);
    if (answer.size() >= 4) {
        const uint16_t crc = SimCrc(answer.data(), answer.size() - 2);
        if (answer[answer.size() - 2] == (crc & 0xFF) && answer.back() == (crc >> 8)) answer.back() ^= 0xFF;
    }
}

} // namespace vqtsim

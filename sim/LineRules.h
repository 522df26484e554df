// How the simulated line treats what crosses it: speeds, the time bytes take,
// and what a receiver set to other settings makes of them.
#pragma once

#include <chrono>

#include <cstddef>
#include <cstdint>
#include <termios.h>
#include <vector>

namespace vqtsim {

// The termios code of a speed; B0 for one the line does not know.
speed_t SpeedCode(uint32_t baud);

// Time on the line for n characters of 11 bits (start, 8 data, parity or
// second stop, stop), to the microsecond: a benchmark of the master against
// the wire limit must not measure the simulator's rounding.
std::chrono::microseconds WireTime(size_t chars, uint32_t baud);

enum class LineMatch { Same, OtherSpeed, OtherParity };
// The master's settings (a pty's) against the meter's speed and parity
// (0 none, 1 odd, 2 even). Linux clears PARENB on a pty but keeps PARODD:
// odd parity is told apart from the other two, none and even only where
// PARENB stays.
LineMatch CompareLine(const termios& master, uint32_t baud, int parity);

// Each byte as a receiver framing it with the wrong parity might see it;
// never a frame with a good CRC.
void GarbleAnswer(std::vector<uint8_t>& answer);

} // namespace vqtsim

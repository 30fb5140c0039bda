#pragma once

#include "SimLineSettings.h"

#include <cstdint>
#include <optional>

// The termios2 calls, which carry any rate as a number (BOTHER); apart because the kernel's headers
// that define them clash with <termios.h>. Both go straight to the driver.
std::optional<TSimLineSettings> ReadTermios2(int fd);
bool ApplyRawTermios2(int fd, const TSimLineSettings& settings);

// The B constant of a rate, 0 for a rate without one; and the rate of a B constant, 0 for none.
std::uint32_t SpeedFlag(std::uint32_t baud);
std::uint32_t RateOfSpeedFlag(std::uint32_t flag);

// The c_cflag bits of data bits, parity and stop bits, which <termios.h> and the kernel share.
std::uint32_t FramingMask();
std::uint32_t FramingFlags(const TSimLineSettings& settings);
// Sets the data bits, parity and stop bits of `settings` from a c_cflag.
void ReadFraming(std::uint32_t cflag, TSimLineSettings& settings);

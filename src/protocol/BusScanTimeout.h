#pragma once

#include <chrono>
#include <cstdint>

// How long one address of a bus scan waits for its answer: the status request and the answer on
// the wire at the line's settings, plus the controller's turnaround, and never under the 30 ms that
// fast lines have always had. At 2400 baud the two frames alone take 37.5 ms.
std::chrono::milliseconds BusScanTimeout(std::uint32_t baud, unsigned dataBits, bool parity, bool twoStopBits);

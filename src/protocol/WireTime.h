#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

// Bytes on a UART line: each a start bit, its data bits, a parity bit if any and one or two stop
// bits (1.5 counts as 2, as UARTs send it), back to back at the rate.
unsigned BitsPerByte(unsigned dataBits, bool parity, bool twoStopBits);
// How long `bytes` such bytes take; none at rate 0.
std::chrono::nanoseconds WireTime(std::size_t bytes, std::uint32_t baud, unsigned bitsPerByte);

#include "protocol/WireTime.h"

unsigned BitsPerByte(unsigned dataBits, bool parity, bool twoStopBits)
{
  return 1 + dataBits + (parity ? 1 : 0) + (twoStopBits ? 2 : 1);
}

std::chrono::nanoseconds WireTime(std::size_t bytes, std::uint32_t baud, unsigned bitsPerByte)
{
  if (baud == 0)
    return {};
  return std::chrono::nanoseconds(static_cast<std::uint64_t>(bytes) * bitsPerByte * 1'000'000'000 / baud);
}

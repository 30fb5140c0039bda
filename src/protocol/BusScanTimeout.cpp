#include "protocol/BusScanTimeout.h"

#include "protocol/CommonDatas.h"
#include "protocol/WireTime.h"

#include <algorithm>
#include <tuple>

std::chrono::milliseconds BusScanTimeout(std::uint32_t baud, unsigned dataBits, bool parity, bool twoStopBits)
{
  constexpr std::chrono::milliseconds Turnaround{20};
  constexpr std::chrono::milliseconds Least{30};
  constexpr std::size_t bytes = std::tuple_size_v<TStatusRequest> + std::tuple_size_v<TFrame>;
  const auto wire = std::chrono::ceil<std::chrono::milliseconds>(
      WireTime(bytes, baud, BitsPerByte(dataBits, parity, twoStopBits)));
  return std::max(Least, wire + Turnaround);
}

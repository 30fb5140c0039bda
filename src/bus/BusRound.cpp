#include "BusRound.h"

#include <algorithm>

std::chrono::microseconds TBusRound::Tick(std::size_t n, std::chrono::microseconds exchange)
{
  if (n == 0)
    return Period;
  return std::max<std::chrono::microseconds>(Period / static_cast<long>(n), exchange);
}

std::optional<std::uint8_t> TBusRound::Next(const std::vector<std::uint8_t>& addresses)
{
  if (addresses.empty())
    return std::nullopt;
  auto at = Last ? std::find(addresses.begin(), addresses.end(), *Last) : addresses.end();
  at = (at == addresses.end() || std::next(at) == addresses.end()) ? addresses.begin() : std::next(at);
  Last = *at;
  return Last;
}

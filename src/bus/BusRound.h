#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

// The poll in turn: one status request a tick, to the listed controllers one after the other, so
// that each is asked every max(500 ms, N x one exchange).
class TBusRound {
public:
  static constexpr std::chrono::milliseconds Period{500}; // the single poll's rate

  // The time between two ticks for n controllers whose status exchange (pause, request, answer)
  // takes `exchange`.
  static std::chrono::microseconds Tick(std::size_t n, std::chrono::microseconds exchange);

  // The controller to ask now: the one after the last asked in list order, from the start when the
  // last asked has left the list. Nothing for an empty list.
  std::optional<std::uint8_t> Next(const std::vector<std::uint8_t>& addresses);

private:
  std::optional<std::uint8_t> Last;
};

#pragma once

#include <cstdint>
#include <span>

// Who follows the bus's controllers besides the panel's own (the bus view): told of every status
// answer, the panel's poll's and the bus round's, and of every status request that went unanswered.
// Every call runs on the window's thread.
class TBusListener {
public:
  virtual ~TBusListener() = default;
  // The block that answered the status request to `address`, as read (checked by the listener).
  virtual void StatusAnswered(std::uint8_t address, std::span<const std::uint8_t> block) = 0;
  virtual void StatusMissing(std::uint8_t address) = 0;
  // The worker has finished its exchange: the line is free.
  virtual void ExchangeEnded() {}
};

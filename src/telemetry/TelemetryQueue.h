#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

struct TTelemetryMessage {
  std::string Topic, Payload;
  int Qos = 0;
  bool Retain = false;
  bool Kept = false; // a verdict: never dropped; a state: dropped when newer ones crowd it out
};

// What waits for the broker, in the order it came, bounded: when the broker is slow or gone, the oldest state
// is dropped for the newest (each drop counted), while every kept message stays until taken. Any thread may put;
// one takes.
class TTelemetryQueue {
public:
  explicit TTelemetryQueue(std::size_t statesMax);

  void Put(TTelemetryMessage message);
  std::optional<TTelemetryMessage> Take();
  // A message taken and not sent after all goes back in front.
  void PutBack(TTelemetryMessage message);
  // The states still waiting dropped and counted, as the program ends.
  void DropStates();
  std::uint64_t Dropped() const;
  std::size_t KeptWaiting() const;
  bool Empty() const;

private:
  const std::size_t StatesMax;
  mutable std::mutex Lock;
  std::deque<TTelemetryMessage> Messages;
  std::size_t States = 0;
  std::size_t Kept = 0;
  std::uint64_t DroppedCount = 0;
};

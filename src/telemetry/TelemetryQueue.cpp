#include "telemetry/TelemetryQueue.h"

#include <algorithm>

TTelemetryQueue::TTelemetryQueue(std::size_t statesMax) : StatesMax(statesMax)
{
}

void TTelemetryQueue::Put(TTelemetryMessage message)
{
  const std::lock_guard hold(Lock);
  if (!message.Kept && States >= StatesMax) {
    const auto oldest = std::find_if(Messages.begin(), Messages.end(), [](const auto& m) { return !m.Kept; });
    if (oldest == Messages.end()) { // no room for states at all
      ++DroppedCount;
      return;
    }
    Messages.erase(oldest);
    --States;
    ++DroppedCount;
  }
  ++(message.Kept ? Kept : States);
  Messages.push_back(std::move(message));
}

std::optional<TTelemetryMessage> TTelemetryQueue::Take()
{
  const std::lock_guard hold(Lock);
  if (Messages.empty())
    return std::nullopt;
  TTelemetryMessage message = std::move(Messages.front());
  Messages.pop_front();
  --(message.Kept ? Kept : States);
  return message;
}

void TTelemetryQueue::PutBack(TTelemetryMessage message)
{
  const std::lock_guard hold(Lock);
  ++(message.Kept ? Kept : States);
  Messages.push_front(std::move(message));
}

void TTelemetryQueue::DropStates()
{
  const std::lock_guard hold(Lock);
  DroppedCount += States;
  States = 0;
  std::erase_if(Messages, [](const TTelemetryMessage& m) { return !m.Kept; });
}

std::uint64_t TTelemetryQueue::Dropped() const
{
  const std::lock_guard hold(Lock);
  return DroppedCount;
}

std::size_t TTelemetryQueue::KeptWaiting() const
{
  const std::lock_guard hold(Lock);
  return Kept;
}

bool TTelemetryQueue::Empty() const
{
  const std::lock_guard hold(Lock);
  return Messages.empty();
}

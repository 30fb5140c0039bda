#include "serial/Event.h"

#include "serial/Synchronizer.h"

TEvent::TEvent(bool initiallySet) : State(initiallySet)
{
}

void TEvent::Set()
{
  TSynchronizer& sync = TSynchronizer::Instance();
  {
    std::lock_guard lock(sync.Mutex);
    State = true;
  }
  sync.Changed.notify_all();
}

void TEvent::Reset()
{
  std::lock_guard lock(TSynchronizer::Instance().Mutex);
  State = false;
}

bool TEvent::IsSet() const
{
  std::lock_guard lock(TSynchronizer::Instance().Mutex);
  return State;
}

bool TEvent::WaitFor(std::chrono::milliseconds timeout)
{
  return WaitUntil(TSynchronizer::TClock::now() + timeout);
}

bool TEvent::WaitUntil(std::chrono::steady_clock::time_point deadline)
{
  return TSynchronizer::Instance().WaitUntil(deadline, [this] { return State; });
}

#pragma once

#include "serial/Synchronizer.h"

#include <chrono>
#include <functional>
#include <thread>

// Waits on the test's (the window's) thread until ready() holds, running the background threads'
// synchronised calls meanwhile, as the window's event loop would.
inline bool WaitOnMain(const std::function<bool()>& ready, std::chrono::milliseconds timeout = std::chrono::seconds(5))
{
  return TSynchronizer::Instance().WaitUntil(TSynchronizer::TClock::now() + timeout, ready);
}

// Checks a condition that nothing signals (a driver's queue, say) every millisecond until the deadline.
inline bool PollUntil(const std::function<bool()>& ready, std::chrono::milliseconds timeout = std::chrono::seconds(5))
{
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!ready()) {
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

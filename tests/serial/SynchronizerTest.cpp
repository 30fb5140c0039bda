#include "serial/Synchronizer.h"
#include "serial/Event.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(Synchronize, RunsOnTheWindowsThreadWhileItWaits)
{
  const std::thread::id main = std::this_thread::get_id();
  std::thread::id ranOn;
  TEvent done(false);
  std::thread worker([&] {
    TSynchronizer::Instance().Synchronize([&] { ranOn = std::this_thread::get_id(); });
    done.Set();
  });
  // The window's thread waits for the worker, which waits for the window: the wait runs the call.
  EXPECT_TRUE(done.WaitFor(5s));
  worker.join();
  EXPECT_EQ(ranOn, main);
}

TEST(Synchronize, OnTheWindowsThreadRunsAtOnce)
{
  bool ran = false;
  TSynchronizer::Instance().Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST(Synchronize, AnErrorReachesTheThreadThatAsked)
{
  bool caught = false;
  TEvent finished(false);
  std::thread worker([&] {
    try {
      TSynchronizer::Instance().Synchronize([] { throw std::runtime_error("window step failed"); });
    } catch (const std::runtime_error&) {
      caught = true;
    }
    finished.Set();
  });
  EXPECT_TRUE(finished.WaitFor(5s));
  worker.join();
  EXPECT_TRUE(caught);
}

TEST(Event, WaitsOnlyWhileResetAndTimesOut)
{
  TEvent event(true);
  EXPECT_TRUE(event.WaitFor(0ms));
  event.Reset();
  EXPECT_FALSE(event.WaitFor(50ms));
  std::thread setter([&] { event.Set(); });
  EXPECT_TRUE(event.WaitFor(5s));
  setter.join();
}

TEST(Synchronize, WakerIsAskedOncePerBatch)
{
  std::atomic<int> wakes = 0;
  TSynchronizer& sync = TSynchronizer::Instance();
  sync.SetWaker([&] { ++wakes; });
  TEvent done(false);
  std::thread worker([&] {
    sync.Synchronize([] {});
    done.Set();
  });
  EXPECT_TRUE(done.WaitFor(5s));
  worker.join();
  sync.SetWaker(nullptr);
  EXPECT_EQ(wakes, 1);
}

// A window that went before its wake ran (tests and benchmarks make one after another): the next
// window's waker must still be asked, or nothing posted would run again.
TEST(Synchronize, ANewWakerIsAskedThoughTheOldOnesWakeNeverRan)
{
  std::atomic<int> oldWakes = 0, newWakes = 0;
  TSynchronizer& sync = TSynchronizer::Instance();
  sync.SetWaker([&] { ++oldWakes; });
  std::thread([&] { sync.Post([] {}); }).join();
  sync.SetWaker([&] { ++newWakes; });
  std::thread([&] { sync.Post([] {}); }).join();
  sync.ProcessPending();
  sync.SetWaker(nullptr);
  EXPECT_EQ(oldWakes, 1);
  EXPECT_EQ(newWakes, 1);
}

} // namespace

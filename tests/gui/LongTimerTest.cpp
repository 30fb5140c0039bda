#include "console/LongTimer.h"

#include <QTest>

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;

TEST(LongTimer, FiresAfterItsIntervalAndRepeats)
{
  TLongTimer timer;
  int fired = 0;
  QObject::connect(&timer, &TLongTimer::Timeout, [&] { ++fired; });
  timer.SetInterval(50);
  const auto start = std::chrono::steady_clock::now();
  timer.SetEnabled(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return fired >= 1; }, 5000));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
  ASSERT_TRUE(QTest::qWaitFor([&] { return fired >= 2; }, 5000));
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.Enabled());
}

// Intervals past a signed 32-bit count of milliseconds (the longest timed motion is 1000 hours)
// must neither fire at once nor wrap into a short wait.
TEST(LongTimer, LongestIntervalsDoNotFireEarly)
{
  for (std::uint32_t interval : {3'600'000'000u, 2'147'483'648u, 4'294'967'295u}) {
    TLongTimer timer;
    bool fired = false;
    QObject::connect(&timer, &TLongTimer::Timeout, [&] { fired = true; });
    timer.SetInterval(interval);
    timer.SetEnabled(true);
    EXPECT_FALSE(QTest::qWaitFor([&] { return fired; }, 200)) << interval;
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), interval);
  }
}

} // namespace

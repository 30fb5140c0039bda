#include "serial/EndSignals.h"

#include "serial/Backstop.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <string>

#include <unistd.h>

namespace {

// The backstop is armed by the signal itself, with no event loop running: the loop is what may hang.
TEST(EndSignals, EachEndSignalArmsTheBackstopAndIsPassedOn)
{
  ASSERT_TRUE(TEndSignals::Install());
  const struct {
    int Signal;
    const char* Name;
  } cases[] = {{SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}};
  for (const auto& c : cases) {
    ::alarm(0);
    ASSERT_EQ(::raise(c.Signal), 0);
    const unsigned armed = ::alarm(0); // the time left, and the backstop off again
    EXPECT_GT(armed, 0u) << c.Name;
    EXPECT_LE(armed, TBackstop::Margin.count()) << c.Name;
    EXPECT_EQ(TEndSignals::Take(), c.Signal);
    EXPECT_STREQ(TEndSignals::Name(c.Signal), c.Name);
  }
  EXPECT_EQ(TEndSignals::Take(), 0) << "nothing more came";
  for (int signal : {SIGTERM, SIGINT, SIGHUP})
    std::signal(signal, SIG_DFL);
}

// An end gives each Stop due its time and takes it back as each completes; the day's Stop all arms nothing.
TEST(Backstop, GivesEachStopDueItsTimeOnlyOnceAnEndHasArmedIt)
{
  const auto margin = static_cast<unsigned>(TBackstop::Margin.count());
  const auto perStop = static_cast<unsigned>(TBackstop::PerStop.count());
  ::alarm(0);
  TBackstop::StopsDue(60);
  TBackstop::StopDone();
  EXPECT_EQ(::alarm(0), 0u) << "no end under way: nothing armed";
  const struct {
    const char* Name;
    std::function<void()> Step;
    unsigned Seconds; // the alarm as armed after the step
  } steps[] = {
      {"an end begins with 59 Stops due", [] { TBackstop::Arm(); }, margin + 59 * perStop},
      {"60 Stops due", [] { TBackstop::StopsDue(60); }, margin + 60 * perStop},
      {"one done", [] { TBackstop::StopDone(); }, margin + 59 * perStop},
      {"the last due", [] { TBackstop::StopsDue(1); }, margin + perStop},
      {"done", [] { TBackstop::StopDone(); }, margin},
      {"a Stop again after the last, none due", [] { TBackstop::StopDone(); }, margin},
  };
  for (const auto& s : steps) {
    s.Step();
    const unsigned armed = ::alarm(0);
    EXPECT_GE(armed + 1, s.Seconds) << s.Name; // read a moment later, rounded
    EXPECT_LE(armed, s.Seconds) << s.Name;
    ::alarm(armed); // still an end under way for the next step
  }
  ::alarm(0);
}

} // namespace

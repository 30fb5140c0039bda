#include "EndSignals.h"

#include <gtest/gtest.h>

#include <csignal>
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
    EXPECT_LE(armed, TEndSignals::LimitSeconds) << c.Name;
    EXPECT_EQ(TEndSignals::Take(), c.Signal);
    EXPECT_STREQ(TEndSignals::Name(c.Signal), c.Name);
  }
  EXPECT_EQ(TEndSignals::Take(), 0) << "nothing more came";
  for (int signal : {SIGTERM, SIGINT, SIGHUP})
    std::signal(signal, SIG_DFL);
}

} // namespace

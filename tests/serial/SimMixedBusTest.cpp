#include "SimLineFixture.h"

#include <gtest/gtest.h>

namespace {

using namespace SimLineFixture;

unsigned Count(const TBytes& status)
{
  return (status.at(1) & 0x0Fu) * 256u + status.at(2);
}

// A mixed bus: controller 5 misbehaves of its own, 6 beside it stays sound.
struct TControllerFaultCase {
  const char* Name;
  TSimControllerFaults Faults; // controller 5's
  std::optional<std::chrono::milliseconds> Late = 0ms; // none: silent
  bool CrcGood = true;
  std::uint8_t Speed = 20; // what 5 reports once 6 reports the commanded 20 rev/s
};

void PrintTo(const TControllerFaultCase& c, std::ostream* out)
{
  *out << c.Name;
}

class TSimLineControllerFaultTest : public TSimLineTest, public testing::WithParamInterface<TControllerFaultCase> {};

TEST_P(TSimLineControllerFaultTest, HitsItsOwnControllerOnly)
{
  const TControllerFaultCase& c = GetParam();
  Open({5, 6});
  ASSERT_TRUE(Line->SetControllerFaults(5, c.Faults));
  const auto timed = [&](std::uint8_t address) {
    const auto start = TClock::now();
    const TBytes answer = Exchange(Status(address));
    return std::pair(answer, TClock::now() - start);
  };
  if (c.Late) {
    const auto [answer, took] = timed(5);
    ASSERT_EQ(answer.size(), 5u);
    EXPECT_EQ(answer[0], 5);
    EXPECT_EQ(CrcRight(answer), c.CrcGood);
    EXPECT_GE(took, *c.Late);
    EXPECT_LT(took, *c.Late + AnswerLimit);
  } else {
    Send(Status(5));
    ExpectNothing();
  }
  const auto [sound, took] = timed(6);
  EXPECT_EQ(sound, IdleStatus(6));
  EXPECT_LT(took, AnswerLimit);
  if (c.Late > 0ms) {
    const TBytes both = Exchange(Join({Status(5), Status(6)}), 10);
    EXPECT_EQ(TBytes(both.begin(), both.begin() + 5), IdleStatus(6)) << "6 overtakes the late 5";
  }
  if (!c.Late)
    return;

  // Both run up together from one broadcast, then stop together; the counts are summed over every answer.
  Send(Join({Command(BroadcastAddress, CmdSetSpeed, 20), Command(BroadcastAddress, CmdRun)}));
  unsigned counts[2] = {0, 0};
  TBytes last[2];
  const auto poll = [&] {
    for (const std::size_t i : {1u, 0u}) { // 5 after 6, so it has run at least as long
      last[i] = Exchange(Status(static_cast<std::uint8_t>(5 + i)));
      ASSERT_EQ(last[i].size(), 5u);
      counts[i] += Count(last[i]);
    }
  };
  for (const auto deadline = TClock::now() + 3s; (last[1].empty() || last[1][3] != 20) && TClock::now() < deadline;)
    poll();
  ASSERT_EQ(last[1].at(3), 20);
  EXPECT_EQ(last[0].at(3), c.Speed);
  Send(Command(BroadcastAddress, CmdStop));
  const auto stopped = [&] {
    const auto devices = Line->Controllers();
    return devices[0].Velocity() == 0.0 && devices[1].Velocity() == 0.0;
  };
  for (const auto deadline = TClock::now() + 3s; !stopped() && TClock::now() < deadline;)
    poll();
  poll();
  const auto devices = Line->Controllers();
  EXPECT_NEAR(counts[0], c.Faults.Slip * devices[0].Position(), 1.0) << "5's counter";
  EXPECT_NEAR(counts[1], devices[1].Position(), 1.0) << "6's counter";
  EXPECT_GT(devices[1].Position(), 10.0) << "6 made its whole run";
}

INSTANTIATE_TEST_SUITE_P(
    MixedBus, TSimLineControllerFaultTest,
    testing::Values(TControllerFaultCase{"Delay", {.DelayMs = 100}, 100ms},
                    TControllerFaultCase{"Silent", {.Silent = true}, std::nullopt},
                    TControllerFaultCase{"Corrupt", {.Corrupt = true}, 0ms, false},
                    TControllerFaultCase{"MaxRps", {.MaxRps = 12}, 0ms, true, 12},
                    TControllerFaultCase{"Slip", {.Slip = 0.5}},
                    TControllerFaultCase{"StallAfter", {.StallAfterS = 0.5}, 0ms, true, 0}),
    [](const testing::TestParamInfo<TControllerFaultCase>& info) { return info.param.Name; });

} // namespace

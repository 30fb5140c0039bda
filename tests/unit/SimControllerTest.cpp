#include "SimController.h"
#include "protocol/OzmCommands.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using TTime = TSimController::TTime;

TTime At(double seconds)
{
  return TTime{} + std::chrono::round<TTime::duration>(std::chrono::duration<double>(seconds));
}

TFrame Frame(std::uint8_t address, std::uint8_t command, std::uint8_t value = 0)
{
  return {FrameMarker, address, command, value, TOzmCommands::Crc8(3, address, command, value)};
}

struct TStatus {
  std::uint8_t Address;
  bool Feedback, Overflow, Backward;
  unsigned Count;
  std::uint8_t Speed;
};

struct TTimedCommand {
  double Seconds;
  std::uint8_t Command;
  std::uint8_t Value = 0;
};

void Play(TSimController& controller, const std::vector<TTimedCommand>& commands)
{
  for (const TTimedCommand& c : commands)
    ASSERT_TRUE(controller.HandleFrame(Frame(controller.Address(), c.Command, c.Value), At(c.Seconds)));
}

TStatus PollStatus(TSimController& controller, double seconds)
{
  const auto answer = controller.HandleFrame(TOzmCommands::StatusRequestFor(controller.Address()), At(seconds));
  EXPECT_TRUE(answer);
  if (!answer)
    return {};
  const TFrame& a = *answer;
  EXPECT_EQ(a[4], TOzmCommands::Crc8(std::span(a).first(4)));
  EXPECT_EQ(a[1] & 0x20, 0) << "bit 5 is unused";
  return {a[0], (a[1] & 0x80) != 0, (a[1] & 0x40) != 0, (a[1] & 0x10) != 0, (a[1] & 0x0Fu) * 256u + a[2], a[3]};
}

struct TMotionCase {
  const char* Name;
  std::vector<TTimedCommand> Commands;
  double Seconds, Velocity, Position;
  TSimControllerFaults Faults{};
};

void PrintTo(const TMotionCase& c, std::ostream* out)
{
  *out << c.Name;
}

class TMotionTest : public testing::TestWithParam<TMotionCase> {};

TEST_P(TMotionTest, FollowsTheRamps)
{
  TSimController controller(0);
  controller.SetFaults(GetParam().Faults);
  Play(controller, GetParam().Commands);
  controller.AdvanceTo(At(GetParam().Seconds));
  EXPECT_NEAR(controller.Velocity(), GetParam().Velocity, 1e-9);
  EXPECT_NEAR(controller.Position(), GetParam().Position, 1e-9);
}

// Accelerations are chosen so every ramp ends on a round time: the expected areas are exact.
INSTANTIATE_TEST_SUITE_P(
    Ramps, TMotionTest,
    testing::Values(
        TMotionCase{"HalfwayUpWithTheDefaults", {{0, CmdRun}}, 0.5, 12.0, 3.0},
        TMotionCase{"UpThenCruising", {{0, CmdRun}}, 1.0, 16.0, 16.0 / 3 + 16.0 / 3},
        TMotionCase{"CappedAtMaximum", {{0, CmdSetSpeed, 100}, {0, CmdSetMaxSpeed, 20}, {0, CmdSetAccel, 10}, {0, CmdRun}},
                    3.0, 20.0, 20.0 + 20.0},
        TMotionCase{"LoweredMaximumSlowsWithDeceleration",
                    {{0, CmdSetAccel, 16}, {0, CmdRun}, {2, CmdSetDecel, 4}, {2, CmdSetMaxSpeed, 10}}, 2.5, 14.0,
                    8.0 + 16.0 + 7.5},
        TMotionCase{"StopRampsDownWithDeceleration", {{0, CmdSetAccel, 16}, {0, CmdRun}, {2, CmdSetDecel, 8}, {2, CmdStop}},
                    3.0, 8.0, 8.0 + 16.0 + 12.0},
        TMotionCase{"ReversalSlowsThroughZero",
                    {{0, CmdSetAccel, 16}, {0, CmdSetDecel, 16}, {0, CmdRun}, {1, CmdSetDirection, 1}}, 1.5, 8.0, 14.0},
        TMotionCase{"ReversalThenUpTheOtherWay",
                    {{0, CmdSetAccel, 16}, {0, CmdSetDecel, 16}, {0, CmdRun}, {1, CmdSetDirection, 1}}, 2.5, -8.0, 14.0},
        TMotionCase{"ReversalUsesBothRates",
                    {{0, CmdSetAccel, 4}, {0, CmdSetDecel, 16}, {0, CmdSetSpeed, 8}, {0, CmdRun}, {2, CmdSetDirection, 1}},
                    3.0, -2.0, 8.0 + 2.0 - 0.5},
        TMotionCase{"MotorSlowerThanCommanded", {{0, CmdSetSpeed, 100}, {0, CmdSetAccel, 10}, {0, CmdRun}}, 3.0, 12.0,
                    7.2 + 21.6, {.MaxRps = 12}},
        TMotionCase{"StallCutsTheSpeedAtOnce", {{0, CmdRun}}, 2.0, 0.0, 3.0, {.StallAfterS = 0.5}},
        TMotionCase{"StallsAgainOnlyAfterARestart", {{0, CmdRun}, {1, CmdRun}, {2, CmdStop}, {2, CmdRun}}, 2.75, 0.0,
                    3.0 + 3.0, {.StallAfterS = 0.5}},
        TMotionCase{"StallTimedFromTheRestart", {{0, CmdRun}, {1, CmdStop}, {1.5, CmdRun}}, 1.75, 6.0, 3.0 + 0.75,
                    {.StallAfterS = 0.5}}),
    [](const testing::TestParamInfo<TMotionCase>& info) { return info.param.Name; });

TEST(SimControllerStatus, CountsWholeRevolutionsCarriesTheFractionAndRoundsTheSpeed)
{
  TSimController controller(0);
  Play(controller, {{0, CmdSetAccel, 16}, {0, CmdSetSpeed, 20}, {0, CmdRun}});
  // Position 0.98 at 0.35 s (speed 5.6), 2.42 at 0.55 s (8.8), 8 at 1 s (16), 12.5 at 1.25 s (20).
  struct TPoll {
    double Seconds;
    unsigned Count;
    std::uint8_t Speed;
  };
  for (const TPoll& p : {TPoll{0.35, 0, 6}, TPoll{0.55, 2, 9}, TPoll{1.0, 6, 16}, TPoll{1.25, 4, 20},
                         TPoll{1.25, 0, 20}}) {
    const TStatus status = PollStatus(controller, p.Seconds);
    EXPECT_EQ(status.Count, p.Count) << "at " << p.Seconds << " s";
    EXPECT_EQ(status.Speed, p.Speed) << "at " << p.Seconds << " s";
    EXPECT_FALSE(status.Overflow || status.Backward);
  }
}

TEST(SimControllerStatus, CountOverflowKeepsTwelveBitsAndLosesTheExcess)
{
  TSimController controller(0);
  Play(controller, {{0, CmdSetMaxSpeed, 250}, {0, CmdSetSpeed, 250}, {0, CmdRun}});
  const TStatus full = PollStatus(controller, 60.0);
  EXPECT_TRUE(full.Overflow);
  EXPECT_EQ(full.Count, 4095u);
  EXPECT_EQ(full.Speed, 250);
  const TStatus next = PollStatus(controller, 61.0);
  EXPECT_FALSE(next.Overflow);
  EXPECT_EQ(next.Count, 250u);
}

TEST(SimControllerStatus, DirectionFollowsTheRevolutionsElseTheCommandAndFeedbackTheEncoder)
{
  TSimController controller(3);
  Play(controller, {{0, CmdSetDirection, 1}, {0, CmdSetAccel, 16}, {0, CmdRun}, {1, CmdStop}});
  const TStatus moved = PollStatus(controller, 5.0);
  EXPECT_TRUE(moved.Backward && moved.Feedback);
  EXPECT_EQ(moved.Count, 13u); // 8 up, 16 * (16 / 24) / 2 down
  EXPECT_EQ(moved.Address, 3);
  Play(controller, {{5, CmdSetDirection, 0}, {5, CmdSetEncoder, 0}});
  const TStatus still = PollStatus(controller, 6.0);
  EXPECT_FALSE(still.Backward || still.Feedback);
}

TEST(SimControllerCommands, AnsweredWithAnEchoAndKeptWithinRange)
{
  struct TCase {
    std::uint8_t Command, Value;
    std::uint8_t TSimMotorSettings::*Field;
    std::uint8_t Expected;
  };
  for (const TCase& c : {TCase{CmdSetEncoder, 0, &TSimMotorSettings::EncoderPulses, 0},
                         TCase{CmdSetSpeed, 200, &TSimMotorSettings::SetSpeedRps, 200},
                         TCase{CmdSetMaxSpeed, 255, &TSimMotorSettings::MaxSpeedRps, 250},
                         TCase{CmdSetAccel, 0, &TSimMotorSettings::Acceleration, 1},
                         TCase{CmdSetAccel, 30, &TSimMotorSettings::Acceleration, 24},
                         TCase{CmdSetDecel, 7, &TSimMotorSettings::Deceleration, 7}}) {
    TSimController controller(0x42);
    const auto answer = controller.HandleFrame(Frame(0x42, c.Command, c.Value), At(0));
    EXPECT_EQ(answer, (TFrame{0x42, c.Command, c.Value, 0, TOzmCommands::Crc8(4, 0x42, c.Command, c.Value, 0)}));
    EXPECT_EQ(controller.Settings().*c.Field, c.Expected) << TOzmCommands::HexByte(c.Command);
  }
}

TEST(SimControllerCommands, BroadcastsActUnansweredAndOtherAddressesAreIgnored)
{
  for (std::uint8_t command : {CmdGetStatus, CmdStop, CmdSetSpeed, CmdAddressSetBegin, CmdAddressSetEnd, CmdRun}) {
    TSimController controller(4);
    EXPECT_FALSE(controller.HandleFrame(Frame(BroadcastAddress, command, 1), At(0))) << TOzmCommands::HexByte(command);
    EXPECT_EQ(controller.Running(), command == CmdRun);
  }
  TSimController controller(4);
  EXPECT_FALSE(controller.HandleFrame(Frame(5, CmdRun), At(0)));
  EXPECT_FALSE(controller.HandleFrame(TOzmCommands::StatusRequestFor(0), At(0)));
  EXPECT_FALSE(controller.Running());
}

TEST(SimControllerAddress, ButtonThenEndMovesToTheNewAddress)
{
  TSimController controller(0);
  EXPECT_FALSE(controller.HandleFrame(Frame(BroadcastAddress, CmdAddressSetBegin, 9), At(0)));
  EXPECT_TRUE(controller.WaitingForButton());
  controller.PressButton();
  EXPECT_FALSE(controller.WaitingForButton());
  EXPECT_EQ(PollStatus(controller, 0).Address, 0) << "the old address holds until the end";
  EXPECT_FALSE(controller.HandleFrame(Frame(BroadcastAddress, CmdAddressSetEnd, 9), At(0)));
  EXPECT_EQ(PollStatus(controller, 0).Address, 9);
  EXPECT_FALSE(controller.HandleFrame(TOzmCommands::StatusRequestFor(0), At(0)));
}

TEST(SimControllerAddress, WithoutTheButtonTheAddressStays)
{
  struct TCase {
    const char* Name;
    std::uint8_t Begin;
    bool PressBeforeBegin;
  };
  for (const TCase& c : {TCase{"NotPressed", 9, false}, TCase{"PressedTooEarly", 9, true},
                         TCase{"BroadcastAddressRefused", BroadcastAddress, false}}) {
    TSimController controller(0);
    if (c.PressBeforeBegin)
      controller.PressButton();
    controller.HandleFrame(Frame(BroadcastAddress, CmdAddressSetBegin, c.Begin), At(0));
    controller.HandleFrame(Frame(BroadcastAddress, CmdAddressSetEnd, c.Begin), At(0));
    EXPECT_EQ(controller.Address(), 0) << c.Name;
    EXPECT_FALSE(controller.WaitingForButton()) << c.Name;
  }
}

} // namespace

#include "SequenceRunner.h"
#include "SequenceFile.h"
#include "SequenceLineLink.h"
#include "SequenceObserver.h"
#include "SimLine.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>

namespace {

using TKind = TSequenceStep::TKind;
using TCheckKind = TSequenceCheck::TKind;

TSequenceCheck Check(TCheckKind kind, double tolerance = 0, bool percent = false, double within = 0)
{
  TSequenceCheck check;
  check.Kind = kind;
  check.Name = CheckKindText(kind);
  check.Tolerance = tolerance;
  check.Percent = percent;
  check.Within = within;
  return check;
}

TSequenceStep Step(TKind kind, double seconds = 0, std::vector<TSequenceCheck> checks = {})
{
  TSequenceStep step;
  step.Kind = kind;
  step.Seconds = seconds;
  step.Checks = std::move(checks);
  return step;
}

// Two controllers spun up to 600 rpm and checked there, reversed, then stopped.
TSequence TwoUnitTest()
{
  TSequence sequence;
  sequence.Name = "two units";
  sequence.Addresses = {1, 2};
  sequence.Motor = {"0", "2", "3000", "1"};
  TSequenceStep run = Step(TKind::Run, 0, {Check(TCheckKind::Reach, 5, true, 2)});
  run.Work = {"600", "24", "24", "", 0, 0};
  TSequenceCheck missing = Check(TCheckKind::Missing);
  TSequenceCheck direction = Check(TCheckKind::Direction);
  direction.Settle = 1;
  sequence.Steps = {run,
                    Step(TKind::Hold, 1.5,
                         {Check(TCheckKind::Speed, 5, true), Check(TCheckKind::Counter, 10, true),
                          Check(TCheckKind::Feedback), missing}),
                    Step(TKind::Reverse), Step(TKind::Hold, 2, {direction}),
                    Step(TKind::Stop, 0, {Check(TCheckKind::Standstill, 0, false, 2)})};
  return sequence;
}

// The failed checks of each controller, by name, and what its verdict was.
struct TOutcome {
  TVerdict Verdict;
  std::set<std::string> Failed;
};

std::map<std::uint8_t, TOutcome> Outcomes(const TRunResult& run)
{
  std::map<std::uint8_t, TOutcome> outcomes;
  for (const TControllerResult& controller : run.Controllers) {
    TOutcome& outcome = outcomes[controller.Address];
    outcome.Verdict = controller.Verdict;
    for (const TStepResult& step : controller.Steps) {
      for (const TCheckResult& check : step.Checks)
        if (check.Verdict == TVerdict::Fail)
          outcome.Failed.insert(check.Name);
      if (step.Verdict == TVerdict::Fail && step.Checks.empty())
        outcome.Failed.insert(step.Text.substr(0, step.Text.find(' ')));
    }
  }
  return outcomes;
}

// Every controller that got a Run got a Stop after its last one.
void ExpectNoneLeftRunning(const TSimLine& sim)
{
  std::map<std::uint8_t, std::uint8_t> last;
  for (const TSimTraffic& t : sim.Traffic())
    if (t.Direction == TSimTraffic::TDirection::Received && t.Bytes.size() == 5 &&
        (t.Bytes[2] == CmdRun || t.Bytes[2] == CmdStop))
      last[t.Bytes[1]] = t.Bytes[2];
  for (const auto& [address, command] : last)
    EXPECT_EQ(command, CmdStop) << "controller " << int(address) << " was left running";
}

struct TFaultCase {
  const char* Name;
  TSimControllerFaults Faults;  // controller 2's; 1 stays sound
  std::set<std::string> Failed; // 2's failed checks
};

void PrintTo(const TFaultCase& c, std::ostream* out)
{
  *out << c.Name;
}

class TSequenceRunnerTest : public testing::TestWithParam<TFaultCase> {};

TEST_P(TSequenceRunnerTest, EachCheckFailsOnTheFaultyUnitOnly)
{
  const TFaultCase& c = GetParam();
  TSimLine sim({1, 2});
  sim.Open();
  ASSERT_TRUE(sim.SetControllerFaults(2, c.Faults));
  TSequenceLineLink link(sim.DevicePath(), {});
  const TSequence sequence = TwoUnitTest();
  TSequenceRunner runner(sequence, link);
  const TRunResult run = runner.Run({{1, "SN-1"}, {2, "SN-2"}});

  const auto outcomes = Outcomes(run);
  EXPECT_EQ(outcomes.at(1).Verdict, TVerdict::Pass) << *outcomes.at(1).Failed.begin();
  EXPECT_EQ(outcomes.at(2).Verdict, c.Failed.empty() ? TVerdict::Pass : TVerdict::Fail);
  EXPECT_EQ(outcomes.at(2).Failed, c.Failed);
  EXPECT_EQ(run.Verdict, c.Failed.empty() ? TVerdict::Pass : TVerdict::Fail);
  ExpectNoneLeftRunning(sim);
}

INSTANTIATE_TEST_SUITE_P(Faults, TSequenceRunnerTest,
                         testing::Values(TFaultCase{"Sound", {}, {}},
                                         TFaultCase{"CappedMotor", {.MaxRps = 5}, {"reach", "speed", "counter"}},
                                         TFaultCase{"SlippingEncoder", {.Slip = 0.8}, {"counter"}},
                                         TFaultCase{"Stalls", {.StallAfterS = 1.5}, {"speed", "counter"}},
                                         TFaultCase{"Silent", {.Silent = true}, {"set"}}),
                         [](const auto& info) { return std::string(info.param.Name); });

// The end-of-line example that the README runs passes on the simulator's default controller.
TEST(SequenceExampleTest, EndOfLinePassesOnTheSimulator)
{
  TSimLine sim({0});
  sim.Open();
  TSequenceLineLink link(sim.DevicePath(), {});
  const TSequence sequence = TSequenceFile::Load(OZMET_SOURCE_DIR "/examples/end-of-line.yaml");
  const TRunResult run = TSequenceRunner(sequence, link).Run({});
  ASSERT_EQ(run.Controllers.size(), 1u);
  EXPECT_EQ(run.Verdict, TVerdict::Pass) << run.Controllers[0].Why;
  for (const TStepResult& step : run.Controllers[0].Steps)
    for (const TCheckResult& check : step.Checks)
      EXPECT_EQ(check.Verdict, TVerdict::Pass) << step.Path << " " << check.Name << ": " << check.Why;
  ExpectNoneLeftRunning(sim);
}

// Esc or a signal in the middle of a step: the run ends aborted at once and nothing is left running.
class TAbortAt : public TSequenceObserver {
public:
  TAbortAt(TSequenceLineLink& link, std::string path) : Link(link), Path(std::move(path)) {}
  void Sample(const TSample& sample) override
  {
    if (sample.Step == Path)
      Link.Abort("aborted by Esc");
  }

private:
  TSequenceLineLink& Link;
  const std::string Path;
};

class TSequenceAbortTest : public testing::TestWithParam<const char*> {};

TEST_P(TSequenceAbortTest, StopsEveryControllerThatRan)
{
  TSimLine sim({1, 2});
  sim.Open();
  TSequenceLineLink link(sim.DevicePath(), {});
  const TSequence sequence = TwoUnitTest();
  TSequenceRunner runner(sequence, link);
  TAbortAt abort(link, GetParam());
  runner.Observe(abort);
  const TRunResult run = runner.Run({});

  EXPECT_EQ(run.Verdict, TVerdict::Aborted);
  EXPECT_EQ(run.Why, "aborted by Esc");
  for (const TControllerResult& controller : run.Controllers) {
    EXPECT_EQ(controller.Verdict, TVerdict::Aborted);
    EXPECT_EQ(controller.Steps.back().Path, GetParam()) << "the step under way is kept, aborted";
    EXPECT_EQ(controller.Steps.back().Verdict, TVerdict::Aborted);
  }
  ExpectNoneLeftRunning(sim);
}

// The run's reach, a hold, the hold after the reverse, the stop's standstill.
INSTANTIATE_TEST_SUITE_P(Steps, TSequenceAbortTest, testing::Values("1", "2", "4", "5"));

// The line dies under a hold (an adapter pulled): the run fails with the line's reason, having tried to stop.
TEST(SequenceLineLostTest, FailsWithTheReason)
{
  TSimLine sim({1, 2});
  sim.Open();
  TSequenceLineLink link(sim.DevicePath(), {});
  struct TPull : TSequenceObserver {
    TSimLine& Sim;
    explicit TPull(TSimLine& sim) : Sim(sim) {}
    void Sample(const TSample& sample) override
    {
      if (sample.Step == "2")
        Sim.Close();
    }
  } pull(sim);
  const TSequence sequence = TwoUnitTest();
  TSequenceRunner runner(sequence, link);
  runner.Observe(pull);
  const TRunResult run = runner.Run({});

  EXPECT_EQ(run.Verdict, TVerdict::Fail);
  EXPECT_FALSE(run.Why.empty());
  for (const TControllerResult& controller : run.Controllers) {
    EXPECT_EQ(controller.Verdict, TVerdict::Fail);
    EXPECT_EQ(controller.Steps.back().Path, "2");
    EXPECT_NE(controller.Why.find("could not be stopped"), std::string::npos) << controller.Why;
  }
}

} // namespace

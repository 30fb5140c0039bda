#include "sequence/SequenceRunner.h"
#include "SimLine.h"
#include "TempDir.h"
#include "sequence/SequenceFile.h"
#include "sequence/SequenceLineLink.h"
#include "sequence/SequenceObserver.h"
#include "sequence/SequenceTiming.h"
#include "serial/ComPort.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <numeric>
#include <optional>
#include <set>
#include <thread>

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

// Two controllers (or a bus of them) spun up to 600 rpm of the motor and checked there, reversed, then stopped.
TSequence TwoUnitTest(int ratio = 1, std::vector<std::uint8_t> addresses = {1, 2})
{
  TSequence sequence;
  sequence.Name = "two units";
  sequence.Addresses = std::move(addresses);
  sequence.Motor = {"0", "2", "3000", std::to_string(ratio)};
  TSequenceStep run = Step(TKind::Run, 0, {Check(TCheckKind::Reach, 5, true, 2)});
  run.Work = {std::to_string(600 / ratio), "24", "24", "", 0, 0};
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
  std::string Why;
};

std::map<std::uint8_t, TOutcome> Outcomes(const TRunResult& run)
{
  std::map<std::uint8_t, TOutcome> outcomes;
  for (const TControllerResult& controller : run.Controllers) {
    TOutcome& outcome = outcomes[controller.Address];
    outcome.Verdict = controller.Verdict;
    outcome.Why = WhyNotPassed(controller, run.Why);
    for (const TStepResult& step : controller.Steps) {
      for (const TCheckResult& check : step.Checks)
        if (check.Verdict == TVerdict::Fail)
          outcome.Failed.insert(check.Name);
      if (step.Verdict == TVerdict::Fail && step.Checks.empty())
        outcome.Failed.insert(step.Text.substr(0, step.Text.find(' ')));
    }
    for (const TCheckResult& check : controller.Checks)
      if (check.Verdict == TVerdict::Fail)
        outcome.Failed.insert(check.Name);
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

// Every Stop followed the line's pause of silence, whatever cut the run short: a controller may miss a frame that
// comes right behind an answer on the line.
void ExpectEveryStopAfterThePause(const TSimLine& sim)
{
  std::optional<std::chrono::steady_clock::time_point> lastByte;
  for (const TSimTraffic& t : sim.Traffic()) {
    if (lastByte && t.Direction == TSimTraffic::TDirection::Received && t.Bytes.size() == 5 && t.Bytes[2] == CmdStop) {
      EXPECT_GE(t.Time - *lastByte, std::chrono::milliseconds(TComPort::WritePauseMs))
          << "the Stop to " << int(t.Bytes[1]);
    }
    lastByte = t.Time;
  }
}

// The Stop frames that went to a controller.
int StopsTo(const TSimLine& sim, std::uint8_t address)
{
  int stops = 0;
  for (const TSimTraffic& t : sim.Traffic())
    stops += t.Direction == TSimTraffic::TDirection::Received && t.Bytes.size() == 5 && t.Bytes[1] == address &&
             t.Bytes[2] == CmdStop;
  return stops;
}

struct TFaultCase {
  const char* Name;
  TSimControllerFaults Faults;  // controller 2's; 1 stays sound
  std::set<std::string> Failed; // 2's failed checks
  int Ratio = 1;
  int Stops = 1; // that went to 2
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
  const TSequence sequence = TwoUnitTest(c.Ratio);
  TSequenceRunner runner(sequence, link);
  const TRunResult run = runner.Run({{1, "SN-1"}, {2, "SN-2"}});

  const auto outcomes = Outcomes(run);
  EXPECT_EQ(StopsTo(sim, 2), c.Stops);
  EXPECT_EQ(run.Controllers.at(1).Unit, "SN-2");
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
                                         TFaultCase{"Silent", {.Silent = true}, {"set"}, 1, 0},
                                         TFaultCase{"StatusAnsweredLateOnce",
                                                    {.LateOnceCommand = CmdGetStatus, .LateOnceMs = 400},
                                                    {}},
                                         TFaultCase{"StopAnsweredLateOnce",
                                                    {.LateOnceCommand = CmdStop, .LateOnceMs = 400},
                                                    {},
                                                    1,
                                                    2},
                                         TFaultCase{"SoundBehindAGearhead", {}, {}, 10},
                                         TFaultCase{"SlippingBehindAGearhead", {.Slip = 0.8}, {"counter"}, 10}),
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

// Esc or a signal in the middle of a step: the run ends aborted at once and nothing is left running. Each unit's
// aborted step, which its record writes and syncs, is told only once the Stops have gone.
class TAbortAt : public TSequenceObserver {
public:
  TAbortAt(TSequenceLineLink& link, std::string path, const TSimLine& sim) : Link(link), Path(std::move(path)), Sim(sim)
  {
  }
  void Sample(const TSample& sample) override
  {
    if (sample.Step == Path)
      Link.Abort("aborted by Esc");
  }
  void StepEnded(std::uint8_t, const TStepResult& step) override
  {
    if (step.Verdict != TVerdict::Aborted)
      return;
    for (std::uint8_t address : {1, 2})
      EXPECT_GE(StopsTo(Sim, address), 1) << "a record written before the Stop of " << int(address);
  }

private:
  TSequenceLineLink& Link;
  const std::string Path;
  const TSimLine& Sim;
};

class TSequenceAbortTest : public testing::TestWithParam<const char*> {};

TEST_P(TSequenceAbortTest, StopsEveryControllerThatRan)
{
  TSimLine sim({1, 2});
  sim.Open();
  TSequenceLineLink link(sim.DevicePath(), {});
  const TSequence sequence = TwoUnitTest();
  TSequenceRunner runner(sequence, link);
  TAbortAt abort(link, GetParam(), sim);
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
  ExpectEveryStopAfterThePause(sim);
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
    // Its Stops never reached it: the line stayed down, or another device took the freed name meanwhile.
    EXPECT_NE(controller.Why.find("it may still be running"), std::string::npos) << controller.Why;
  }
}

// The line dies under a hold and comes back 0.3 s later, as another device (an adapter re-enumerating): the Stops
// of the way out go on until it is back, and each controller that ran is stopped.
TEST(SequenceLineLostTest, StopsOnceTheLineIsBack)
{
  TTempDir folder;
  TSimLine sim({1, 2});
  sim.Open();
  const std::filesystem::path name = folder.Path() + "/COM1";
  std::filesystem::create_symlink(sim.DevicePath(), name);
  TSequenceLineLink link(name.string(), {});
  struct TPull : TSequenceObserver {
    TSimLine& Sim;
    const std::filesystem::path& Name;
    std::thread Back;
    TPull(TSimLine& sim, const std::filesystem::path& name) : Sim(sim), Name(name) {}
    void Sample(const TSample& sample) override
    {
      if (sample.Step != "2" || Back.joinable())
        return;
      Sim.Close();
      Back = std::thread([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the adapter away
        Sim.Open();
        std::filesystem::remove(Name);
        std::filesystem::create_symlink(Sim.DevicePath(), Name);
      });
    }
  } pull(sim, name);
  const TSequence sequence = TwoUnitTest();
  TSequenceRunner runner(sequence, link);
  runner.Observe(pull);
  const TRunResult run = runner.Run({});
  ASSERT_TRUE(pull.Back.joinable());
  pull.Back.join();

  EXPECT_EQ(run.Verdict, TVerdict::Fail);
  for (const TControllerResult& controller : run.Controllers)
    EXPECT_EQ(controller.Why.find("it may still be running"), std::string::npos) << controller.Why;
  for (std::uint8_t address : {1, 2})
    EXPECT_GE(StopsTo(sim, address), 1) << int(address);
  ExpectNoneLeftRunning(sim);
}

// Every answer of the run, by controller.
struct TSamples : TSequenceObserver {
  std::map<std::uint8_t, std::vector<TSample>> Of;
  void Sample(const TSample& sample) override { Of[sample.Address].push_back(sample); }
};

struct TBusCase {
  const char* Name;
  std::uint8_t Size;
  bool Reversed; // the list from the highest address down
};

void PrintTo(const TBusCase& c, std::ostream* out)
{
  *out << c.Name;
}

class TSequenceBusTest : public testing::TestWithParam<TBusCase> {};

// A bus of sound controllers and four faulty ones: each faulty one fails its own checks and no other does, whatever
// the bus's size and the order of its list, and one controller's late answer never stands in another's row.
TEST_P(TSequenceBusTest, EachControllerIsJudgedByItsOwnAnswers)
{
  const TBusCase& c = GetParam();
  std::vector<std::uint8_t> addresses(c.Size);
  std::iota(addresses.begin(), addresses.end(), std::uint8_t{1});
  TSimLine sim(addresses);
  sim.Open();
  // $01 answers its first status request 430 ms late, $02 (slow to answer, so that $01's late answer would come
  // first) has a motor that gives 300 rpm at most, $03's encoder slips, $04 never answers.
  ASSERT_TRUE(sim.SetControllerFaults(1, {.LateOnceCommand = CmdGetStatus, .LateOnceMs = 430}));
  ASSERT_TRUE(sim.SetControllerFaults(2, {.DelayMs = 80, .MaxRps = 5}));
  ASSERT_TRUE(sim.SetControllerFaults(3, {.Slip = 0.8}));
  ASSERT_TRUE(sim.SetControllerFaults(4, {.Silent = true}));
  if (c.Reversed)
    std::reverse(addresses.begin(), addresses.end());
  TSequence sequence = TwoUnitTest(1, addresses);
  sequence.Steps[0].Checks[0].Within = 4.5; // two answers of each in the window even on 32: one may come late
  sequence.Steps[1].Seconds = 6;
  sequence.Steps[3].Seconds = 6;
  sequence.Steps[4].Checks[0].Within = 3;
  TSequenceCheck link = Check(TCheckKind::Missing);
  link.Name = "link";
  sequence.Checks = {link};
  TSequenceLineLink line(sim.DevicePath(), {});
  TSequenceRunner runner(sequence, line);
  TSamples samples;
  runner.Observe(samples);
  const auto outcomes = Outcomes(runner.Run({}));

  const std::map<std::uint8_t, std::set<std::string>> faulty{
      {1, {"link"}}, {2, {"reach", "speed", "counter"}}, {3, {"counter"}}, {4, {"set", "link"}}};
  for (const std::uint8_t address : addresses) {
    const auto expected = faulty.find(address);
    EXPECT_EQ(outcomes.at(address).Failed, expected == faulty.end() ? std::set<std::string>{} : expected->second)
        << "controller " << int(address) << ": " << outcomes.at(address).Why;
  }
  for (const TSample& sample : samples.Of[2])
    EXPECT_LE(sample.SpeedRpm, 300) << "an answer of another controller at " << sample.Seconds << " s";
  // $01, whose answer did not come in time, is asked again before any other controller.
  std::vector<std::vector<std::uint8_t>> frames;
  for (const TSimTraffic& t : sim.Traffic())
    if (t.Direction == TSimTraffic::TDirection::Received)
      frames.push_back(t.Bytes);
  const TStatusRequest first = TOzmCommands::StatusRequestFor(1);
  const auto late = std::find(frames.begin(), frames.end(), std::vector<std::uint8_t>(first.begin(), first.end()));
  ASSERT_LT(std::distance(late, frames.end()), std::distance(frames.begin(), frames.end()));
  ASSERT_NE(late + 1, frames.end());
  EXPECT_EQ(late[1], *late) << "the frame after $01's unanswered status request";
  ExpectNoneLeftRunning(sim);
}

INSTANTIATE_TEST_SUITE_P(Buses, TSequenceBusTest,
                         testing::Values(TBusCase{"Eight", 8, false}, TBusCase{"EightListedBackwards", 8, true},
                                         TBusCase{"ThirtyTwoListedBackwards", 32, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

// The reach and standstill times of sound controllers, by address.
std::map<std::uint8_t, std::pair<double, double>> Times(const TRunResult& run)
{
  std::map<std::uint8_t, std::pair<double, double>> times;
  for (const TControllerResult& controller : run.Controllers)
    for (const TStepResult& step : controller.Steps)
      for (const TCheckResult& check : step.Checks) {
        if (check.Kind == TCheckKind::Reach)
          times[controller.Address].first = check.Measured.value_or(-1);
        if (check.Kind == TCheckKind::Standstill)
          times[controller.Address].second = check.Measured.value_or(-1);
      }
  return times;
}

// Each controller's time runs from its own command: four on a bus measure what one alone does, within an exchange.
TEST(SequenceTimesTest, FourControllersMeasureWhatOneDoes)
{
  const auto measure = [](std::vector<std::uint8_t> addresses) {
    TSimLine sim(addresses);
    sim.Open();
    TSequenceLineLink link(sim.DevicePath(), {});
    TSequence sequence = TwoUnitTest(1, std::move(addresses));
    sequence.Steps = {sequence.Steps[0], Step(TKind::Hold, 1), sequence.Steps[4]};
    return Times(TSequenceRunner(sequence, link).Run({}));
  };
  const auto alone = measure({1}).at(1);
  const double exchange = std::chrono::duration<double>(TSequenceTiming(4, {}).Slot()).count();
  for (const auto& [address, times] : measure({4, 3, 2, 1})) {
    EXPECT_NEAR(times.first, alone.first, exchange) << "reach of controller " << int(address);
    EXPECT_NEAR(times.second, alone.second, exchange) << "standstill of controller " << int(address);
  }
}

// A repeat's every cycle is gone through and kept under its own path.
TEST(SequenceRepeatTest, EveryCycleIsInTheResult)
{
  TSimLine sim({1});
  sim.Open();
  TSequenceLineLink link(sim.DevicePath(), {});
  TSequence sequence = TwoUnitTest(1, {1});
  TSequenceStep repeat = Step(TKind::Repeat);
  repeat.Times = 3;
  repeat.Steps = {Step(TKind::Wait, 0.1), Step(TKind::Reverse)};
  sequence.Steps = {repeat};
  std::vector<std::string> paths;
  const TRunResult run = TSequenceRunner(sequence, link).Run({});
  for (const TStepResult& step : run.Controllers.at(0).Steps)
    paths.push_back(step.Path);
  EXPECT_EQ(paths, (std::vector<std::string>{"0", "1.1.1", "1.1.2", "1.2.1", "1.2.2", "1.3.1", "1.3.2"}));
}

// Once every controller has failed, the steps left are skipped and no request goes for them.
TEST(SequenceSkipTest, NothingLeftToTestEndsTheRun)
{
  TSimLine sim({1, 2});
  sim.Open();
  for (const std::uint8_t address : {1, 2})
    ASSERT_TRUE(sim.SetControllerFaults(address, {.MaxRps = 5}));
  TSequenceLineLink link(sim.DevicePath(), {});
  TSequence sequence = TwoUnitTest();
  sequence.Steps[1].Seconds = 30;
  TSamples samples;
  TSequenceRunner runner(sequence, link);
  runner.Observe(samples);
  const TRunResult run = runner.Run({});

  for (const TControllerResult& controller : run.Controllers) {
    EXPECT_EQ(controller.Verdict, TVerdict::Fail);
    ASSERT_EQ(controller.Steps.size(), 6u);
    for (std::size_t step = 2; step < 6; ++step)
      EXPECT_TRUE(controller.Steps[step].Skipped) << controller.Steps[step].Path;
    // The first to fail may begin the hold while the other's run is judged; nothing is asked after that.
    for (const TSample& sample : samples.Of[controller.Address])
      EXPECT_TRUE(sample.Step == "1" || sample.Step == "2") << "asked in step " << sample.Step;
  }
  ExpectNoneLeftRunning(sim);
}

} // namespace

#include "sequence/SequenceJudge.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

namespace {

using TKind = TSequenceCheck::TKind;

TSequenceCheck Check(TKind kind, double tolerance = 0, bool percent = false, double settle = 0, bool mean = false)
{
  TSequenceCheck check;
  check.Kind = kind;
  check.Name = CheckKindText(kind);
  check.Tolerance = tolerance;
  check.Percent = percent;
  check.Settle = settle;
  check.Mean = mean;
  check.Within = 1.2;
  return check;
}

TSample Answer(double seconds, double rpm, std::int32_t counter = 0, int direction = 0)
{
  TSample sample;
  sample.Seconds = seconds;
  sample.SpeedRpm = rpm;
  sample.Counter = counter;
  sample.Direction = direction;
  sample.Feedback = true;
  return sample;
}

TSample Missing(double seconds)
{
  TSample sample;
  sample.Seconds = seconds;
  sample.State = TSample::TState::Missing;
  return sample;
}

// A hold begun at 10 s: up from 0 to 600 rpm in its first second, then steady, one answer missing at 12 s.
const std::vector<TSample> Ramp{Answer(10.25, 150), Answer(10.5, 300), Answer(10.75, 450), Answer(11, 600),
                                Answer(11.5, 600),  Missing(12),       Answer(12.5, 600),  Answer(13, 600)};
// 600 rpm behind a gearhead of 10: the motor turns 10 times a second, its counter 50 in 5 s.
const std::vector<TSample> Geared{Answer(10, 60, 100), Answer(12.5, 60, 125), Answer(15, 60, 150)};
// Reversed just before the hold: the first answer after the settle still counts turns made forward.
const std::vector<TSample> Reversed{Answer(10.5, 300, 0, 0), Answer(11.5, 600, -200, 0), Answer(12, 600, -500, 1),
                                    Answer(12.5, 600, -800, 1)};

TCheckResult Hold(const TSequenceCheck& check, const TSequenceJudge::THold& hold, const std::vector<TSample>& samples)
{
  TSequenceJudge::THold given = hold;
  given.Samples = samples;
  return TSequenceJudge::Hold(check, given);
}

TEST(SequenceJudge, DecidesEachCheckFromItsOwnSamples)
{
  const struct {
    const char* Name;
    std::function<TCheckResult()> Decide;
    TVerdict Verdict;
    std::optional<double> Measured;
    const char* Why;
    const char* Counted = ""; // a count and its whole, as every output shows them
  } cases[] = {
      {"a mean over a ramp counts only after its settle, and no missing answer",
       [] { return Hold(Check(TKind::Speed, 1, true, 1, true), {10, 600, 10, 0, {}}, Ramp); },
       TVerdict::Pass, 600, ""},
      {"every answer after the settle is within",
       [] { return Hold(Check(TKind::Speed, 1, true, 1), {10, 600, 10, 0, {}}, Ramp); }, TVerdict::Pass,
       600, ""},
      {"a settle shorter than the ramp fails every answer",
       [] { return Hold(Check(TKind::Speed, 1, true, 0.5), {10, 600, 10, 0, {}}, Ramp); },
       TVerdict::Fail, 300, "300 rpm at 10.5 s is outside 594..606 rpm"},
      {"a tolerance of 120 is rpm, not a percentage",
       [] { return Hold(Check(TKind::Speed, 120), {0, 600, 10, 0, {}}, {Answer(1, 715)}); },
       TVerdict::Pass, 715, ""},
      {"and 130 rpm off is outside it",
       [] { return Hold(Check(TKind::Speed, 120), {0, 600, 10, 0, {}}, {Answer(1, 730)}); },
       TVerdict::Fail, 730, "730 rpm at 1 s is outside 480..720 rpm"},
      {"the counter counts the motor's turns, not the output's",
       [] { return Hold(Check(TKind::Counter, 2, true), {10, 60, 10, 0, {}}, Geared); }, TVerdict::Pass,
       50, ""},
      {"a tolerance of 150 is revolutions",
       [] {
         return Hold(Check(TKind::Counter, 150),
                                     {0, 600, 10, 0, {}}, {Answer(0, 600, 0), Answer(20, 600, 320)});
       },
       TVerdict::Pass, 320, ""},
      {"a counter that slips",
       [] { return Hold(Check(TKind::Counter, 2, true), {10, 60, 12, 0, {}}, Geared); }, TVerdict::Fail,
       50, "50 revolutions counted, 60 expected"},
      {"one answer is no count",
       [] { return Hold(Check(TKind::Counter, 2, true), {10, 60, 10, 0, {}}, {Geared[0]}); },
       TVerdict::Fail, std::nullopt, "not measured: fewer than two answers after the settle time"},
      {"a direction is judged by the turns counted after the settle",
       [] { return Hold(Check(TKind::Direction, 0, false, 1.5), {10, 600, 10, 1, {}}, Reversed); },
       TVerdict::Pass, 0, "", "direction wrong: 0 of 2"},
      {"a direction that stays forward",
       [] { return Hold(Check(TKind::Direction, 0, false, 0), {10, 600, 10, 1, {}}, Reversed); },
       TVerdict::Fail, 1, "direction wrong: 1 of 3 samples, the first forward at 11.5 s", "direction wrong: 1 of 3"},
      {"feedback on in every answer is a count of none, of all of them",
       [] { return Hold(Check(TKind::Feedback, 0, false, 1), {10, 600, 10, 0, {}}, Ramp); },
       TVerdict::Pass, 0, "", "feedback off: 0 of 4"},
      {"feedback off in one answer",
       [] {
         std::vector<TSample> samples = Ramp;
         samples[6].Feedback = false;
         return Hold(Check(TKind::Feedback), {10, 600, 10, 0, {}}, samples);
       },
       TVerdict::Fail, 1, "feedback off: 1 of 7 samples, the first at 12.5 s", "feedback off: 1 of 7"},
      {"no answer is no count, not a count of none",
       [] { return Hold(Check(TKind::Feedback, 0, false, 5), {10, 600, 10, 0, {}}, Ramp); },
       TVerdict::Fail, std::nullopt, "not measured: no answer after the settle time", ""},
      {"a hold's missing answers among all its requests",
       [] { return Hold(Check(TKind::Missing), {10, 600, 10, 0, {}}, Ramp); },
       TVerdict::Fail, 1, "missing or damaged: 1 of 8 status answers, at most 0 allowed", "missing or damaged: 1 of 8"},
      {"a reach past its limit says when it came",
       [] { return TSequenceJudge::Reach(Check(TKind::Reach, 5, true), 600, 1.83, 600); }, TVerdict::Fail, 1.83,
       "reached 600 rpm at 1.83 s, limit 1.2 s"},
      {"a reach that never came says where the speed was",
       [] { return TSequenceJudge::Reach(Check(TKind::Reach, 5, true), 600, std::nullopt, 540); }, TVerdict::Fail,
       std::nullopt, "not within 30 rpm of 600 rpm (last 540 rpm), limit 1.2 s"},
      {"a standstill within its limit",
       [] { return TSequenceJudge::Standstill(Check(TKind::Standstill), 0.9, 0); }, TVerdict::Pass, 0.9, ""},
      {"a whole-run check of a controller that fell silent",
       [] { return TSequenceJudge::NotMeasured(Check(TKind::Missing), "it stopped answering"); }, TVerdict::Fail,
       std::nullopt, "not measured: it stopped answering"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const TCheckResult result = c.Decide();
    EXPECT_EQ(result.Verdict, c.Verdict) << result.Why;
    EXPECT_EQ(result.Measured, c.Measured);
    EXPECT_NE(result.Why.find(c.Why), std::string::npos) << result.Why;
    EXPECT_EQ(TSequenceJudge::Counted(result), c.Counted);
  }
}

} // namespace

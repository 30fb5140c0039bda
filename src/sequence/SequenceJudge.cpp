#include "sequence/SequenceJudge.h"

#include <array>
#include <cmath>
#include <vector>

namespace {

const char* UnitOf(TSequenceCheck::TKind kind)
{
  static constexpr std::array<const char*, 7> Units{"rpm", "s", "s", "rev", "samples", "samples", "answers"};
  return Units[static_cast<std::size_t>(kind)];
}

TCheckResult Begun(const TSequenceCheck& check)
{
  TCheckResult result;
  result.Name = check.Name;
  result.Kind = check.Kind;
  result.Unit = UnitOf(check.Kind);
  return result;
}

TCheckResult Failed(TCheckResult result, std::string why)
{
  result.Verdict = TVerdict::Fail;
  result.Why = std::move(why);
  return result;
}

// The samples that count for a check: answered, and taken once the settle time has passed.
std::vector<TSample> Settled(const TSequenceCheck& check, const TSequenceJudge::THold& hold)
{
  std::vector<TSample> settled;
  for (const TSample& sample : hold.Samples)
    if (sample.State == TSample::TState::Answered && sample.Seconds >= hold.Start + check.Settle)
      settled.push_back(sample);
  return settled;
}

TCheckResult Speed(const TSequenceCheck& check, const TSequenceJudge::THold& hold)
{
  TCheckResult result = Begun(check);
  const double tolerance = TSequenceJudge::Tolerance(check, hold.SetRpm);
  result.Low = hold.SetRpm - tolerance;
  result.High = hold.SetRpm + tolerance;
  const std::vector<TSample> samples = Settled(check, hold);
  if (samples.empty())
    return Failed(result, "not measured: no answer after the settle time");
  const auto outside = [&](double rpm) { return rpm < *result.Low || rpm > *result.High; };
  const std::string limits = " outside " + NumberText(*result.Low) + ".." + NumberText(*result.High) + " rpm";
  if (check.Mean) {
    double sum = 0;
    for (const TSample& sample : samples)
      sum += sample.SpeedRpm;
    result.Measured = sum / static_cast<double>(samples.size());
    return outside(*result.Measured) ? Failed(result, "mean " + NumberText(*result.Measured) + " rpm is" + limits)
                                     : result;
  }
  const TSample* worst = &samples.front();
  for (const TSample& sample : samples)
    if (std::abs(sample.SpeedRpm - hold.SetRpm) > std::abs(worst->SpeedRpm - hold.SetRpm))
      worst = &sample;
  result.Measured = worst->SpeedRpm;
  return outside(worst->SpeedRpm)
             ? Failed(result, NumberText(worst->SpeedRpm) + " rpm at " + NumberText(worst->Seconds) + " s is" + limits)
             : result;
}

// The counter's increase between the hold's first and last answers against the set motor speed over that time: an
// encoder that slips counts fewer.
TCheckResult Counter(const TSequenceCheck& check, const TSequenceJudge::THold& hold)
{
  TCheckResult result = Begun(check);
  const std::vector<TSample> samples = Settled(check, hold);
  if (samples.size() < 2)
    return Failed(result, "not measured: fewer than two answers after the settle time");
  const double expected = hold.MotorRps * (samples.back().Seconds - samples.front().Seconds);
  const double tolerance = TSequenceJudge::Tolerance(check, expected);
  result.Low = expected - tolerance;
  result.High = expected + tolerance;
  // The counter counts down while the motor turns backward.
  result.Measured = std::abs(static_cast<double>(samples.back().Counter - samples.front().Counter));
  if (*result.Measured < *result.Low || *result.Measured > *result.High)
    return Failed(result, NumberText(*result.Measured) + " revolutions counted, " + NumberText(expected) + " expected");
  return result;
}

// Feedback on, or the direction set, in every settled sample: the measure is the samples that were not.
TCheckResult EverySample(const TSequenceCheck& check, const TSequenceJudge::THold& hold)
{
  TCheckResult result = Begun(check);
  std::vector<TSample> samples = Settled(check, hold);
  const bool feedback = check.Kind == TSequenceCheck::TKind::Feedback;
  // An answer's direction is that of the revolutions counted since the answer before it, so the first answer after
  // the settle time still speaks of the time before.
  if (!feedback && !samples.empty())
    samples.erase(samples.begin());
  if (samples.empty())
    return Failed(result, feedback ? "not measured: no answer after the settle time"
                                   : "not measured: fewer than two answers after the settle time");
  int wrong = 0;
  const TSample* first = nullptr;
  for (const TSample& sample : samples)
    if (feedback ? !sample.Feedback : sample.Direction != hold.Direction) {
      ++wrong;
      first = first ? first : &sample;
    }
  result.Measured = wrong;
  result.Of = static_cast<int>(samples.size());
  result.Low = result.High = 0;
  if (!first)
    return result;
  const std::string turned = feedback ? "" : first->Direction ? " backward" : " forward";
  return Failed(result, TSequenceJudge::Counted(result) + " samples, the first" + turned + " at " +
                            NumberText(first->Seconds) + " s");
}

} // namespace

double TSequenceJudge::Tolerance(const TSequenceCheck& check, double value)
{
  return check.Percent ? std::abs(value) * check.Tolerance / 100.0 : check.Tolerance;
}

TCheckResult TSequenceJudge::Hold(const TSequenceCheck& check, const THold& hold)
{
  switch (check.Kind) {
  case TSequenceCheck::TKind::Speed: return Speed(check, hold);
  case TSequenceCheck::TKind::Counter: return Counter(check, hold);
  case TSequenceCheck::TKind::Missing: {
    int missing = 0;
    for (const TSample& sample : hold.Samples)
      missing += sample.State != TSample::TState::Answered;
    return Missing(check, missing, static_cast<int>(hold.Samples.size()));
  }
  default: return EverySample(check, hold);
  }
}

TCheckResult TSequenceJudge::Reach(const TSequenceCheck& check, double setRpm, std::optional<double> seconds,
                                   double lastRpm)
{
  TCheckResult result = Begun(check);
  result.High = check.Within;
  result.Measured = seconds;
  const std::string limit = ", limit " + NumberText(check.Within) + " s";
  if (!seconds)
    return Failed(result, "not within " + NumberText(Tolerance(check, setRpm)) + " rpm of " + NumberText(setRpm) +
                              " rpm (last " + NumberText(lastRpm) + " rpm)" + limit);
  if (*seconds > check.Within)
    return Failed(result, "reached " + NumberText(setRpm) + " rpm at " + NumberText(*seconds) + " s" + limit);
  return result;
}

TCheckResult TSequenceJudge::Standstill(const TSequenceCheck& check, std::optional<double> seconds, double lastRpm)
{
  TCheckResult result = Begun(check);
  result.High = check.Within;
  result.Measured = seconds;
  const std::string limit = ", limit " + NumberText(check.Within) + " s";
  if (!seconds)
    return Failed(result, "still turning after the stop (last " + NumberText(lastRpm) + " rpm)" + limit);
  if (*seconds > check.Within)
    return Failed(result, "standing still at " + NumberText(*seconds) + " s" + limit);
  return result;
}

TCheckResult TSequenceJudge::NotMeasured(const TSequenceCheck& check, const std::string& why)
{
  return Failed(Begun(check), "not measured: " + why);
}

TCheckResult TSequenceJudge::Missing(const TSequenceCheck& check, int missing, std::optional<int> of)
{
  TCheckResult result = Begun(check);
  result.Measured = missing;
  result.Of = of;
  result.Low = 0;
  result.High = check.Max;
  if (missing <= check.Max)
    return result;
  const std::string allowed = ", at most " + std::to_string(check.Max) + " allowed";
  return Failed(result, of ? Counted(result) + " status answers" + allowed
                           : std::to_string(missing) + " status answers missing or damaged" + allowed);
}

std::string TSequenceJudge::Counted(const TCheckResult& check)
{
  const std::string what = CountedWhat(check.Kind);
  if (what.empty() || !check.Measured || !check.Of)
    return "";
  return what + ": " + std::to_string(std::lround(*check.Measured)) + " of " + std::to_string(*check.Of);
}

const char* TSequenceJudge::CountedWhat(TSequenceCheck::TKind kind)
{
  static constexpr std::array<const char*, 7> Counts{
      "", "", "", "", "feedback off", "direction wrong", "missing or damaged"};
  return Counts[static_cast<std::size_t>(kind)];
}

#include "SequenceResult.h"

#include <array>
#include <cstdio>

namespace {

void Add(std::string& reasons, const std::string& reason)
{
  reasons.append(reasons.empty() ? "" : "; ").append(reason);
}

void AddFailedChecks(std::string& reasons, const std::vector<TCheckResult>& checks)
{
  for (const TCheckResult& check : checks)
    if (check.Verdict == TVerdict::Fail)
      Add(reasons, check.Name + ": " + check.Why);
}

} // namespace

const char* VerdictText(TVerdict verdict)
{
  static constexpr std::array<const char*, 3> Texts{"PASS", "FAIL", "ABORTED"};
  return Texts[static_cast<std::size_t>(verdict)];
}

const char* StepVerdictText(const TStepResult& step)
{
  return step.Skipped ? "SKIPPED" : VerdictText(step.Verdict);
}

const char* CheckKindText(TSequenceCheck::TKind kind)
{
  static constexpr std::array<const char*, 7> Texts{"speed",    "reach",     "standstill", "counter",
                                                    "feedback", "direction", "missing"};
  return Texts[static_cast<std::size_t>(kind)];
}

const char* StepKindText(TSequenceStep::TKind kind)
{
  static constexpr std::array<const char*, 7> Texts{"run", "stop", "reverse", "wait", "hold", "repeat", "set-motor"};
  return Texts[static_cast<std::size_t>(kind)];
}

std::string MotorStepText(const TMotorFields& motor)
{
  return "set motor: encoder " + motor.Encoder + ", maximum speed " + motor.MaxSpeed + " rpm, ratio " + motor.GearRatio;
}

TVerdict WorseVerdict(TVerdict a, TVerdict b)
{
  for (const TVerdict worst : {TVerdict::Fail, TVerdict::Aborted})
    if (a == worst || b == worst)
      return worst;
  return TVerdict::Pass;
}

std::string NumberText(double value)
{
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", value);
  return text;
}

std::string WhyNotPassed(const TControllerResult& controller, const std::string& runWhy)
{
  std::string reasons;
  for (const TStepResult& step : controller.Steps) {
    AddFailedChecks(reasons, step.Checks);
    if (step.Verdict == TVerdict::Aborted)
      Add(reasons, "step " + step.Path + " (" + step.Text + "): " + step.Why);
  }
  AddFailedChecks(reasons, controller.Checks);
  if (!controller.Why.empty())
    Add(reasons, controller.Why);
  if (reasons.empty() && controller.Verdict != TVerdict::Pass) // an abort between two steps
    return runWhy;
  return reasons;
}

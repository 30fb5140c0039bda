#include "sequence/SequenceResult.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <random>
#include <unistd.h>

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

const TSequenceCheck* AwaitedCheck(const TSequenceStep& step)
{
  for (const auto kind : {TSequenceCheck::TKind::Reach, TSequenceCheck::TKind::Standstill}) {
    const auto found = std::find_if(step.Checks.begin(), step.Checks.end(),
                                    [&](const TSequenceCheck& check) { return check.Kind == kind; });
    if (found != step.Checks.end())
      return &*found;
  }
  return nullptr;
}

std::string NewRunId()
{
  std::random_device random;
  std::array<std::uint32_t, 4> words{};
  for (std::uint32_t& word : words)
    word = random();
  words[1] = (words[1] & 0xFFFF0FFFu) | 0x00004000u; // version 4
  words[2] = (words[2] & 0x3FFFFFFFu) | 0x80000000u; // the RFC 4122 variant
  char text[40];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%04x%08x", words[0], words[1] >> 16, words[1] & 0xFFFFu,
                words[2] >> 16, words[2] & 0xFFFFu, words[3]);
  return text;
}

std::string StationName()
{
  char name[256] = {};
  return gethostname(name, sizeof name - 1) == 0 ? name : "";
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

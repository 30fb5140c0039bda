#include "SequenceResult.h"

#include <array>
#include <cstdio>

const char* VerdictText(TVerdict verdict)
{
  static constexpr std::array<const char*, 3> Texts{"PASS", "FAIL", "ABORTED"};
  return Texts[static_cast<std::size_t>(verdict)];
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

std::string NumberText(double value)
{
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", value);
  return text;
}

#include "console/LongTimer.h"

#include <algorithm>
#include <limits>

TLongTimer::TLongTimer(QObject* parent) : QObject(parent)
{
  Step.setSingleShot(true);
  Step.setTimerType(Qt::PreciseTimer);
  connect(&Step, &QTimer::timeout, this, &TLongTimer::StepDone);
}

void TLongTimer::SetInterval(std::uint32_t ms)
{
  IntervalMs = ms;
  if (Active) // as a running timer does, the new interval counts from now
    SetEnabled(true);
}

void TLongTimer::SetEnabled(bool on)
{
  Active = on;
  Step.stop();
  if (!on)
    return;
  Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(IntervalMs);
  ArmStep();
}

void TLongTimer::ArmStep()
{
  using namespace std::chrono;
  const auto left = duration_cast<milliseconds>(Deadline - steady_clock::now()).count();
  Step.start(static_cast<int>(std::clamp<long long>(left, 0, std::numeric_limits<int>::max())));
}

void TLongTimer::StepDone()
{
  if (std::chrono::steady_clock::now() < Deadline) {
    ArmStep();
    return;
  }
  Deadline += std::chrono::milliseconds(IntervalMs);
  ArmStep();
  emit Timeout(); // last: the handler may switch the timer off
}

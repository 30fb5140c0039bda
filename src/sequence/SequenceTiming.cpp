#include "sequence/SequenceTiming.h"

#include "protocol/CommonDatas.h"
#include "protocol/WireTime.h"
#include "sequence/SequenceResult.h"
#include "serial/ComPort.h"

#include <algorithm>
#include <cmath>

namespace {

using TCheckKind = TSequenceCheck::TKind;

double Seconds(std::chrono::steady_clock::duration duration)
{
  return std::chrono::duration<double>(duration).count();
}

// A time in seconds as the messages give it: up to the next tenth, so that the time said is enough.
std::string TenthsUp(double seconds)
{
  return NumberText(std::ceil(seconds * 10 - 1e-9) / 10);
}

// The settled answers a hold check needs from each controller.
int AnswersNeeded(const TSequenceCheck& check)
{
  switch (check.Kind) {
  case TCheckKind::Counter:   // revolutions between two answers
  case TCheckKind::Direction: // an answer's direction is that of the revolutions since the one before
    return 2;
  case TCheckKind::Missing: return 0;
  default: return 1;
  }
}

} // namespace

TSequenceTiming::TSequenceTiming(std::size_t controllers, const TLineSettings& settings)
    : Controllers(std::max<std::size_t>(controllers, 1))
{
  const unsigned bits = BitsPerByte(settings.DataBits, settings.Parity != 0, settings.StopBits != 0);
  const auto pause = std::chrono::milliseconds(TComPort::WritePauseMs);
  const auto request = WireTime(TStatusRequest{}.size(), settings.Baud, bits);
  const auto answer = WireTime(TFrame{}.size(), settings.Baud, bits);
  ExchangeSlot = std::chrono::duration_cast<TClock::duration>(pause + request + answer + Turnaround);
  PollEvery = std::max<TClock::duration>(PollInterval, ExchangeSlot * static_cast<long>(Controllers));
}

std::optional<std::string> TSequenceTiming::Refusal(const TSequence& sequence) const
{
  for (const TSequenceStep& step : sequence.Steps)
    if (auto refusal = StepRefusal(sequence, step))
      return refusal;
  return std::nullopt;
}

std::optional<std::string> TSequenceTiming::StepRefusal(const TSequence& sequence, const TSequenceStep& step) const
{
  for (const TSequenceStep& inner : step.Steps)
    if (auto refusal = StepRefusal(sequence, inner))
      return refusal;
  const double interval = Seconds(PollEvery);
  for (const TSequenceCheck& check : step.Checks) {
    if (check.Kind == TCheckKind::Reach || check.Kind == TCheckKind::Standstill) {
      // The request just before the limit comes after every controller has had its command.
      const double shortest = Seconds(FirstPoll() + Leeway);
      if (check.Within < shortest)
        return Place(sequence, check.Where) + CheckKindText(check.Kind) + ": within " + NumberText(check.Within) +
               " s cannot be measured " + BusText() + ": the limit must be at least " + TenthsUp(shortest) + " s";
      continue;
    }
    const int needed = AnswersNeeded(check);
    const double shortest = check.Settle + needed * interval;
    if (needed > 0 && step.Seconds < shortest)
      return Place(sequence, step.Where) + "hold: " + NumberText(step.Seconds) + " s leaves the " + check.Name +
             " check too few answers " + BusText() + ", each asked every " + NumberText(interval) +
             " s: the shortest hold that works is " + TenthsUp(shortest) + " s";
  }
  return std::nullopt;
}

std::string TSequenceTiming::Place(const TSequence& sequence, const TSourcePlace& where) const
{
  return sequence.File + ":" + std::to_string(where.Line) + ":" + std::to_string(where.Column) + ": ";
}

std::string TSequenceTiming::BusText() const
{
  return "on a bus of " + std::to_string(Controllers) + (Controllers == 1 ? " controller" : " controllers");
}

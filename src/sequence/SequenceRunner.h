#pragma once

#include "Sequence.h"
#include "SequenceResult.h"

#include <vector>

class TSequenceLink;
class TSequenceObserver;

// Carries a checked sequence out on a line: the steps go to each controller in turn, their status is
// asked in turn at the poll's rate whenever time passes, and each controller gets its own verdict.
// Whatever ends the run (its end, a failed check, an abort, a lost line), every controller that a Run
// may have reached is sent Stop before Run returns.
class TSequenceRunner {
public:
  // Each controller's status at most this often, as the window's poll.
  static constexpr double PollSeconds = 0.5;

  TSequenceRunner(const TSequence& sequence, TSequenceLink& link);
  void Observe(TSequenceObserver& observer);
  // The line must be open. Never throws for what the line or the controllers do: the record says it.
  TRunResult Run(const std::string& unit);

private:
  const TSequence& Sequence;
  TSequenceLink& Link;
  std::vector<TSequenceObserver*> Observers;
};

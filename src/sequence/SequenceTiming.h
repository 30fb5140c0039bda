#pragma once

#include "sequence/Sequence.h"
#include "serial/LineSettings.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

// How a bus of controllers shares the line during a test sequence: the time one exchange takes, how often each
// controller can be asked its status, and whether a file's holds and limits leave every controller enough answers.
class TSequenceTiming {
public:
  using TClock = std::chrono::steady_clock;
  // Each controller's status at most this often, as the window's poll.
  static constexpr std::chrono::milliseconds PollInterval{500};
  // On top of the line's floor: the controller's turnaround and the system waking the runner.
  static constexpr std::chrono::milliseconds Turnaround{3};
  // The request that decides a reach or standstill check goes this long before the limit: its answer still
  // comes within it when the system wakes the runner late or the controller is slow to turn round.
  static constexpr std::chrono::milliseconds Leeway{25};

  TSequenceTiming(std::size_t controllers, const TLineSettings& settings);

  // Pause, status request and answer on this line, and the turnaround.
  TClock::duration Slot() const { return ExchangeSlot; }
  // How often each controller is asked: the poll's interval, or a round of the bus when that is longer.
  TClock::duration Interval() const { return PollEvery; }
  // From a controller's own command until its first status request: the rest of the bus has had its command (a
  // request due while the last one is on the wire goes right after it).
  TClock::duration FirstPoll() const { return ExchangeSlot * static_cast<long>(Controllers - 1); }

  // Why this bus cannot measure what the file asks, at the file's place: a hold too short to give each controller
  // the answers its checks need, a reach or standstill limit shorter than a round. Nothing when all can be measured.
  std::optional<std::string> Refusal(const TSequence& sequence) const;

private:
  std::optional<std::string> StepRefusal(const TSequence& sequence, const TSequenceStep& step) const;
  std::string Place(const TSequence& sequence, const TSourcePlace& where) const;
  std::string BusText() const;

  std::size_t Controllers;
  TClock::duration ExchangeSlot;
  TClock::duration PollEvery;
};

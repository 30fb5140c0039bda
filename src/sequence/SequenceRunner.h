#pragma once

#include "ControllerDrive.h"
#include "Sequence.h"
#include "SequenceResult.h"

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class TSequenceLink;
class TSequenceObserver;

// Carries a checked sequence out on a line: the steps go to each controller in turn, their status is asked in turn at
// the poll's rate whenever time passes, and each controller gets its own verdict. Whatever ends the run (its end, a
// failed check, an abort, a lost line), every controller that a Run may have reached is sent Stop before Run returns.
class TSequenceRunner {
public:
  using TClock = std::chrono::steady_clock;
  // Each controller's status at most this often, as the window's poll.
  static constexpr std::chrono::milliseconds PollInterval{500};

  TSequenceRunner(const TSequence& sequence, TSequenceLink& link);
  void Observe(TSequenceObserver& observer);
  // Once, on an open line. Never throws for what the line or the controllers do: the record says it.
  TRunResult Run(const TUnitSerials& units);

private:
  // One controller: the window's record of it, what it was told and what it has done so far.
  struct TUnit {
    TControllerDrive Drive;
    TControllerResult Result;
    bool MayRun = false;               // a Run went to it since its last answered Stop
    bool Out = false;                  // a frame went unanswered: it takes no further step
    int Direction = 0;                 // the direction it was given
    double SetRpm = 0;                 // the output speed it was given
    std::optional<double> CommandedAt; // when its last Run or Stop was answered, for reach and standstill
    std::optional<double> ReachedAt;   // when its speed first came where the step wanted it
    double LastRpm = 0;
    std::vector<TSample> Samples;    // of the step under way
    int Missing = 0;                 // over the whole run
    std::optional<TStepResult> Step; // the step under way
  };

  void Prepare(const TUnitSerials& units);
  void SetMotors();
  void RunSteps(const std::vector<TSequenceStep>& steps, const std::string& prefix);
  void DoStep(const TSequenceStep& step, const std::string& path);
  void BeginStep(const TSequenceStep& step, const std::string& path, double seconds, const std::string& text);
  void EndStep(TVerdict unfinished = TVerdict::Pass);

  void SendRun(TUnit& unit, const TSequenceStep& step);
  void Reverse(TUnit& unit);
  // Its frames in order; false, with the step failed and the unit out, when one went unanswered.
  bool SendQueued(TUnit& unit);
  bool Send(TUnit& unit, const TFrame& frame);
  // One Stop, again once when unanswered; true when answered.
  bool Stop(TUnit& unit);
  // One Stop; an answered one ends the unit's count as running.
  bool StopOnce(TUnit& unit);
  // A stop step's Stop; an unanswered one fails the controller.
  void StopStep(TUnit& unit);
  static std::string Unstopped(const TUnit& unit);
  // The way out: Stop to each that may run, in turn, then the unanswered once more.
  void StopAll();

  // Asks each unit's status in turn at the poll's rate until `until`, or until `done` says every unit has what the step
  // waits for. Throws TSequenceAborted at an abort.
  void Poll(TClock::time_point until, const std::function<bool(const TUnit&)>& done);
  void AskStatus(TUnit& unit);
  // The speed that the step under way waits for: the run's within its tolerance, the stop's 0.
  bool Arrived(const TUnit& unit, double rpm) const;
  void Judge(const TSequenceStep& step);
  void Decide(TUnit& unit, const TCheckResult& check);
  void FailUnit(TUnit& unit, const std::string& why);

  std::vector<TUnit*> Active();
  double Since(TClock::time_point time) const;
  // Pause, status request and answer on this line: a poll that would end past a step's end waits.
  TClock::duration ExchangeFloor() const;
  void Sleep(TClock::time_point until);

  const TSequence& Sequence;
  TSequenceLink& Link;
  std::vector<TSequenceObserver*> Observers;
  std::deque<TUnit> Units;
  TRunResult Record;
  TClock::time_point Begun;
  TClock::time_point Planned; // when the next step is due
  TClock::time_point NextPoll;
  std::size_t PollTurn = 0;
  const TSequenceCheck* Awaited = nullptr; // the step's reach or standstill
};

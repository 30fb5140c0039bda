#pragma once

#include "bus/ControllerDrive.h"
#include "sequence/Sequence.h"
#include "sequence/SequenceResult.h"
#include "sequence/SequenceTiming.h"
#include "serial/FrameLine.h"

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class TSequenceLink;
class TSequenceObserver;

// Carries a checked sequence out on a line. Each controller lives on a timeline of its own, shifted by its place in
// the bus: its commands go in turn with the others', and its status is asked on a grid that starts from its own
// command, so that a time it is measured by never depends on where it stands in the list. Whatever ends the run (its
// end, an abort, a lost line), every controller that a Run may have reached is sent Stop before Run returns.
class TSequenceRunner {
public:
  using TClock = std::chrono::steady_clock;

  // Throws TSequenceError, before anything is sent, when this bus cannot give a check the answers it needs.
  TSequenceRunner(const TSequence& sequence, TSequenceLink& link);
  void Observe(TSequenceObserver& observer);
  // Once, on an open line. Never throws for what the line or the controllers do: the record says it.
  TRunResult Run(const TUnitSerials& units);

private:
  // A step as the run meets it: the file's steps with every repeat written out.
  struct TPlanned {
    const TSequenceStep* Step = nullptr;
    std::string Path;
  };

  // One controller: the window's record of it, what it was told, where it stands on its own timeline.
  struct TUnit {
    TControllerDrive Drive;
    TControllerResult Result;
    bool MayRun = false;  // a Run went to it since its last answered Stop
    bool Out = false;     // a frame went unanswered: it takes no further step
    bool Failed = false;  // a check or a frame failed: its verdict is known
    int Direction = 0;    // the direction it was given
    double SetRpm = 0;    // the output speed the file asked, which the limits are around
    double MotorRps = 0;  // the motor speed that gives it, which its counter counts
    std::size_t At = 0;   // its step in the plan
    bool Idle = true;     // waiting for its command at a step that sends one: not asked meanwhile
    TClock::time_point Until = TClock::time_point::max(); // when its step ends; max until the bus knows
    TClock::time_point NextPoll;                          // its own grid
    TClock::time_point Decisive = TClock::time_point::max(); // the request at its step's limit
    TClock::duration Offset{};                               // its place in the latest burst of commands
    std::optional<double> CommandedAt; // its own Run or Stop answered, for reach and standstill
    std::optional<double> ReachedAt;   // when its speed came where the step wanted it
    std::optional<TClock::time_point> DecidedAt; // when the step's wait was over for it: arrived, or asked at the limit
    TSample Short, Shorter;            // its last two answers short of what the step waits for
    double LastRpm = 0;
    std::vector<TSample> Samples; // of the step under way
    int Missing = 0;              // over the whole run
    int Asked = 0;                // status requests over the whole run
    std::optional<TStepResult> Step;
  };

  void Prepare(const TUnitSerials& units);
  void SetMotors();
  void PlanSteps(const std::vector<TSequenceStep>& steps, const std::string& prefix);
  void RunPlan();
  // A step that sends: every controller brought to it, the others' frames first, then each one's own command in turn.
  void Command(std::size_t at);
  void SendSetup(TUnit& unit, const TSequenceStep& step);
  void SendKey(TUnit& unit, const TSequenceStep& step, TClock::time_point burst);
  // Each controller's time ends once it reached what the step waits for or was asked at its limit; the bus's
  // step then ends at the same place on every controller's own timeline.
  void AwaitArrivals();
  // Asks each controller its status on its own grid, moving it from step to step at its own time, while `going`.
  void Drive(const std::function<bool()>& going);
  // One request on the unit's grid; its next one an interval on.
  void Poll(TUnit& unit);
  // Through every step whose end it has passed; a step that sends leaves it idle there until the bus's turn.
  void MoveOn(TUnit& unit);
  void BeginUnitStep(TUnit& unit, TClock::time_point start);
  // Tells the observers of a step once, when it is due: a step that sends once the last controller came to it.
  void Announce(std::size_t at, TClock::time_point due);
  void EndUnitStep(TUnit& unit);
  void CloseStep(TUnit& unit, TVerdict unfinished = TVerdict::Pass);
  // The steps the run did not go through, once every controller has failed.
  void Skip();
  bool NothingLeftToTest() const;

  bool SendQueued(TUnit& unit);
  bool Send(TUnit& unit, const TFrame& frame);
  // One Stop, again once when unanswered; true when answered.
  bool Stop(TUnit& unit);
  // One Stop; an answered one ends the unit's count as running.
  bool StopOnce(TUnit& unit);
  static std::string Unstopped(const TUnit& unit);
  // The way out: Stop to each that may run, in turn, then the unanswered once more. A lost line may come back (an
  // adapter re-enumerating, a network line's server restarting): it is opened again and the Stops go on for a
  // while. The line's failure when it was still down at the end.
  std::optional<std::string> StopAll();

  // A status request, and the same controller again once when no sound answer came.
  void Ask(TUnit& unit);
  bool AskOnce(TUnit& unit);
  void Arrive(TUnit& unit, const TSample& sample);
  // The speed that the step under way waits for: the run's within its tolerance, the stop's 0.
  bool Arrived(const TUnit& unit, double rpm) const;
  // When its speed came into the reach's band, by the answers short of it and the first within it.
  double Arrival(const TUnit& unit, const TSequenceCheck& reach, const TSample& within) const;
  void Judge(TUnit& unit);
  void Decide(TUnit& unit, const TCheckResult& check);
  void FailUnit(TUnit& unit, const std::string& why);

  const TSequenceStep& StepOf(const TUnit& unit) const { return *Plan[unit.At].Step; }
  std::vector<TUnit*> Active();
  double Since(TClock::time_point time) const;
  void Sleep(TClock::time_point until);

  const TSequence& Sequence;
  TSequenceLink& Link;
  const TSequenceTiming Timing;
  std::vector<TSequenceObserver*> Observers;
  std::deque<TUnit> Units;
  std::vector<TPlanned> Plan;
  std::size_t Announced = 0; // the plan's steps told to observers so far
  TRunResult Record;
  TClock::time_point Begun;
};

#pragma once

#include <chrono>
#include <string>

class TForm1;

// An end the operator did not choose in the window (a signal, the display gone): nobody can see or
// stop the motor any more, so a Stop goes out first if it may be running, and the close steps run.
// Every wait here has a deadline: the worker may be waiting for the window's thread, which is us.
class TUnattendedEnd {
public:
  // The frame in flight (its answer or its timeout) at the slowest rate, with room to spare.
  static constexpr std::chrono::milliseconds WorkerLimit{1000};
  // A Stop's pause, its frame, a silent controller's answer time and the late answer's grace, with room to spare.
  static constexpr std::chrono::milliseconds StopLimit{1500};

  explicit TUnattendedEnd(TForm1& form) : Form(form) {}

  // A Run went out and no Stop since, or the last status answer showed the motor turning.
  bool MotorMayRun() const;
  // Sends the Stop if the motor may run (`why` begins the outcome line), after a test sequence under
  // way is aborted (`why` is its reason) and has stopped its controllers. The outcomes go to
  // standard error and the log (and so to the daily file). Boxes go to standard error from now on.
  void StopMotor(const std::string& why);
  // The close steps without the close event; a worker that cannot end in time is left behind.
  void Close();

private:
  enum class TStops { Answered, Unanswered, LineFailed };

  // After a lost line, opened again and the Stops sent again until the line carries them or LostLineStops passed.
  std::string SendStop();
  // Stop all's choice of controllers, or the panel's Stop; LineFailed when the line did not carry them.
  TStops SendStopsOnce();
  // The port opened again before `giveUp`, one try each ReopenPause.
  bool ReopenBefore(std::chrono::steady_clock::time_point giveUp) const;
  // False when the worker sent nothing for a StopLimit and has not ended.
  bool WaitForStops() const;

  TForm1& Form;
};

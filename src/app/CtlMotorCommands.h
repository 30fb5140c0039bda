#pragma once

#include "app/CtlCommand.h"
#include "app/CtlOutput.h"
#include "bus/ControllerDrive.h"
#include "motor/PanelFields.h"
#include "motor/ParameterFile.h"

#include <chrono>
#include <deque>
#include <functional>
#include <optional>

class TCtlOptions;
class TCtlSession;
class TLineError;
class TMqttPublisher;

// The commands of the controllers at --address (one, or a list): status, set-motor, run, stop,
// direction and watch, each as the window carries it out: the same checks, the same frames in the
// same order, each frame answered before the next goes. Several controllers get their frames in
// turn; a failure at one is said and the others go on; the exit status is the worst. stop also
// takes the line's bus list (--all-found).
class TCtlMotorCommands : public TCtlCommand {
public:
  TCtlMotorCommands(const TCtlOptions& options, TCtlOutput& output, TCtlSession& session);

  void Prepare() override;
  void PrepareLine(const std::string& line) override;
  void Execute() override;

private:
  using TClock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds PollInterval{500}; // the window's poll timer
  static constexpr std::int32_t MaxMilliseconds = 3'600'000;
  // One controller: the window's record of it and what a timed run or a watch counted.
  struct TUnit {
    TControllerDrive Drive;
    std::int64_t Polls = 0;
    std::int64_t Missed = 0;
    std::int32_t InARow = 0;
  };

  // A controller at the address (its text as the address field reads it), its frames prepared.
  void AddUnit(const std::string& address);
  void PrepareRun(TUnit& unit, bool say);
  void SetMotor(TUnit& unit);
  void SendRun(TUnit& unit);
  void RunMotor();
  void Stop(TUnit& unit);
  void StopInTurn();
  void Direction(TUnit& unit);
  void Watch();
  // A watch's request to one controller, its state published when telemetry is on; false when an interrupt came
  // before it went.
  bool WatchOnce(TUnit& unit, std::int32_t maxFailures, TMqttPublisher* telemetry);
  // Each controller in turn; a failure is said and the next goes on. Throws the worst at the end.
  void EachUnit(const std::function<void(TUnit&)>& step);

  // A timed run's wait: the status of each controller in turn at the window's poll rate, a failed
  // line said at once.
  void WaitWhileRunning(TClock::time_point end);
  void PollWhileRunning(TUnit& unit);
  // The line failed under a timed run: opened again and Stop sent until the run would have ended.
  [[noreturn]] void LineLost(const TLineError& error, TClock::time_point end);
  void PollUntilStopped(TUnit& unit);
  std::vector<TCtlOutput::TField> Counted(std::uint8_t address) const;

  std::optional<TParameterFile::TContents> ParameterFile() const;
  TMotorFields MotorFields(const std::string& address) const;
  TWorkFields WorkFields() const;
  // Says a value that the controller gets other than asked, or refuses it under --strict.
  void Say(const std::string& text) const;
  void SendQueued(TUnit& unit);
  void AskStatus(TUnit& unit);
  void ShowStatus(TUnit& unit, const TFrame& answer);
  // A result about the unit's controller.
  void Report(TUnit& unit, const std::string& kind, const std::string& text, std::vector<TCtlOutput::TField> fields);

  const TCtlOptions& Options;
  TCtlOutput& Output;
  TCtlSession& Session;
  std::deque<TUnit> Units;
  std::optional<TParameterFile::TContents> File;
  double SpeedSent = 0; // the output shaft's rpm that the speed frame carries, unrounded
  std::int32_t Retries = 0;
  std::size_t RunMark = 0; // the session's Runs before this command's
};

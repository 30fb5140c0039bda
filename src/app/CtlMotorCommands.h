#pragma once

#include "ConsoleForms.h"
#include "CtlCommand.h"
#include "CtlDrive.h"
#include "CtlOutput.h"
#include "ParameterFile.h"

#include <chrono>
#include <optional>

class TCtlOptions;
class TCtlSession;
class TLineError;

// The commands of one controller: status, set-motor, run, stop, direction and watch, each as the
// window carries it out: the same checks, the same frames in the same order, each frame answered
// before the next goes.
class TCtlMotorCommands : public TCtlCommand {
public:
  TCtlMotorCommands(const TCtlOptions& options, TCtlOutput& output, TCtlSession& session);

  void Prepare() override;
  void Execute() override;

private:
  using TClock = std::chrono::steady_clock;

  void PrepareRun();
  void SetMotor();
  void RunMotor();
  void Stop();
  void Direction();
  void Watch();

  // A timed run's wait: the status at the window's poll rate, a failed line said at once.
  void WaitWhileRunning(TClock::time_point end);
  void PollWhileRunning();
  // The line failed under a timed run: opened again and Stop sent until the run would have ended.
  [[noreturn]] void LineLost(const TLineError& error, TClock::time_point end);
  void PollUntilStopped();

  std::optional<TParameterFile::TContents> ParameterFile() const;
  TMotorFields MotorFields() const;
  TWorkFields WorkFields() const;
  // Says a value that the controller gets other than asked, or refuses it under --strict.
  void Say(const std::string& text) const;
  void SendQueued();
  void AskStatus();
  void ShowStatus(const TFrame& answer);
  std::string Addressed(const std::string& text) const;
  // A result about the controller at the address in force.
  void Report(const std::string& kind, const std::string& text, std::vector<TCtlOutput::TField> fields);

  const TCtlOptions& Options;
  TCtlOutput& Output;
  TCtlSession& Session;
  TCtlDrive Drive;
  std::optional<TParameterFile::TContents> File;
  double SpeedSent = 0; // the output shaft's rpm that the speed frame carries, unrounded
  std::int32_t Retries = 0;
  std::size_t RunMark = 0; // the session's Runs before this command's
  std::int64_t Polls = 0;
  std::int64_t Missed = 0;
};

#pragma once

#include "ConsoleForms.h"
#include "CtlDrive.h"
#include "FrameLine.h"
#include "CtlOutput.h"
#include "ParameterFile.h"

#include <optional>
#include <span>

class TCtlOptions;

// The commands of ozmetctl, each as the window carries it out: the same checks, the same frames in
// the same order, each frame answered before the next goes. Every value is checked before the port
// opens, so a refused command line never sends anything.
class TCtlCommands {
public:
  TCtlCommands(const TCtlOptions& options, TCtlOutput& output);

  // Throws TCtlError when the command cannot be carried out.
  void Run();

private:
  void Status();
  void SetMotor();
  void RunMotor();
  void Stop();
  void Direction();
  void Watch();
  void SetAddress();
  void Scan();

  std::optional<TParameterFile::TContents> ParameterFile() const;
  // Takes the motor's fields into the record, as the motor panel's Apply; the frames stay queued.
  void ApplyMotor(const std::optional<TParameterFile::TContents>& file);
  TMotorFields MotorFields(const std::optional<TParameterFile::TContents>& file) const;
  TWorkFields WorkFields(const std::optional<TParameterFile::TContents>& file) const;
  std::string PortName() const;
  TFrameLine& Line();

  void SendQueued();
  TFrame Ask(std::span<const std::uint8_t> frame);
  void Broadcast(std::uint8_t command, std::uint8_t value);
  void AskStatus();
  void StopMotor();
  void PollUntilStopped();
  std::string Addressed(const std::string& text) const;
  // A result about the controller at the address in force.
  void Report(const std::string& kind, const std::string& text, std::vector<TCtlOutput::TField> fields);

  const TCtlOptions& Options;
  TCtlOutput& Output;
  TCtlDrive Drive;
  std::optional<TFrameLine> OpenLine;
};

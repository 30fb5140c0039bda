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
  // line: the open line of a script the command is a line of; none opens its own.
  TCtlCommands(const TCtlOptions& options, TCtlOutput& output, TFrameLine* line = nullptr);

  // Throws TCtlError when the command cannot be carried out. Once a Run may have reached the
  // controller, every way out sends Stop first.
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
  void Script();
  void Devices();
  // The status of the line's command: 0 done, else its failure's, which is said.
  int ScriptLine(int number, const std::vector<std::string>& words);

  std::optional<TParameterFile::TContents> ParameterFile() const;
  // Takes the motor's fields into the record, as the motor panel's Apply; the frames stay queued.
  void ApplyMotor(const std::optional<TParameterFile::TContents>& file);
  TMotorFields MotorFields(const std::optional<TParameterFile::TContents>& file) const;
  TWorkFields WorkFields(const std::optional<TParameterFile::TContents>& file) const;
  // Says a value that the controller gets other than asked, or refuses it under --strict.
  void Compare(const std::string& what, const std::string& asked, const std::string& sent,
               const std::string& why) const;
  std::string PortName() const;
  TFrameLine& Line();

  void SendQueued();
  TFrame Ask(std::span<const std::uint8_t> frame);
  void Broadcast(std::uint8_t command, std::uint8_t value);
  void AskStatus();
  // True when a controller answers at the address, soundly or not.
  bool Answers(std::uint8_t address);
  void StopMotor();
  void StopOnTheWayOut();
  void PollUntilStopped();
  std::string Addressed(const std::string& text) const;
  // "set acceleration (A5) from $09 on /dev/ttyUSB0"
  std::string Described(std::span<const std::uint8_t> frame) const;
  // A result about the controller at the address in force.
  void Report(const std::string& kind, const std::string& text, std::vector<TCtlOutput::TField> fields);

  const TCtlOptions& Options;
  TCtlOutput& Output;
  TCtlDrive Drive;
  std::optional<TFrameLine> OwnLine;
  TFrameLine* OpenLine;
  std::string LineName;
  bool RunMayHaveReached = false;
};

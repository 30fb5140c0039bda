#pragma once

#include "app/CtlCommand.h"

#include <memory>
#include <string>

class TCtlOptions;
class TCtlOutput;
class TCtlSession;

// One command of ozmetctl, whole: its values checked and its line aimed before anything opens, then
// carried out. Once a Run may have reached a controller, every way out of it (a failure, an
// interrupt) sends Stop first: the whole process's Runs for the program's own command, the line's
// own Runs for a line of a script, which goes on past a failed line only with --keep-going.
class TCtlCommands {
public:
  // nested: a line of a script, on the script's line.
  TCtlCommands(const TCtlOptions& options, TCtlOutput& output, TCtlSession& session, bool nested = false);
  ~TCtlCommands();

  // Throws TCtlError for a refused value, TLineError (OpenFailed) for a device that cannot be
  // named. Opens nothing, sends nothing.
  void Prepare();
  // Throws TCtlError or TLineError when the command cannot be carried out.
  void Run();

  // The window's Data folder, found by the window's rule from this program's own folder.
  static std::string DataFolder();

private:
  // The name of the line as the user gave it: a device, a network line, or the link of a port.
  std::string PortName() const;

  const TCtlOptions& Options;
  TCtlOutput& Output;
  TCtlSession& Session;
  const bool Nested;
  std::unique_ptr<TCtlCommand> Command;
};

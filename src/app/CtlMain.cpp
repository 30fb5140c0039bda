// ozmetctl: the Ozmet motor speed controllers from the command line, one command a run.
#include "app/CtlCommands.h"
#include "app/CtlError.h"
#include "app/CtlInterrupt.h"
#include "app/CtlOptions.h"
#include "app/CtlOutput.h"
#include "app/CtlSession.h"
#include "serial/LineError.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <sys/prctl.h>

namespace {

// A refused command line under --json is an object like any other failure; --json is looked for
// in the words themselves, since the line as a whole was not understood.
int Refused(const TCtlError& error, int argc, char** argv)
{
  if (std::any_of(argv + 1, argv + argc, [](const char* word) { return std::string_view(word) == "--json"; }))
    std::puts(TCtlOutput::FailureJson(error.what(), TCtlError::Usage).c_str());
  std::fprintf(stderr, "ozmetctl: %s\nTry 'ozmetctl --help'.\n", error.what());
  return TCtlError::Usage;
}

TCtlOutput::TFormat FormatOf(const TCtlOptions& options)
{
  if (options.Has("json"))
    return TCtlOutput::TFormat::Json;
  return options.Has("csv") ? TCtlOutput::TFormat::Csv : TCtlOutput::TFormat::Text;
}

} // namespace

int main(int argc, char** argv)
{
  TCtlOptions options;
  try {
    options = TCtlOptions::Parse(argc, argv);
  } catch (const TCtlError& error) {
    return Refused(error, argc, argv);
  }
  if (options.Action == TCtlOptions::TAction::Help) {
    std::fputs(TCtlOptions::Usage(options.Command).c_str(), stdout);
    return 0;
  }
  if (options.Action == TCtlOptions::TAction::Version) {
    std::puts("ozmetctl " OZMET_VERSION);
    return 0;
  }
  // The pause before a frame is a sleep: let it end on time, as the window's worker does.
  ::prctl(PR_SET_TIMERSLACK, 1UL);
  TCtlInterrupt::Install();
  TCtlOutput output(FormatOf(options), options.Has("quiet"), options.Has("verbose"));
  TCtlSession session(output);
  try {
    TCtlCommands command(options, output, session);
    command.Prepare(); // every value checked before the port opens: a refused line sends nothing
    command.Run();
    return 0;
  } catch (const TCtlError& error) {
    if (error.ExitStatus == TCtlError::Usage && error.CommandLine)
      return Refused(error, argc, argv);
    output.Failure(error.what(), error.ExitStatus, error.Address);
    return error.ExitStatus;
  } catch (const TLineError& error) {
    const int status = error.Kind == TLineError::TKind::OpenFailed ? TCtlError::PortClosed : TCtlError::NoAnswer;
    output.Failure(error.what(), status);
    return status;
  }
}

// ozmetctl: the Ozmet motor speed controllers from the command line, one command a run.
#include "CtlCommands.h"
#include "CtlError.h"
#include "CtlInterrupt.h"
#include "CtlOptions.h"
#include "CtlOutput.h"
#include "LineError.h"

#include <cstdio>
#include <sys/prctl.h>

namespace {

int Refused(const TCtlError& error)
{
  std::fprintf(stderr, "ozmetctl: %s\nTry 'ozmetctl --help'.\n", error.what());
  return TCtlError::Usage;
}

} // namespace

int main(int argc, char** argv)
{
  TCtlOptions options;
  try {
    options = TCtlOptions::Parse(argc, argv);
  } catch (const TCtlError& error) {
    return Refused(error);
  }
  if (options.Action == TCtlOptions::TAction::Help) {
    std::fputs(TCtlOptions::Usage().c_str(), stdout);
    return 0;
  }
  if (options.Action == TCtlOptions::TAction::Version) {
    std::puts("ozmetctl " OZMET_VERSION);
    return 0;
  }
  // The pause before a frame is a sleep: let it end on time, as the window's worker does.
  ::prctl(PR_SET_TIMERSLACK, 1UL);
  TCtlInterrupt::Install();
  TCtlOutput output(options.Has("json"));
  try {
    TCtlCommands(options, output).Run();
    return 0;
  } catch (const TCtlError& error) {
    if (error.ExitStatus == TCtlError::Usage)
      return Refused(error);
    output.Failure(error.what(), error.ExitStatus);
    return error.ExitStatus;
  } catch (const TLineError& error) {
    const int status = error.Kind == TLineError::TKind::OpenFailed ? TCtlError::PortClosed : TCtlError::NoAnswer;
    output.Failure(error.what(), status);
    return status;
  }
}

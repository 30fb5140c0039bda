#include "CtlSequenceCommand.h"

#include "BusAddresses.h"
#include "CtlError.h"
#include "CtlInterrupt.h"
#include "CtlOptions.h"
#include "CtlSequenceLink.h"
#include "CtlSequenceOutput.h"
#include "CtlSession.h"
#include "SequenceFile.h"
#include "SequenceRecord.h"
#include "SequenceRunner.h"

#include <algorithm>

TCtlSequenceCommand::TCtlSequenceCommand(const TCtlOptions& options, TCtlOutput& output, TCtlSession& session)
    : Options(options), Output(output), Session(session)
{
}

TCtlSequenceCommand::~TCtlSequenceCommand() = default;

void TCtlSequenceCommand::Prepare()
{
  try {
    Sequence = TSequenceFile::Load(Options.Operand);
  } catch (const TSequenceError& error) { // its place in the file says it all: no usage text after it
    throw TCtlError(TCtlError::Usage, error.what(), false);
  }
  if (Options.Has("address")) {
    try {
      Sequence.Addresses = TBusAddresses::Parse(Options.Text("address"));
    } catch (const std::invalid_argument& error) {
      throw TCtlError(TCtlError::Usage, std::string("--address: ") + error.what());
    }
  }
  try { // made now, so that a folder it cannot write in refuses the run before anything is sent
    Record = std::make_unique<TSequenceRecord>(Options.Text("record", TSequenceRecord::DefaultFolder()));
  } catch (const std::runtime_error& error) {
    throw TCtlError(TCtlError::Usage, error.what(), false); // it names the folder
  }
}

void TCtlSequenceCommand::Execute()
{
  Session.Line(); // a line that will not open is said as by every command, before the run begins
  TCtlSequenceLink link(Session);
  TSequenceRunner runner(Sequence, link);
  TCtlSequenceOutput told(Output, *Record);
  runner.Observe(*Record);
  runner.Observe(told);
  TUnitSerials units;
  for (const std::uint8_t address : Sequence.Addresses)
    units[address] = Options.Text("unit");
  Conclude(runner.Run(units));
}

void TCtlSequenceCommand::Conclude(const TRunResult& run) const
{
  if (TCtlInterrupt::Requested())
    throw TCtlInterrupt::Error("test cut short");
  if (!Record->Failure().empty())
    throw TCtlError(TCtlError::Failed, "the record is incomplete: " + Record->Failure(), false);
  const auto failed = std::count_if(run.Controllers.begin(), run.Controllers.end(),
                                    [](const TControllerResult& c) { return c.Verdict != TVerdict::Pass; });
  if (failed > 0)
    throw TCtlError(TCtlError::Failed,
                    std::to_string(failed) + " of " + std::to_string(run.Controllers.size()) +
                        " controllers failed the test",
                    false);
}

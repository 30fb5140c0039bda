#include "app/CtlSequenceCommand.h"

#include "app/CtlTelemetry.h"

#include "app/CtlError.h"
#include "app/CtlInterrupt.h"
#include "app/CtlOptions.h"
#include "app/CtlOutput.h"
#include "app/CtlRecordsCommand.h"
#include "app/CtlSequenceLink.h"
#include "app/CtlSequenceOutput.h"
#include "app/CtlSession.h"
#include "bus/BusAddresses.h"
#include "files/Utf8Text.h"
#include "records/StoreWriter.h"
#include "sequence/SequenceFile.h"
#include "sequence/SequenceRecord.h"
#include "sequence/SequenceRunner.h"
#include "telemetry/TelemetryObserver.h"

#include <algorithm>

namespace {

std::string Listed(const std::vector<std::uint8_t>& addresses)
{
  std::string list;
  for (const std::uint8_t address : addresses)
    list.append(list.empty() ? "" : ", ").append(TCtlOutput::Address(address));
  return list;
}

TCtlError Refused(const std::string& item, const std::string& why)
{
  return TCtlError(TCtlError::Usage, Printable("--unit \"" + item + "\": " + why));
}

// "5=SN-A" or "$05=SN-A"; a serial alone goes to the test's only controller.
std::pair<std::uint8_t, std::string> UnitItem(const std::string& item, const std::vector<std::uint8_t>& addresses)
{
  const std::size_t equals = item.find('=');
  if (equals == std::string::npos && addresses.size() == 1)
    return {addresses.front(), Printable(item)};
  if (equals == std::string::npos)
    throw Refused(item, "the test has " + std::to_string(addresses.size()) + " controllers (" + Listed(addresses) +
                            "): give each its serial as ADDRESS=SERIAL");
  const std::string text = item.substr(0, equals), serial = item.substr(equals + 1);
  const std::optional<std::uint8_t> address = TBusAddresses::Address(text);
  if (!address)
    throw Refused(item, "\"" + text + "\" is no address: write ADDRESS=SERIAL, the address 0..254 or $00..$FE");
  if (serial.empty())
    throw Refused(item, "no serial after the address");
  if (std::find(addresses.begin(), addresses.end(), *address) == addresses.end())
    throw Refused(item, TCtlOutput::Address(*address) + " is not one of the test's controllers (" +
                            Listed(addresses) + ")");
  return {*address, Printable(serial)};
}

} // namespace

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
  for (const std::string& warning : Sequence.Warnings)
    Output.Warning("rounded", warning);
  if (Options.Has("address")) {
    try {
      Sequence.Addresses = TBusAddresses::Parse(Options.Text("address"));
    } catch (const std::invalid_argument& error) {
      throw TCtlError(TCtlError::Usage, std::string("--address: ") + error.what());
    }
  }
  Units = UnitSerials();
  const std::string folder = Options.Text("record", TSequenceRecord::DefaultFolder());
  try { // made now, so that a folder it cannot write in refuses the run before anything is sent
    for (const std::uint8_t address : Sequence.Addresses)
      Records[address] = std::make_unique<TSequenceRecord>(folder, address);
  } catch (const std::runtime_error& error) {
    throw TCtlError(TCtlError::Usage, error.what(), false); // it names the folder
  }
}

// Each controller's serial, each given once and only for a controller of the test.
TUnitSerials TCtlSequenceCommand::UnitSerials() const
{
  TUnitSerials units;
  for (const std::string& item : Options.Texts("unit")) {
    const auto [address, serial] = UnitItem(item, Sequence.Addresses);
    if (!units.emplace(address, serial).second)
      throw Refused(item, "a second serial for " + TCtlOutput::Address(address));
  }
  return units;
}

void TCtlSequenceCommand::Execute()
{
  TCtlSequenceLink link(Session);
  std::unique_ptr<TSequenceRunner> made;
  try { // the bus's size and the line's rate decide what the file's holds can measure: refused before the line opens
    made = std::make_unique<TSequenceRunner>(Sequence, link);
  } catch (const TSequenceError& error) {
    throw TCtlError(TCtlError::Usage, error.what(), false);
  }
  TSequenceRunner& runner = *made;
  Session.Line(); // a line that will not open is said as by every command, before the run begins
  TCtlSequenceOutput::TRecords records;
  for (const auto& [address, record] : Records) {
    runner.Observe(*record); // first: the files are written before they are named
    records[address] = record.get();
  }
  TCtlSequenceOutput told(Output, records);
  runner.Observe(told);
  // Last: the run's files are complete and named when the store takes them.
  TStoreWriter stored(TCtlRecordsCommand::StorePath(Options), [this](std::uint8_t address) {
    const auto record = Records.find(address);
    return record == Records.end() ? std::string() : record->second->RecordPath();
  });
  runner.Observe(stored);
  const TCtlTelemetry telemetry(Options, Output);
  std::optional<TTelemetryObserver> published;
  if (telemetry.Publisher())
    runner.Observe(published.emplace(*telemetry.Publisher()));
  const TRunResult run = runner.Run(Units);
  if (!stored.Failure().empty())
    Output.Warning("store", stored.Failure() + " (its files are kept; records import takes them in later)");
  Conclude(run);
}

void TCtlSequenceCommand::Conclude(const TRunResult& run) const
{
  if (TCtlInterrupt::Requested())
    throw TCtlInterrupt::Error("test cut short");
  for (const auto& [address, record] : Records)
    if (!record->Failure().empty())
      throw TCtlError(TCtlError::Failed, "the record is incomplete: " + record->Failure(), false);
  const auto failed = std::count_if(run.Controllers.begin(), run.Controllers.end(),
                                    [](const TControllerResult& c) { return c.Verdict != TVerdict::Pass; });
  if (failed > 0)
    throw TCtlError(TCtlError::Failed,
                    std::to_string(failed) + " of " + std::to_string(run.Controllers.size()) +
                        " controllers failed the test",
                    false);
}

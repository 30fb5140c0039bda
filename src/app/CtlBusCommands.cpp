#include "app/CtlBusCommands.h"

#include "app/CtlCommands.h"
#include "app/CtlError.h"
#include "app/CtlInterrupt.h"
#include "app/CtlOptions.h"
#include "app/CtlOutput.h"
#include "app/CtlScanReport.h"
#include "app/CtlSession.h"
#include "bus/ControllerDrive.h"
#include "motor/ValueReader.h"
#include "protocol/BusScanTimeout.h"
#include "serial/BusScan.h"
#include "serial/LineError.h"

namespace {

using namespace std::chrono;

constexpr std::int32_t MaxSeconds = 3600;

// The motor's fields of the options: the scan decodes what it finds at the ratio asked for.
TMotorFields RatioOnly(const TCtlOptions& options)
{
  TMotorFields fields;
  fields.GearRatio = options.Text("ratio", fields.GearRatio);
  return fields;
}

} // namespace

TCtlBusCommands::TCtlBusCommands(const TCtlOptions& options, TCtlOutput& output, TCtlSession& session)
    : Options(options), Output(output), Session(session)
{
}

void TCtlBusCommands::Prepare()
{
  if (Options.Command == "set-address") {
    if (const auto fault = ValueFault(TField::Address, Options.Operand, 0, 254))
      throw TCtlError(TCtlError::Usage, "NEW: \"" + Options.Operand + "\" is " + fault->Reason);
    NewAddress = static_cast<std::uint8_t>(*ParseValue(Options.Operand));
    Wait = Options.Whole("wait", 1, MaxSeconds, -1);
    return;
  }
  From = Options.Whole("from", 0, 254, 0);
  To = Options.Whole("to", 0, 254, 254);
  const TLineSettings line = Options.LineSettings();
  Timeout = milliseconds(Options.Whole(
      "timeout-ms", 1, MaxSeconds * 1000,
      static_cast<std::int32_t>(
          BusScanTimeout(line.Baud, line.DataBits, line.Parity != 0, line.StopBits != 0).count())));
  if (From > To)
    throw TCtlError(TCtlError::Usage, "--from " + std::to_string(From) + " is above --to " + std::to_string(To));
  const TMotorFields ratio = RatioOnly(Options);
  TCtlOptions::Refuse(TControllerDrive().ApplyMotor(ratio), ratio); // a ratio that gives no speeds
}

void TCtlBusCommands::PrepareLine(const std::string& line)
{
  if (Options.Has("save"))
    ListFile.emplace(TCtlCommands::DataFolder(), line);
}

void TCtlBusCommands::Execute()
{
  if (Options.Command == "set-address")
    SetAddress();
  else
    Scan();
}

void TCtlBusCommands::Scan()
{
  TCtlScanReport report(Output, RatioOnly(Options));
  const std::string notSaved = ListFile ? "; the bus list was not saved" : "";
  std::optional<TBusScan> scan;
  try {
    scan.emplace(Session.Line(), report);
    scan->Run(static_cast<std::uint8_t>(From), static_cast<std::uint8_t>(To), Timeout);
  } catch (const TLineError& error) { // what a failed line found is no list of the bus
    throw TLineError(error.Kind, error.what() + notSaved);
  }
  Output.EndProgress();
  report.Tell();
  const bool cut = TCtlInterrupt::Requested();
  // What was covered: a scan cut short before its first address covered an empty range.
  const std::int32_t last = scan->LastAsked() ? *scan->LastAsked() : From - 1;
  const std::string range = last < From ? "no address"
                                        : TCtlOutput::Address(static_cast<std::uint8_t>(From)) + ".." +
                                              TCtlOutput::Address(static_cast<std::uint8_t>(last));
  const std::vector<std::int64_t> found(report.Sound().begin(), report.Sound().end());
  const std::vector<std::int64_t> damaged(report.Damaged().begin(), report.Damaged().end());
  std::vector<TCtlOutput::TField> fields{{"from", std::int64_t{From}},
                                         {"to", std::int64_t{last}},
                                         {"found", found},
                                         {"bad_checksum", damaged},
                                         {"interrupted", cut}};
  // A cut scan or one that found nobody (a bus without power) would drop controllers that are there.
  std::optional<std::string> saved;
  std::optional<TCtlError> failedSave;
  if (ListFile && !cut && !found.empty()) {
    try {
      saved = Save(report.Sound());
      fields.push_back({"bus_list", *saved});
    } catch (const TCtlError& error) {
      failedSave.emplace(error);
    }
  }
  Output.Result("scan",
                std::to_string(found.size()) + " answered on " + range +
                    (damaged.empty() ? "" : ", " + std::to_string(damaged.size()) + " with a bad checksum") +
                    (cut ? " (" + TCtlInterrupt::Name() + ")" : ""),
                fields);
  if (saved)
    Output.Note("ozmetctl: bus list saved: " + std::to_string(found.size()) +
                (found.size() == 1 ? " controller in " : " controllers in ") + *saved);
  if (cut)
    throw TCtlInterrupt::Error("the scan covered " + range + " only" + (saved ? "" : notSaved));
  if (found.empty())
    throw TCtlError(TCtlError::NoAnswer, "no controller answered soundly on " + range + (saved ? "" : notSaved));
  if (failedSave)
    throw *failedSave;
}

std::string TCtlBusCommands::Save(const std::set<std::uint8_t>& found) const
{
  TBusList before = ListFile->Load();
  TBusList list;
  for (const std::uint8_t address : found) {
    const TBusController* listed = before.Find(address);
    list.Add(address, listed ? listed->Label() : std::string());
  }
  if (const std::optional<std::string> failure = ListFile->Save(list))
    throw TCtlError(TCtlError::NoAnswer, "the bus list was not saved: " + *failure, false);
  return ListFile->Path();
}

// Told done only when a controller answers at the new address afterwards: neither Enter nor the end
// of the wait says that a button was pressed.
void TCtlBusCommands::SetAddress()
{
  const std::string address = TCtlOutput::Address(NewAddress);
  const bool taken = Session.Answers(NewAddress);
  if (taken && !Options.Has("force"))
    throw TCtlError(TCtlError::Usage, NewAddress,
                    "a controller already answers at " + address +
                        ": two at one address answer at once and neither is understood; --force gives it anyway");
  Session.Broadcast(TOzmCommands::FrameFor(BroadcastAddress, CmdAddressSetBegin, NewAddress));
  const std::string when = Wait < 0 ? ", then Enter." : " within " + std::to_string(Wait) + " s.";
  Output.Prompt("Press the button of the controller that is to take the address " + address + when);
  if (Wait >= 0)
    TCtlInterrupt::SleepUntil(steady_clock::now() + seconds(Wait));
  else if (!TCtlInterrupt::WaitForEnter() && !TCtlInterrupt::Requested())
    Output.Note("Standard input ended before Enter: --wait SECONDS ends the procedure when nobody is there.");
  // Sent also after Ctrl+C, as when the window's dialog closes: no controller stays waiting.
  Session.Broadcast(TOzmCommands::FrameFor(BroadcastAddress, CmdAddressSetEnd, NewAddress));
  if (TCtlInterrupt::Requested())
    throw TCtlInterrupt::Error("the address procedure was ended early; its end was sent");
  const std::string given = "address " + address + " given";
  if (taken) {
    Output.Result("set-address", given + " (not checked: a controller answered there before)",
                  {{"address", std::int64_t{NewAddress}}, {"checked", false}});
    return;
  }
  if (!Session.Answers(NewAddress))
    throw TCtlError(TCtlError::NoAnswer, NewAddress,
                    "no controller answers at " + address +
                        " after the procedure: no button was pressed in time, or the controller did not take the "
                        "address");
  Output.Result("set-address", given + " to the controller whose button was pressed, which answers there",
                {{"address", std::int64_t{NewAddress}}, {"checked", true}});
}

#include "app/CtlCommands.h"

#include "app/CtlBusCommands.h"
#include "app/CtlDevices.h"
#include "app/CtlError.h"
#include "app/CtlInterrupt.h"
#include "app/CtlMotorCommands.h"
#include "app/CtlOptions.h"
#include "app/CtlRecordsCommand.h"
#include "app/CtlScript.h"
#include "app/CtlSequenceCommand.h"
#include "app/CtlSession.h"
#include "devices/NetworkAddress.h"
#include "devices/OpenFailure.h"
#include "devices/SerialAdapters.h"
#include "serial/ComPort.h"
#include "serial/DataFolder.h"
#include "serial/LineError.h"
#include "serial/PortSettingsFile.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace {

std::unique_ptr<TCtlCommand> CommandFor(const TCtlOptions& options, TCtlOutput& output, TCtlSession& session)
{
  const std::string& name = options.Command;
  if (name == "scan" || name == "set-address")
    return std::make_unique<TCtlBusCommands>(options, output, session);
  if (name == "script")
    return std::make_unique<TCtlScript>(options, output, session);
  if (name == "devices")
    return std::make_unique<TCtlDevices>(output);
  if (name == "test")
    return std::make_unique<TCtlSequenceCommand>(options, output, session);
  if (name == "records")
    return std::make_unique<TCtlRecordsCommand>(options, output);
  return std::make_unique<TCtlMotorCommands>(options, output, session);
}

} // namespace

TCtlCommands::TCtlCommands(const TCtlOptions& options, TCtlOutput& output, TCtlSession& session, bool nested)
    : Options(options), Output(output), Session(session), Nested(nested),
      Command(CommandFor(options, output, session))
{
}

TCtlCommands::~TCtlCommands() = default;

std::string TCtlCommands::DataFolder()
{
  std::error_code error;
  const TDataFolder data =
      TDataFolder::Find(std::filesystem::read_symlink("/proc/self/exe", error).parent_path().string());
  if (!data.Problem.empty())
    std::fprintf(stderr, "ozmetctl: %s\n", data.Problem.c_str());
  return data.Path;
}

void TCtlCommands::Prepare()
{
  Command->Prepare();
  if (Options.Command == "devices" || Options.Command == "records")
    return; // no line
  if (!Session.Aimed()) {
    const std::string path = PortName();
    Session.Aim(Options.Has("device") ? Options.Text("device") : path, path, Options.LineSettings());
  }
  Command->PrepareLine(Session.DeviceName());
}

void TCtlCommands::Run()
{
  const std::size_t mark = Nested ? Session.RunsSent() : 0;
  try {
    Command->Execute();
    // Ctrl+C is how a watch without --count ends: done, not cut short.
    const bool watchEnded = Options.Command == "watch" && TCtlInterrupt::ByCtrlC();
    if (TCtlInterrupt::Requested() && !watchEnded)
      throw TCtlInterrupt::Error(Options.Command + " cut short");
  } catch (...) {
    Session.StopOnTheWayOut(mark);
    throw;
  }
}

std::string TCtlCommands::PortName() const
{
  if (Options.Has("device") && Options.Has("port"))
    throw TCtlError(TCtlError::Usage, "give --port or --device, not both");
  if (Options.Has("device")) {
    const std::string text = Options.Text("device");
    if (TNetworkAddress::IsUrl(text) && !TNetworkAddress::Parse(text))
      throw TCtlError(TCtlError::Usage, "--device: " + TOpenFailure::Explain(text, EINVAL));
    // serial:NUMBER and by-id:NAME name an adapter by what a re-plug keeps; a path stays as it is.
    const TSerialAdapters::TResolved device = TSerialAdapters::Resolve(text);
    if (device.Fault == TSerialAdapters::TFault::Malformed)
      throw TCtlError(TCtlError::Usage, "--device: " + device.Error);
    if (device.Fault != TSerialAdapters::TFault::None) // as an unplugged device: works once it is in
      throw TLineError(TLineError::TKind::OpenFailed, device.Error);
    return device.Path;
  }
  const std::string data = DataFolder();
  // Without --port, the port the window uses: the number its settings file keeps.
  const std::int32_t stored = TPortSettingsFile(data + "/portp.dat").Load().PortNumber.value_or(0);
  return TComPort::DeviceNameFor(data, Options.Whole("port", 1, 255, stored));
}

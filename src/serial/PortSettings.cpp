#include "serial/PortSettings.h"

#include "devices/PortLinks.h"
#include "protocol/ConsoleView.h"
#include "serial/ComPort.h"
#include "serial/PortSettingsFile.h"

namespace {
TPortSettingsFile SettingsFile(const TComPort& port)
{
  return TPortSettingsFile(port.DataFolder + "/portp.dat");
}
} // namespace

TPortSettings::TPortSettings(TComPort& port, TConsoleView& view) : Port(port), View(view)
{
}

void TPortSettings::LoadPortSettings()
{
  const TPortSettingsFile::TLoadResult loaded = SettingsFile(Port).Load();
  if (!loaded.Readable)
    View.ShowMessage(TPortSettingsFile::DataFolderNotFoundText);
  // Without a stored number the port stays at 0, which names no device, until the operator picks one.
  if (loaded.PortNumber)
    Port.SetPortNumber(*loaded.PortNumber);
  Port.SetByteSize(3);
  Port.SetStopBits(0);
  Port.SetParity(0);
  Port.SetBaudIndex(6);
}

void TPortSettings::SavePortSettings()
{
  if (!SettingsFile(Port).Save(Port.PortNumber))
    View.ShowMessage(TPortSettingsFile::DataFolderNotFoundText);
}

void TPortSettings::ChooseForThisRun(std::optional<std::int32_t> port, const std::optional<std::string>& device)
{
  if (port) {
    PortForThisRun = port;
    Port.SetPortNumber(*port);
  }
  if (!device)
    return;
  const std::string problem = TPortLinks(Port.DataFolder).Assign(Port.PortNumber, *device);
  if (!problem.empty())
    View.AppendLog(problem, TLogColour::Red, false);
}

void TPortSettings::SaveAtClose()
{
  if (!PortForThisRun || Port.PortNumber != *PortForThisRun)
    SavePortSettings();
}

#include "serial/PortButtons.h"

#include "devices/DeviceHolders.h"
#include "devices/OpenFailure.h"
#include "protocol/ConsoleView.h"
#include "serial/ComPort.h"
#include "serial/PortDescription.h"

TPortButtons::TPortButtons(TComPort& port, TConsoleView& view) : Port(port), View(view)
{
}

bool TPortButtons::BtnOpenPortClick(const std::function<void()>& failed)
{
  if (Port.Changing()) // a recovery that runs inside a close's wait leaves the port to that close
    return true;
  Port.Close();
  const std::string name = Port.DeviceName();
  if (Port.Open()) {
    Opened();
    return true;
  }
  // Told and logged as it happens: the box waits for the operator, who may read it much later.
  const std::string reason = TOpenFailure::Explain(name, Port.OpenError());
  View.AppendLog(reason, TLogColour::Red, false);
  View.ScrollLogToEnd();
  View.ShowPortDevice("", reason); // the panel keeps the text of the last good open
  if (failed)
    failed();
  UpdatePortButtons();
  View.ShowMessage(OpenPortErrorText + std::string("\n") + reason);
  return false;
}

bool TPortButtons::Reopen()
{
  if (Port.Changing())
    return false;
  Port.Close();
  if (!Port.Open()) {
    UpdatePortButtons();
    return false;
  }
  Opened();
  return true;
}

void TPortButtons::Opened()
{
  const std::string name = Port.DeviceName();
  View.SetPortPanelText(PanelPrefix + PortDescription(Port.PortNumber, Port.ByteSize, Port.StopBits, Port.Parity));
  const std::string& device = Port.OpenedDevice();
  std::string toolTip = device == name ? device : device + " (through " + name + ")";
  // Another program that reads the device takes some of the answers: said, not refused.
  for (const std::string& other : TDeviceHolders::Sharing(device)) {
    const std::string shared = "also open in " + other + ": it may take the controller's answers";
    View.AppendLog(device + " is " + shared, TLogColour::Red, false);
    toolTip += "; " + shared;
  }
  View.ShowPortDevice(device, toolTip);
  Port.SetReading(true);
  if (const std::string note = Port.SettingsNote(); !note.empty())
    View.AppendLog(note, TLogColour::Blue, false); // a note: the port works without it
  UpdatePortButtons();
}

void TPortButtons::BtnClosePortClick()
{
  if (Port.Changing())
    return;
  Port.Close();
  Port.SetReading(false);
  View.SetPortPanelText("");
  View.ShowPortDevice("", "");
  UpdatePortButtons();
}

void TPortButtons::UpdatePortButtons()
{
  View.UpdatePortButtons(Port.IsOpen());
}

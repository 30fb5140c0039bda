#include "PortButtons.h"

#include "ComPort.h"
#include "ConsoleView.h"
#include "OpenFailure.h"
#include "PortDescription.h"

TPortButtons::TPortButtons(TComPort& port, TConsoleView& view) : Port(port), View(view)
{
}

void TPortButtons::BtnOpenPortClick()
{
  if (Port.Changing()) // a recovery that runs inside a close's wait leaves the port to that close
    return;
  Port.Close();
  const std::string name = Port.DeviceName();
  if (Port.Open()) {
    View.SetPortPanelText(PanelPrefix + PortDescription(Port.PortNumber, Port.ByteSize, Port.StopBits, Port.Parity));
    const std::string& device = Port.OpenedDevice();
    View.ShowPortDevice(device, device == name ? device : device + " (through " + name + ")");
    Port.SetReading(true);
  } else {
    View.ShowMessage(OpenPortErrorText); // the panel keeps the text of the last good open
    const std::string reason = TOpenFailure::Explain(name, Port.OpenError());
    View.AppendLog(reason, TLogColour::Red, false);
    View.ScrollLogToEnd();
    View.ShowPortDevice("", reason);
  }
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

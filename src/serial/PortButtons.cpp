#include "PortButtons.h"

#include "ComPort.h"
#include "ConsoleView.h"
#include "PortDescription.h"

TPortButtons::TPortButtons(TComPort& port, TConsoleView& view) : Port(port), View(view)
{
}

void TPortButtons::BtnOpenPortClick()
{
  if (Port.Changing()) // a recovery that runs inside a close's wait leaves the port to that close
    return;
  Port.Close();
  if (Port.Open()) {
    View.SetPortPanelText(PanelPrefix + PortDescription(Port.PortNumber, Port.ByteSize, Port.StopBits, Port.Parity));
    Port.SetReading(true);
  } else {
    View.ShowMessage(OpenPortErrorText); // the panel keeps the text of the last good open
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
  UpdatePortButtons();
}

void TPortButtons::UpdatePortButtons()
{
  View.UpdatePortButtons(Port.IsOpen());
}

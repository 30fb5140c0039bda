#include "ComPort.h"
#include "PortButtons.h"
#include "PtyPair.h"
#include "RecordingView.h"
#include "TempDir.h"

#include <gtest/gtest.h>

namespace {

const std::string Panel = std::string("panel ") + TPortButtons::PanelPrefix;

TEST(PortButtons, OpenShowsTheDescriptionAndClosedEmptiesIt)
{
  TPtyPair pty;
  TTempDir data;
  data.Link("COM2", pty.SlavePath());
  TRecordingView view;
  TComPort port;
  port.DataFolder = data.Path();
  port.SetPortNumber(2);
  port.SetByteSize(2);
  port.SetStopBits(2);
  port.SetParity(1);
  TPortButtons buttons(port, view);

  buttons.BtnOpenPortClick();
  EXPECT_EQ(view.Calls, (std::vector<std::string>{Panel + "Com2;  7 bit, stop-bit: 2;  parity: odd;  ", "buttons open"}));
  EXPECT_TRUE(port.ReadThread && port.ReadThread->Reading());

  view.Calls.clear();
  buttons.BtnClosePortClick();
  EXPECT_EQ(view.Calls, (std::vector<std::string>{"panel ", "buttons closed"}));
  EXPECT_FALSE(port.IsOpen());
}

TEST(PortButtons, FailedOpenKeepsThePanelAndSaysSo)
{
  TRecordingView view;
  TComPort port; // port 0: no device
  TPortButtons buttons(port, view);
  buttons.BtnOpenPortClick();
  EXPECT_EQ(view.Calls,
            (std::vector<std::string>{std::string("message ") + TPortButtons::OpenPortErrorText, "buttons closed"}));
}

} // namespace

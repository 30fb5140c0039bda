#include "ChildProcess.h"
#include "ComPort.h"
#include "MainThreadWait.h"
#include "OpenFailure.h"
#include "PortButtons.h"
#include "PortLinks.h"
#include "PtyPair.h"
#include "RecordingView.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

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
  EXPECT_EQ(view.Calls, (std::vector<std::string>{Panel + "Com2;  7 bit, stop-bit: 2;  parity: odd;  ",
                                                  "device " + pty.SlavePath() + " | " + pty.SlavePath() + " (through " +
                                                      data.Path() + "/COM2)",
                                                  "buttons open"}));
  EXPECT_TRUE(port.ReadThread && port.ReadThread->Reading());

  view.Calls.clear();
  buttons.BtnClosePortClick();
  EXPECT_EQ(view.Calls, (std::vector<std::string>{"panel ", "device  | ", "buttons closed"}));
  EXPECT_FALSE(port.IsOpen());
}

// A failed open keeps "Open port error" and the panel's text, and says why in the log and in the
// panel's tooltip. Each case prepares the data folder and returns the port number to open.
TEST(PortButtons, FailedOpenKeepsThePanelAndSaysWhy)
{
  TPtyPair pty;
  const struct {
    const char* Name;
    std::function<int(TTempDir&)> Prepare;
    std::string Says;
  } cases[] = {
      {"NoPortChosen", [](TTempDir&) { return 0; }, "No port chosen"},
      {"LinkDangles",
       [](TTempDir& data) {
         data.Link("COM2", data.Path() + "/unplugged");
         return 2;
       },
       "/unplugged, which is not there: the adapter is unplugged"},
      {"NoLinkNoDevice", [](TTempDir&) { return 250; }, "No such device: /dev/ttyS249."},
      {"NotSerial",
       [](TTempDir& data) {
         std::ofstream(data.Path() + "/file") << "not a line";
         data.Link("COM2", data.Path() + "/file");
         return 2;
       },
       "/file, which is not a serial device."},
  };
  for (const auto& c : cases) {
    TTempDir data;
    TRecordingView view;
    TComPort port;
    port.DataFolder = data.Path();
    port.SetPortNumber(c.Prepare(data));
    TPortButtons(port, view).BtnOpenPortClick();
    ASSERT_EQ(view.Calls.size(), 5u) << c.Name << ::testing::PrintToString(view.Calls);
    EXPECT_EQ(view.Calls[0], std::string("message ") + TPortButtons::OpenPortErrorText) << c.Name;
    EXPECT_NE(view.Calls[1].find(c.Says), std::string::npos) << c.Name << ": " << view.Calls[1];
    EXPECT_EQ(view.Calls[3], "device  | " + view.Calls[1].substr(std::string("log Red ").size())) << c.Name;
    EXPECT_EQ(view.Calls[4], "buttons closed") << c.Name;
  }
}

// Another program holds the device: the reason names it.
TEST(PortButtons, BusyDeviceNamesItsHolder)
{
  TPtyPair pty;
  TChildProcess holder("/usr/bin/flock", {"--exclusive", pty.SlavePath(), "sleep", "30"});
  ASSERT_TRUE(PollUntil([&] {
    TSerialDevice probe;
    return !probe.Open(pty.SlavePath()) && probe.OpenError() == EWOULDBLOCK;
  }));
  EXPECT_EQ(TOpenFailure::Explain(pty.SlavePath(), EWOULDBLOCK).rfind(pty.SlavePath() + " is in use by another program: flock (pid ", 0), 0u)
      << TOpenFailure::Explain(pty.SlavePath(), EWOULDBLOCK);
}

// As a user outside the device's group (nobody), the reason names the group and how to join it.
TEST(PortButtons, PermissionDeniedNamesTheGroup)
{
  if (::geteuid() != 0)
    GTEST_SKIP() << "becoming nobody needs root";
  TPtyPair pty; // owned by root and its group tty, which nobody is not in
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) == 0)
      [[maybe_unused]] const int dropped = ::setuid(65534);
    TSerialDevice device;
    const std::string reason = device.Open(pty.SlavePath()) ? "opened" : TOpenFailure::Explain(pty.SlavePath(), device.OpenError());
    [[maybe_unused]] const auto written = ::write(pipe[1], reason.data(), reason.size());
    ::_exit(0);
  }
  ::close(pipe[1]);
  std::string reason(512, '\0');
  reason.resize(static_cast<std::size_t>(std::max<ssize_t>(0, ::read(pipe[0], reason.data(), reason.size()))));
  ::close(pipe[0]);
  ::waitpid(child, nullptr, 0);
  const std::string group = TOpenFailure::GroupOf(pty.SlavePath());
  EXPECT_EQ(reason, "Permission denied on " + pty.SlavePath() + ": it belongs to the group " + group +
                        ". Add yourself to it with \"sudo usermod -aG " + group +
                        " $USER\", then log out and in again.");
}

TEST(PortLinks, AssignLinksThePortAndRefusesWhatIsNotThere)
{
  TPtyPair pty;
  TTempDir data, byId;
  const std::string stable = byId.Path() + "/usb-FTDI_FT232R_USB_UART_A10K5XYZ-if00-port0";
  byId.Link("usb-FTDI_FT232R_USB_UART_A10K5XYZ-if00-port0", pty.SlavePath());
  EXPECT_EQ(TPortLinks::StableName(pty.SlavePath(), byId.Path()), stable);
  EXPECT_EQ(TPortLinks::StableName(pty.SlavePath(), data.Path()), pty.SlavePath()) << "no stable name: the path";

  const TPortLinks links(data.Path());
  EXPECT_EQ(links.Assign(5, pty.SlavePath()), "");
  EXPECT_EQ(std::filesystem::read_symlink(data.Path() + "/COM5"), pty.SlavePath());
  EXPECT_EQ(links.Assign(0, pty.SlavePath()), "Choose a port number from 1 to 255 before assigning a device.");
  EXPECT_EQ(links.Assign(5, data.Path() + "/gone"), "No such device: " + data.Path() + "/gone.");
  EXPECT_EQ(std::filesystem::read_symlink(data.Path() + "/COM5"), pty.SlavePath()) << "a refused assignment changes nothing";
}

} // namespace

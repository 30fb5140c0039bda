#include "serial/PortButtons.h"
#include "ChildProcess.h"
#include "MainThreadWait.h"
#include "PtyPair.h"
#include "RecordingView.h"
#include "TempDir.h"
#include "devices/DeviceHolders.h"
#include "devices/OpenFailure.h"
#include "devices/PortLinks.h"
#include "serial/ComPort.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string Panel = std::string("panel ") + TPortButtons::PanelPrefix;

// Port 2, linked in a Data folder of its own to the device.
struct TLinkedPort {
  explicit TLinkedPort(const std::string& device)
  {
    Data.Link("COM2", device);
    Port.DataFolder = Data.Path();
    Port.SetPortNumber(2);
  }
  TTempDir Data;
  TComPort Port;
};

TEST(PortButtons, OpenShowsTheDescriptionAndClosedEmptiesIt)
{
  TPtyPair pty;
  TLinkedPort linked(pty.SlavePath());
  TComPort& port = linked.Port;
  const TTempDir& data = linked.Data;
  TRecordingView view;
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

// Another program that holds the device open as well takes answers away: the open says so in red
// and in the device's tooltip; this process's own end of the pseudo-terminal is no such program.
TEST(PortButtons, OpenSaysAnotherProgramHoldingTheDevice)
{
  TPtyPair pty;
  TChildProcess other("/bin/sh", {"-c", "exec 3<>\"$P\"; echo ready; exec sleep 30"}, {"P=" + pty.SlavePath()});
  ASSERT_TRUE(other.WaitForOutput(0, "ready"));
  ASSERT_TRUE(PollUntil([&] { return TDeviceHolders::Sharing(pty.SlavePath()) ==
                                     std::vector<std::string>{TOpenFailure::ProcessName(other.ProcessId())}; }));
  TLinkedPort linked(pty.SlavePath());
  TComPort& port = linked.Port;
  const TTempDir& data = linked.Data;
  TRecordingView view;
  TPortButtons buttons(port, view);
  ASSERT_TRUE(buttons.BtnOpenPortClick());
  const std::string shared = "also open in sleep (pid " + std::to_string(other.ProcessId()) +
                             "): it may take the controller's answers";
  EXPECT_NE(std::find(view.Calls.begin(), view.Calls.end(), "log Red " + pty.SlavePath() + " is " + shared),
            view.Calls.end())
      << testing::PrintToString(view.Calls);
  EXPECT_NE(std::find(view.Calls.begin(), view.Calls.end(),
                      "device " + pty.SlavePath() + " | " + pty.SlavePath() + " (through " + data.Path() +
                          "/COM2); " + shared),
            view.Calls.end());
}

// A failed open keeps the panel's text, and says why in the log, in the panel's tooltip and under
// "Open port error" in the message box. Each case prepares the data folder and returns the port number to open.
TEST(PortButtons, FailedOpenKeepsThePanelAndSaysWhy)
{
  TPtyPair pty;
  const struct {
    const char* Name;
    std::function<int(TTempDir&)> Prepare;
    std::string Says;
    std::string Inside = ""; // the Data folder, under the temporary one
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
      // A link that cannot be looked at is said, and no /dev/ttyS4 is opened instead.
      {"DataIsAFile",
       [](TTempDir& data) {
         std::ofstream(data.Path() + "/file") << "not a folder";
         return 5;
       },
       "/file/COM5 cannot be read: Not a directory.", "/file"},
      {"DataLoops",
       [](TTempDir& data) {
         data.Link("loop", data.Path() + "/loop");
         return 5;
       },
       "/loop/COM5 cannot be read: Too many levels of symbolic links.", "/loop"},
  };
  for (const auto& c : cases) {
    TTempDir data;
    TRecordingView view;
    TComPort port;
    port.DataFolder = data.Path() + c.Inside;
    port.SetPortNumber(c.Prepare(data));
    TPortButtons(port, view).BtnOpenPortClick();
    ASSERT_EQ(view.Calls.size(), 5u) << c.Name << ::testing::PrintToString(view.Calls);
    const std::string reason = view.Calls[0].substr(std::string("log Red ").size());
    EXPECT_NE(reason.find(c.Says), std::string::npos) << c.Name << ": " << view.Calls[0];
    EXPECT_EQ(view.Calls[2], "device  | " + reason) << c.Name;
    EXPECT_EQ(view.Calls[3], "buttons closed") << c.Name;
    // The box comes last, as it waits for the operator, and says the same reason.
    EXPECT_EQ(view.Calls[4], std::string("message ") + TPortButtons::OpenPortErrorText + "\n" + reason) << c.Name;
  }
}

// A lost line opened again in a loop: each failure closes the buttons without a word or a box, the device back
// opens as the Open port button does.
TEST(PortButtons, ReopenSaysNothingUntilTheDeviceIsBack)
{
  TPtyPair pty;
  TLinkedPort linked(pty.SlavePath());
  TComPort& port = linked.Port;
  TRecordingView view;
  TPortButtons buttons(port, view);
  ASSERT_TRUE(buttons.BtnOpenPortClick());
  const std::vector<std::string> opened = view.Calls;
  std::filesystem::remove(linked.Data.Path() + "/COM2");
  linked.Data.Link("COM2", linked.Data.Path() + "/unplugged");
  for (int attempt = 0; attempt < 2; ++attempt) {
    view.Calls.clear();
    EXPECT_FALSE(buttons.Reopen());
    EXPECT_EQ(view.Calls, std::vector<std::string>{"buttons closed"});
    EXPECT_FALSE(port.IsOpen());
  }
  std::filesystem::remove(linked.Data.Path() + "/COM2");
  linked.Data.Link("COM2", pty.SlavePath());
  view.Calls.clear();
  EXPECT_TRUE(buttons.Reopen());
  EXPECT_EQ(view.Calls, opened);
  EXPECT_TRUE(port.ReadThread && port.ReadThread->Reading());
}

// Why a mount namespace with a bind mount of its own cannot be made here ("" when it can): it needs
// root, and a chroot or an unprivileged container refuses to make the root's propagation private.
std::string MountNamespaceRefusal()
{
  if (::geteuid() != 0)
    return "a mount namespace needs root";
  TTempDir dir;
  TChildProcess probe("/bin/sh", {"-c", "touch \"$D/a\" \"$D/b\" && exec unshare --mount --propagation private "
                                         "mount --bind \"$D/a\" \"$D/b\""},
                      {"D=" + dir.Path()});
  const std::optional<int> exit = probe.WaitForExit();
  probe.WaitForOutput(1, std::string(1, '\0'));
  if (exit == 0)
    return {};
  return "unshare --mount with a private root and a bind mount fails here (exit " +
         (exit ? std::to_string(*exit) : std::string("none")) + "): " + probe.Stderr();
}

// Another program holds the device: the reason names it, the lock's holder before any process that
// merely keeps a descriptor of it (the simulator keeps its own end of the pty), and never a process
// whose descriptor only has the same name (a pty of the same number in another mount namespace).
TEST(PortButtons, BusyDeviceNamesItsHolder)
{
  const struct {
    const char* Name;
    std::vector<std::string> Holders; // shell commands, started in turn; each says "ready" once it holds
    std::string Named;
  } cases[] = {
      {"Lock", {"exec flock --exclusive \"$P\" sh -c 'echo ready; exec sleep 30'"}, "flock (pid "},
      {"LockBeforeDescriptor",
       {"exec 3<>\"$P\"; echo ready; exec sleep 30",
        "exec flock --exclusive \"$P\" sh -c 'echo ready; exec sleep 30'"},
       "flock (pid "},
      {"SameNameElsewhere",
       {"echo other >\"$D/decoy\"; exec unshare --mount sh -c "
        "'mount --bind \"$D/decoy\" \"$P\" && exec 3<\"$P\" && echo ready && exec tail -f /dev/null'",
        "exec 3<>\"$P\"; echo ready; exec sleep 30"},
       "sleep (pid "},
  };
  std::string skipped;
  for (const auto& c : cases) {
    if (std::string(c.Name) == "SameNameElsewhere" && !(skipped = MountNamespaceRefusal()).empty())
      continue;
    TPtyPair pty;
    TTempDir dir;
    std::vector<std::unique_ptr<TChildProcess>> holders;
    for (const std::string& command : c.Holders) {
      holders.push_back(std::make_unique<TChildProcess>("/bin/sh", std::vector<std::string>{"-c", command},
                                                        std::vector<std::string>{"P=" + pty.SlavePath(), "D=" + dir.Path()}));
      ASSERT_TRUE(holders.back()->WaitForOutput(0, "ready")) << c.Name << ": " << holders.back()->Stderr();
    }
    // A holder says "ready" just before it becomes the program it execs: its name follows a moment later.
    const std::string expected = pty.SlavePath() + " is in use by another program: " + c.Named;
    std::string reason;
    EXPECT_TRUE(PollUntil([&] {
      reason = TOpenFailure::Explain(pty.SlavePath(), EWOULDBLOCK);
      return reason.starts_with(expected);
    })) << c.Name << ": " << reason;
  }
  if (!skipped.empty())
    GTEST_SKIP() << "SameNameElsewhere: " << skipped;
}

// Each failure in words, whatever the device: EBUSY is what TIOCEXCL gives a user who is not root.
TEST(OpenFailure, ExplainSaysEachFailure)
{
  const std::string path = "/nonexistent-ozmet/ttyUSB9";
  const struct {
    int Error;
    std::string Says;
  } cases[] = {
      {EBUSY, path + " is in use by another program."},
      {EWOULDBLOCK, path + " is in use by another program."},
      {ENOENT, "No such device: " + path + "."},
      {ENOTTY, path + " is not a serial device."},
      {EIO, "Cannot open " + path + ": Input/output error."},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TOpenFailure::Explain(path, c.Error), c.Says) << c.Error;
}

// What run() returns when it runs as nobody, in a child process.
std::string AsNobody(const std::function<std::string()>& run)
{
  int pipe[2];
  if (::pipe(pipe) != 0)
    return "no pipe";
  const pid_t child = ::fork();
  if (child == 0) {
    const std::string said = ::setgid(65534) == 0 && ::setuid(65534) == 0 ? run() : "still root";
    [[maybe_unused]] const auto written = ::write(pipe[1], said.data(), said.size());
    ::_exit(0);
  }
  ::close(pipe[1]);
  std::string said(2048, '\0');
  said.resize(static_cast<std::size_t>(std::max<ssize_t>(0, ::read(pipe[0], said.data(), said.size()))));
  ::close(pipe[0]);
  ::waitpid(child, nullptr, 0);
  return said;
}

// As a user who is not root (nobody), the reason says what to do: join the device's group, or
// have udev give a root-only device a group (never join root); a device whose exclusive bit is set
// is busy (EBUSY from the open, which root never sees) and names the program that holds it; a Data
// folder that cannot be read is said, and no /dev/ttyS<N-1> is opened instead.
TEST(PortButtons, AsAnotherUserTheReasonSaysWhatToDo)
{
  if (::geteuid() != 0)
    GTEST_SKIP() << "becoming nobody needs root";
  std::string self;
  std::getline(std::ifstream("/proc/self/comm"), self);
  const auto readable = [](const std::string& folder) { ASSERT_EQ(::chmod(folder.c_str(), 0755), 0); };
  const struct {
    const char* Name;
    std::function<void(const TPtyPair&, const std::string&)> Prepare; // as root, given the Data folder
    std::function<std::string(const TPtyPair&, const std::string&)> Says; // given the link
  } cases[] = {
      {"OutsideTheGroup",
       [&](const TPtyPair& pty, const std::string& data) {
         readable(data);
         ASSERT_EQ(::fchown(pty.SlaveFd(), 0, 20), 0); // as an adapter is: root, group dialout (20), 0660
         ASSERT_EQ(::fchmod(pty.SlaveFd(), 0660), 0);
       },
       [](const TPtyPair& pty, const std::string& link) {
         const std::string group = TOpenFailure::GroupOf(pty.SlavePath());
         return "Permission denied on " + link + ": it belongs to the group " + group +
                ". Add yourself to it with \"sudo usermod -aG " + group + " $USER\", then log out and in again.";
       }},
      {"RootOnly",
       [&](const TPtyPair& pty, const std::string& data) {
         readable(data);
         ASSERT_EQ(::fchown(pty.SlaveFd(), 0, 0), 0);
         ASSERT_EQ(::fchmod(pty.SlaveFd(), 0600), 0);
       },
       [](const TPtyPair& pty, const std::string& link) {
         return "Permission denied on " + link +
                ": only root can open it. A udev rule can give it the group dialout, for instance in "
                "/etc/udev/rules.d/70-ozmet.rules: SUBSYSTEM==\"tty\", KERNEL==\"" +
                pty.SlavePath().substr(5) +
                "\", GROUP=\"dialout\", MODE=\"0660\"; then add yourself to dialout with \"sudo usermod -aG "
                "dialout $USER\", and log out and in again.";
       }},
      {"ExclusiveBit",
       [&](const TPtyPair& pty, const std::string& data) {
         readable(data);
         ASSERT_EQ(::fchmod(pty.SlaveFd(), 0666), 0);
         ASSERT_EQ(::ioctl(pty.SlaveFd(), TIOCEXCL), 0);
         ASSERT_EQ(::flock(pty.SlaveFd(), LOCK_EX | LOCK_NB), 0);
       },
       [&self](const TPtyPair&, const std::string& link) {
         return link + " is in use by another program: " + self + " (pid " + std::to_string(::getpid()) + ").";
       }},
      {"UnreadableDataFolder", [](const TPtyPair&, const std::string&) {}, // root's, mode 0700
       [](const TPtyPair&, const std::string& link) { return link + " cannot be read: Permission denied."; }},
  };
  for (const auto& c : cases) {
    TPtyPair pty;
    TTempDir data;
    data.Link("COM5", pty.SlavePath());
    c.Prepare(pty, data.Path());
    const std::string reason = AsNobody([&] {
      TComPort port;
      port.DataFolder = data.Path();
      port.SetPortNumber(5);
      return port.Open() ? std::string("opened") : TOpenFailure::Explain(port.DeviceName(), port.OpenError());
    });
    EXPECT_EQ(reason, c.Says(pty, data.Path() + "/COM5")) << c.Name;
  }
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
  // A relative path is taken where it was given, not against the Data folder.
  EXPECT_EQ(links.Assign(7, std::filesystem::relative(pty.SlavePath()).string()), "");
  EXPECT_EQ(std::filesystem::read_symlink(data.Path() + "/COM7"), pty.SlavePath());
}

} // namespace

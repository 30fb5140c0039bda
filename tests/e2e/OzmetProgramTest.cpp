#include "CasePrinter.h"
#include "ChildProcess.h"
#include "MainThreadWait.h"
#include "SettingsAside.h"
#include "TempDir.h"
#include "Unplug.h"
#include "bus/BusListFile.h"
#include "serial/PortSettingsFile.h"
#include "serial/SerialDevice.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

namespace {

using CasePrinter::PrintTo;

[[maybe_unused]] const bool SettingsAside = (KeepSettingsAside(), true);

using namespace std::chrono_literals;

// The real program in a folder of its own, with its Data folder and the simulator linked as COM1.
class OzmetProgram : public ::testing::Test {
protected:
  void SetUp() override
  {
    std::filesystem::copy_file(OZMET_PATH, Folder.Path() + "/ozmet");
    std::filesystem::create_directory(Data);
    ASSERT_TRUE(TPortSettingsFile(Data + "/portp.dat").Save(1));
    StartSim();
  }

  // The simulator behind COM1, with these options besides.
  void StartSim(const std::vector<std::string>& options = {})
  {
    Sim = nullptr;
    std::vector<std::string> arguments{"--verbose", "--no-input", "--link", Data + "/COM1"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    Sim = std::make_unique<TChildProcess>(OZMET_SIM_PATH, arguments);
    ASSERT_FALSE(Sim->FirstLine().empty()) << Sim->Stderr();
  }

  std::unique_ptr<TChildProcess> StartProgram(const std::vector<std::string>& arguments = {},
                                              const std::vector<std::string>& environment = {
                                                  "QT_QPA_PLATFORM=offscreen"})
  {
    return std::make_unique<TChildProcess>(Folder.Path() + "/ozmet", arguments, environment);
  }

  TTempDir Folder;
  const std::string Data = Folder.Path() + "/Data";
  std::unique_ptr<TChildProcess> Sim;
};

// A termination signal closes the window as its close box does: the port number is written back.
TEST_F(OzmetProgram, TerminationClosesTheWindowAndSavesThePort)
{
  const std::string settings = Data + "/portp.dat";
  const auto old = std::filesystem::file_time_type::clock::now() - 1h;
  std::filesystem::last_write_time(settings, old);
  auto program = StartProgram();
  EXPECT_FALSE(program->WaitForExit(1s)) << program->Stderr();
  program->Signal(SIGTERM);
  EXPECT_EQ(program->WaitForExit(10s), 0) << program->Stderr();
  EXPECT_GT(std::filesystem::last_write_time(settings), old) << "written again on the way out";
  EXPECT_EQ(TPortSettingsFile(settings).Load().PortNumber, 1);
}

// SIGTERM with sixty controllers listed on the line: the unattended end stops the panel's and each listed one, all
// answered, and the program ends by its own path, though sixty Stops outlast the backstop's first three seconds.
TEST_F(OzmetProgram, TerminationStopsEachOfSixtyListedControllers)
{
  std::vector<std::string> options{"--address", "0"};
  TBusList list;
  for (int address = 1; address <= 60; ++address) {
    options.insert(options.end(), {"--address", std::to_string(address)});
    list.Add(static_cast<std::uint8_t>(address));
  }
  StartSim(options);
  ASSERT_EQ(TBusListFile(Data, Data + "/COM1").Save(list), std::nullopt);
  auto program = StartProgram();
  EXPECT_FALSE(program->WaitForExit(1s)) << program->Stderr();
  program->Signal(SIGTERM);
  EXPECT_EQ(program->WaitForExit(60s), 0) << program->Stderr();
  EXPECT_TRUE(program->WaitForOutput(1, "ended by SIGTERM with the motor possibly running: Stop sent and answered"))
      << program->Stderr();
  Sim->WaitForOutput(1, "\n\n", 10ms); // collects what came; never found
  for (int address = 0; address <= 60; ++address) {
    char stop[16];
    std::snprintf(stop, sizeof stop, "rx E6 %02X 52", address);
    EXPECT_NE(Sim->Stderr().find(stop), std::string::npos) << "no Stop to " << address;
  }
}

TEST_F(OzmetProgram, SurvivesItsLineHangingUp)
{
  auto program = StartProgram();
  EXPECT_FALSE(program->WaitForExit(1s)) << program->Stderr();
  Unplug(Data + "/COM1");
  Sim->Signal(SIGKILL); // the device disappears under the open port
  EXPECT_TRUE(Sim->WaitForExit());
  EXPECT_FALSE(program->WaitForExit(2s)) << "still running:\n" << program->Stderr();
  program->Signal(SIGTERM);
  EXPECT_EQ(program->WaitForExit(10s), 0) << program->Stderr();
}

// The program waits in a message box while its window is being built (the settings file is gone,
// then the port cannot be opened); a termination still ends it cleanly, after the boxes.
TEST_F(OzmetProgram, TerminationDuringAMessageBoxEndsCleanly)
{
  ASSERT_TRUE(std::filesystem::remove(Data + "/portp.dat"));
  auto program = StartProgram();
  EXPECT_FALSE(program->WaitForExit(1s));
  program->Signal(SIGTERM);
  EXPECT_EQ(program->WaitForExit(10s), 0) << program->Stderr();
  EXPECT_TRUE(TPortSettingsFile(Data + "/portp.dat").Load().Readable) << "saved on the way out";
}

// The command line: what each asks for, what the program prints and how it ends.
TEST_F(OzmetProgram, CommandLineOptions)
{
  const struct {
    std::vector<std::string> Arguments;
    int Exit;
    int Stream; // 0 standard output, 1 standard error
    std::string Says;
  } cases[] = {
      {{"--help"}, 0, 0, "Usage: ozmet [--port N] [--device PATH] [--rs485]"},
      {{"--version"}, 0, 0, "ozmet 5.1.e"},
      {{"--speed", "9"}, 2, 1, "ozmet: unknown option --speed"},
      {{"--port"}, 2, 1, "ozmet: --port needs a value"},
      {{"--port", "256"}, 2, 1, "ozmet: --port takes a port number from 1 to 255, not \"256\""},
      {{"--port", "3x"}, 2, 1, "ozmet: --port takes a port number from 1 to 255, not \"3x\""},
  };
  for (const auto& c : cases) {
    auto program = StartProgram(c.Arguments);
    EXPECT_TRUE(program->WaitForOutput(c.Stream, c.Says)) << c.Arguments.front() << ": " << program->Stderr();
    EXPECT_EQ(program->WaitForExit(), c.Exit) << c.Arguments.front();
  }
}

// --device links the device to the port in force and opens it; --port chooses this run's port and
// leaves the stored one as it was. --rs485 on a pty, which has no such mode, still opens it.
// Whether a running ozmet has the device open, as /proc shows it.
bool ProgramHolds(const std::string& device)
{
  namespace fs = std::filesystem;
  std::error_code error;
  for (const fs::directory_entry& process : fs::directory_iterator("/proc", error)) {
    if (fs::read_symlink(process.path() / "exe", error).filename() != "ozmet") // a copy beside its Data
      continue;
    for (const fs::directory_entry& fd : fs::directory_iterator(process.path() / "fd", error))
      if (fs::read_symlink(fd.path(), error) == fs::path(device))
        return true;
  }
  return false;
}

TEST_F(OzmetProgram, DeviceAndPortForThisRun)
{
  const std::string device = std::filesystem::canonical(Data + "/COM1").string();
  std::filesystem::remove(Data + "/COM1");
  auto program = StartProgram({"--port", "7", "--device", device, "--rs485"});
  ASSERT_TRUE(PollUntil([&] { return ProgramHolds(device); })) << program->Stderr();
  TSerialDevice probe; // only now: a probe during the program's own open would take the lock from it
  EXPECT_FALSE(probe.Open(device));
  EXPECT_EQ(probe.OpenError(), EWOULDBLOCK) << "the program holds the device alone";
  EXPECT_EQ(std::filesystem::read_symlink(Data + "/COM7").string(), device);
  program->Signal(SIGTERM);
  EXPECT_EQ(program->WaitForExit(10s), 0) << program->Stderr();
  EXPECT_EQ(TPortSettingsFile(Data + "/portp.dat").Load().PortNumber, 1) << "the stored port stays";
}

// ---- Every way of ending, with the motor running: on a real X server, driven by real key presses.

struct TEnding {
  const char* Name;
  int Signal;      // sent to the program; 0: none
  bool KillServer; // the display goes away
  const char* Keys; // pressed in the window instead; nullptr: none
  bool LineDies;   // the controller's line dies first: the "cannot open" box of the worker's step is up
  bool LineBack;   // and comes back 0.3 s after the end began (an adapter plugged in again)
  const char* Says; // the outcome line on standard error; nullptr: none (the motor left as it is)
  int Exit;        // the program's own exit status: never a death by the SIGALRM backstop
};

constexpr const char* Answered = "with the motor possibly running: Stop sent and answered";

const TEnding Endings[] = {
    // Qt ends with exit(1) when the display connection breaks.
    {"DisplayLost", 0, true, nullptr, false, false, Answered, 1},
    {"Sigterm", SIGTERM, false, nullptr, false, false, Answered, 0},
    {"Sighup", SIGHUP, false, nullptr, false, false, Answered, 0},
    {"Sigint", SIGINT, false, nullptr, false, false, Answered, 0},
    {"Quit", 0, false, "ctrl+q", false, false, nullptr, 0}, // the operator chose to leave the motor as it is
    {"SigtermWithABoxOpen", SIGTERM, false, nullptr, true, false,
     "ended by SIGTERM with the motor possibly running: Stop not sent, the line failed and stayed lost for 5 s", 0},
    {"SigtermWithTheLineBack", SIGTERM, false, nullptr, true, true, Answered, 0},
};

class ProgramEnding : public OzmetProgram, public ::testing::WithParamInterface<TEnding> {
protected:
  // xdotool on the test's own X server; true when it succeeded.
  bool XdoTool(const std::vector<std::string>& arguments)
  {
    TChildProcess tool("/usr/bin/xdotool", arguments, {"DISPLAY=" + Display});
    return tool.WaitForExit(10s) == 0;
  }

  std::size_t StopFrames()
  {
    Sim->WaitForOutput(1, "\n\n", 10ms); // collects what came; never found
    std::size_t count = 0;
    for (std::size_t at = 0; (at = Sim->Stderr().find("rx E6 00 52", at)) != std::string::npos; ++at)
      ++count;
    return count;
  }

  std::unique_ptr<TChildProcess> Server =
      std::make_unique<TChildProcess>("/usr/bin/Xvfb", std::vector<std::string>{"-displayfd", "1", "-nolisten", "tcp"});
  const std::string Display = std::string(":").append(Server->FirstLine());
};

TEST_P(ProgramEnding, ReleasesThePortSavesItAndStopsTheMotorUnlessTheOperatorLeftIt)
{
  const TEnding& ending = GetParam();
  const std::string settings = Data + "/portp.dat";
  const auto old = std::filesystem::file_time_type::clock::now() - 1h;
  std::filesystem::last_write_time(settings, old);
  auto program = StartProgram({}, {"DISPLAY=" + Display, "QT_QPA_PLATFORM"});
  ASSERT_TRUE(XdoTool({"search", "--sync", "--onlyvisible", "--name", "^Ozmet v", "windowfocus", "--sync", "key",
                       "F5"}))
      << program->Stderr();
  ASSERT_TRUE(Sim->WaitForOutput(1, "rx E6 00 50 DB")) << "polling a running motor\n" << program->Stderr();
  const std::size_t stopsBefore = StopFrames();
  if (ending.LineDies) {
    Unplug(Data + "/COM1");
    Sim->Signal(SIGKILL);
    ASSERT_TRUE(Sim->WaitForExit());
    // The box's title is the program's name, not the window's.
    ASSERT_TRUE(XdoTool({"search", "--sync", "--onlyvisible", "--name", "^Ozmet - v"})) << program->Stderr();
  }

  if (ending.Signal)
    program->Signal(ending.Signal);
  if (ending.KillServer)
    Server->Signal(SIGKILL);
  if (ending.Keys) {
    ASSERT_TRUE(XdoTool({"key", ending.Keys}));
  }
  if (ending.LineBack) {
    std::this_thread::sleep_for(300ms); // the stimulus: the device is away this long
    StartSim();
  }
  // A lost line is opened again for 5 s, then the close steps: never ended by the backstop.
  EXPECT_EQ(program->WaitForExit(15s), ending.Exit) << "its own end\n" << program->Stderr();
  if (ending.Says) {
    EXPECT_TRUE(program->WaitForOutput(1, ending.Says)) << program->Stderr();
  }
  EXPECT_EQ(program->Stderr().find("did not end"), std::string::npos) << "no end waited on the worker in vain";
  EXPECT_GT(std::filesystem::last_write_time(settings), old) << "the close steps ran";
  if (ending.LineDies && !ending.LineBack)
    return; // no controller left to hear a Stop, no device left to free
  EXPECT_EQ(StopFrames() - (ending.LineBack ? 0 : stopsBefore), ending.Says ? 1u : 0u) << Sim->Stderr();
  TChildProcess status(OZMETCTL_PATH, {"status", "--device", std::filesystem::canonical(Data + "/COM1").string()});
  EXPECT_EQ(status.WaitForExit(), 0) << "the device is free again: " << status.Stderr();
}

INSTANTIATE_TEST_SUITE_P(Every, ProgramEnding, ::testing::ValuesIn(Endings),
                         [](const auto& info) { return info.param.Name; });

} // namespace

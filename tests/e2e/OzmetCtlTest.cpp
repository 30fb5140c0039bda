#include "ChildProcess.h"
#include "OzmCommands.h"
#include "PortSettingsFile.h"
#include "PtyClient.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
// g++ 12 with AddressSanitizer sees an uninitialised std::function inside std::regex: a false alarm.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#include <set>
#include <sstream>

namespace {

using namespace std::chrono_literals;
using TBytes = TPtyClient::TBytes;

const std::string Never(1, '\0'); // never written: waiting for it reads a stream to its end

TBytes Status(std::uint8_t address)
{
  const TStatusRequest request = TOzmCommands::StatusRequestFor(address);
  return {request.begin(), request.end()};
}

TBytes Command(std::uint8_t address, std::uint8_t command, std::uint8_t value)
{
  return {FrameMarker, address, command, value, TOzmCommands::Crc8(3, address, command, value)};
}

// A command that no controller knows, to everyone: the test's own frame that closes a run's frames.
TBytes Sentinel()
{
  return Command(BroadcastAddress, 0x00, 0x5A);
}

// As the simulator logs a frame: "E6 00 50 DB".
std::string Hex(const TBytes& frame)
{
  std::string text;
  for (std::uint8_t byte : frame)
    text += (text.empty() ? "" : " ") + TOzmCommands::HexByte(byte);
  return text;
}

std::vector<std::string> Lines(const std::string& text)
{
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);)
    lines.push_back(line);
  return lines;
}

// A light check that a line is one flat JSON object of the shape ozmetctl writes.
bool IsJsonObject(const std::string& line)
{
  static const std::regex Shape(
      R"(\{"kind":"[a-z-]+"(,"[a-z_]+":(-?[0-9][0-9.e+-]*|true|false|"([^"\\]|\\.)*"))*\})");
  return std::regex_match(line, Shape);
}

constexpr const char* ParameterFile = "# Ozmet console parameters\n"
                                      "[motor]\naddress=$07\nencoder=2\nmax_speed=4000\nratio=2\n"
                                      "[operation]\nspeed=300\nacceleration=12\ndeceleration=6\n"
                                      "direction=backward\nmotion=continuous\ntime=\n";

// ozmetctl in a folder of its own: its Data folder keeps port 1, linked to the simulator, and a COM5
// that leads nowhere; beside it a parameter file for a motor at address 7.
class OzmetCtl : public ::testing::Test {
protected:
  void SetUp() override
  {
    std::filesystem::copy_file(OZMETCTL_PATH, Program);
    std::filesystem::create_directory(Data);
    ASSERT_TRUE(TPortSettingsFile(Data + "/portp.dat").Save(1));
    std::filesystem::create_symlink("/nonexistent/ttyUSB9", Data + "/COM5");
    std::ofstream(Parameters) << ParameterFile;
  }

  void StartSim(std::vector<std::string> arguments)
  {
    arguments.insert(arguments.end(), {"--verbose", "--link", Data + "/COM1"});
    Sim = std::make_unique<TChildProcess>(OZMET_SIM_PATH, arguments);
    Device = Sim->FirstLine();
    ASSERT_FALSE(Device.empty()) << Sim->Stderr();
  }

  std::unique_ptr<TChildProcess> Ctl(std::vector<std::string> arguments)
  {
    for (std::string& argument : arguments)
      argument = argument == "{device}" ? Device : argument == "{file}" ? Parameters : argument;
    return std::make_unique<TChildProcess>(Program, arguments);
  }

  // Every frame the simulator received until now: the test's sentinel frame comes after them all.
  std::vector<std::string> FramesReceived()
  {
    TPtyClient client(Device);
    EXPECT_TRUE(client.Write(Sentinel()));
    const std::string sentinel = "rx " + Hex(Sentinel());
    EXPECT_TRUE(Sim->WaitForOutput(1, sentinel));
    std::vector<std::string> frames;
    for (const std::string& line : Lines(Sim->Stderr().substr(0, Sim->Stderr().find(sentinel))))
      if (const auto at = line.find(" rx "); at != std::string::npos)
        frames.push_back(line.substr(at + 4));
    return frames;
  }

  TTempDir Folder;
  const std::string Program = Folder.Path() + "/ozmetctl";
  const std::string Data = Folder.Path() + "/Data";
  const std::string Parameters = Folder.Path() + "/motor.ini";
  std::unique_ptr<TChildProcess> Sim;
  std::string Device;
};

struct TCtlCase {
  const char* Name;
  std::vector<std::string> Arguments; // {device}: the simulator's device; {file}: the parameter file
  std::vector<TBytes> Frames;         // as the simulator receives them
  int Exit;
  const char* Says = "";   // on standard error
  bool ThenPolls = false;  // status requests to address 0 follow, until the motor stands still
};

void PrintTo(const TCtlCase& c, std::ostream* out)
{
  *out << c.Name;
}

class OzmetCtlCommands : public OzmetCtl, public ::testing::WithParamInterface<TCtlCase> {};

// Controllers at 0, 7 and 9 on the line; 9's answers all carry a bad checksum.
TEST_P(OzmetCtlCommands, SendsTheWindowsFramesAndTellsTheOutcome)
{
  const TCtlCase& c = GetParam();
  StartSim({"--address", "0", "--address", "7", "--address", "9", "--corrupt-address", "9"});
  auto ctl = Ctl(c.Arguments);
  ASSERT_EQ(ctl->WaitForExit(20s), c.Exit);
  ctl->WaitForOutput(0, Never);
  ctl->WaitForOutput(1, Never);
  EXPECT_NE(ctl->Stderr().find(c.Says), std::string::npos) << ctl->Stderr();

  std::vector<std::string> frames = FramesReceived();
  std::vector<std::string> expected;
  for (const TBytes& frame : c.Frames)
    expected.push_back(Hex(frame));
  if (c.ThenPolls) {
    ASSERT_GT(frames.size(), expected.size());
    for (std::size_t i = expected.size(); i < frames.size(); ++i)
      EXPECT_EQ(frames[i], Hex(Status(0))) << "frame " << i;
    frames.resize(expected.size());
  }
  EXPECT_EQ(frames, expected);

  if (std::find(c.Arguments.begin(), c.Arguments.end(), "--json") == c.Arguments.end())
    return;
  EXPECT_FALSE(ctl->Stdout().empty());
  for (const std::string& line : Lines(ctl->Stdout()))
    EXPECT_TRUE(IsJsonObject(line)) << line;
}

const std::vector<TCtlCase> Cases = {
    {"StatusAtTheStoredPort", {"status"}, {Status(0)}, 0},
    {"StopAtPortNumberAndHexAddress", {"--port", "1", "stop", "--address", "$07"}, {Command(7, CmdStop, 0)}, 0},
    {"DirectionOnTheDevice", {"--device", "{device}", "--json", "direction", "backward"},
     {Command(0, CmdSetDirection, 1)}, 0},
    {"SetMotorRoundsTheSpeed", {"set-motor", "--encoder", "100", "--max-speed", "4010", "--json"},
     {Command(0, CmdSetEncoder, 100), Command(0, CmdSetMaxSpeed, 67)}, 0},
    {"RunWithTheWindowsDefaults", {"run", "--speed", "1000"},
     {Command(0, CmdSetAccel, 24), Command(0, CmdSetDecel, 24), Command(0, CmdSetDirection, 0),
      Command(0, CmdSetSpeed, 17), Command(0, CmdRun, 0)}, 0},
    {"RunKeepsBelowTheMaximumAtTheRatio",
     {"run", "--speed", "100", "--ratio", "10", "--max-speed", "1000", "--accel", "5", "--decel", "$0A",
      "--direction", "backward", "--address", "7"},
     {Command(7, CmdSetAccel, 5), Command(7, CmdSetDecel, 10), Command(7, CmdSetDirection, 1),
      Command(7, CmdSetSpeed, 16), Command(7, CmdRun, 0)}, 0},
    {"RunFromAParameterFile", {"run", "--parameters", "{file}"},
     {Command(7, CmdSetAccel, 12), Command(7, CmdSetDecel, 6), Command(7, CmdSetDirection, 1),
      Command(7, CmdSetSpeed, 10), Command(7, CmdRun, 0)}, 0},
    {"OptionsWinOverTheFile", {"run", "--parameters", "{file}", "--speed", "600", "--address", "0"},
     {Command(0, CmdSetAccel, 12), Command(0, CmdSetDecel, 6), Command(0, CmdSetDirection, 1),
      Command(0, CmdSetSpeed, 20), Command(0, CmdRun, 0)}, 0},
    {"SetMotorFromAParameterFile", {"set-motor", "--parameters", "{file}"},
     {Command(7, CmdSetEncoder, 2), Command(7, CmdSetMaxSpeed, 67)}, 0},
    {"TimedRunStopsAndWaitsForStandstill", {"run", "--speed", "600", "--for", "1", "--json"},
     {Command(0, CmdSetAccel, 24), Command(0, CmdSetDecel, 24), Command(0, CmdSetDirection, 0),
      Command(0, CmdSetSpeed, 10), Command(0, CmdRun, 0), Command(0, CmdStop, 0)}, 0, "", true},
    {"WatchCounts", {"watch", "--count", "3", "--interval", "1", "--address", "7"},
     {Status(7), Status(7), Status(7)}, 0},
    {"SetAddressUnattended", {"set-address", "$20", "--wait", "0"},
     {Command(BroadcastAddress, CmdAddressSetBegin, 0x20), Command(BroadcastAddress, CmdAddressSetEnd, 0x20)}, 0,
     "Press the button"},
    {"ScanPassesOverABadChecksum", {"scan", "--from", "6", "--to", "10", "--json"},
     {Status(6), Status(7), Status(8), Status(9), Status(10)}, 0, "$09: an answer with a bad checksum"},
    {"NoAnswer", {"status", "--address", "8", "--json"}, {Status(8)}, 1, "$08: no answer to the status request"},
    {"BadChecksum", {"status", "--address", "9"}, {Status(9)}, 1, "bad checksum in the answer"},
    {"NothingAfterAnUnansweredFrame", {"run", "--speed", "100", "--address", "8"}, {Command(8, CmdSetAccel, 24)}, 1,
     "no answer to command A5"},
    {"ScanFindingNone", {"scan", "--from", "1", "--to", "2"}, {Status(1), Status(2)}, 1, "no controller answered"},
    {"SpeedAboveTheMotors", {"run", "--speed", "20000"}, {}, 2, "Try 'ozmetctl --help'."},
    {"OptionOfAnotherCommand", {"stop", "--speed", "3"}, {}, 2, "--speed does not apply to stop"},
    {"AddressOutOfRange", {"set-address", "255"}, {}, 2, "outside 0..254"},
    {"UnknownCommand", {"spin"}, {}, 2, "unknown command"},
    {"LinkLeadingNowhere", {"--port", "5", "status"}, {}, 3, "links to /nonexistent/ttyUSB9, which is not there"},
    {"NotASerialDevice", {"--device", "/dev/null", "status", "--json"}, {}, 3, "/dev/null is not a serial device."},
};

INSTANTIATE_TEST_SUITE_P(Commands, OzmetCtlCommands, testing::ValuesIn(Cases),
                         [](const testing::TestParamInfo<TCtlCase>& info) { return info.param.Name; });

TEST_F(OzmetCtl, WatchEndsCleanlyOnCtrlC)
{
  StartSim({});
  auto ctl = Ctl({"watch", "--interval", "50"});
  ASSERT_TRUE(ctl->WaitForOutput(0, "total 0\n$00: ")) << "a second answer: " << ctl->Stderr();
  ctl->Signal(SIGINT);
  EXPECT_EQ(ctl->WaitForExit(), 0);
  ctl->WaitForOutput(1, Never);
  EXPECT_EQ(ctl->Stderr(), "");
}

// A timed Run cut short the way a script's run is (Ctrl+C, kill, an SSH session that drops): the
// motor is stopped before ozmetctl ends, never left running.
TEST_F(OzmetCtl, TimedRunCutShortStopsTheMotorFirst)
{
  StartSim({});
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    auto ctl = Ctl({"run", "--speed", "600", "--for", "10"});
    ASSERT_TRUE(Sim->WaitForOutput(1, "rx E6 00 51")) << "the Run went out";
    ctl->Signal(signal);
    EXPECT_TRUE(ctl->WaitForExit()) << signal;
    const std::vector<std::string> frames = FramesReceived();
    const auto code = [](const std::string& frame) { return frame.substr(6, 2); };
    const auto run = std::find_if(frames.begin(), frames.end(), [&](const auto& f) { return code(f) == "51"; });
    EXPECT_TRUE(std::any_of(run, frames.end(), [&](const auto& f) { return code(f) == "52"; }))
        << signal << ": a Stop after the Run";
    Sim = nullptr;
    StartSim({});
  }
}

// The whole bus: the sound controllers at both ends and between, and one whose answers are corrupted,
// which is left out. The timeout leaves a loaded machine some margin; standard error is no terminal,
// so no progress line is written there.
TEST_F(OzmetCtl, ScanFindsExactlyTheSoundControllers)
{
  StartSim({"--address", "0", "--address", "7", "--address", "254", "--address", "9", "--corrupt-address", "9"});
  auto ctl = Ctl({"scan", "--json", "--timeout-ms", "50"});
  ASSERT_EQ(ctl->WaitForExit(60s), 0);
  ctl->WaitForOutput(0, Never);
  ctl->WaitForOutput(1, Never);
  EXPECT_EQ(ctl->Stderr(), "$09: an answer with a bad checksum, not listed\n");
  std::set<std::string> found;
  for (const std::string& line : Lines(ctl->Stdout()))
    if (line.starts_with("{\"kind\":\"status\""))
      found.insert(line.substr(0, line.find(',', line.find("address"))));
  EXPECT_EQ(found, (std::set<std::string>{R"({"kind":"status","address":0)", R"({"kind":"status","address":7)",
                                          R"({"kind":"status","address":254)"}));
  EXPECT_NE(ctl->Stdout().find(R"({"kind":"scan","from":0,"to":254,"found":3})"), std::string::npos);
  std::vector<std::string> everyAddress;
  for (int address = 0; address <= 254; ++address)
    everyAddress.push_back(Hex(Status(static_cast<std::uint8_t>(address))));
  EXPECT_EQ(FramesReceived(), everyAddress);
}

TEST_F(OzmetCtl, SetAddressMovesTheControllerWhoseButtonIsPressed)
{
  StartSim({});
  auto ctl = Ctl({"set-address", "$2A"});
  ASSERT_TRUE(ctl->WaitForOutput(1, "Press the button"));
  ASSERT_TRUE(Sim->WriteStdin("button\n"));
  ASSERT_TRUE(Sim->WaitForOutput(1, "command button"));
  ASSERT_TRUE(ctl->WriteStdin("\n"));
  ASSERT_EQ(ctl->WaitForExit(), 0);
  EXPECT_EQ(Ctl({"status", "--address", "42"})->WaitForExit(), 0);
  EXPECT_EQ(Ctl({"status", "--address", "0"})->WaitForExit(), 1);
}

} // namespace

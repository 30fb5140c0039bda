#include "ChildProcess.h"
#include "LoopbackPeer.h"
#include "OzmCommands.h"
#include "PortSettingsFile.h"
#include "PtyClient.h"
#include "Ser2net.h"
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
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
    text.append(text.empty() ? "" : " ").append(TOzmCommands::HexByte(byte));
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
      R"(\{"kind":"[a-z-]+","time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z")"
      R"((,"[a-z_]+":(-?[0-9][0-9.e+-]*|true|false|"([^"\\]|\\.)*"|\[(\d+(,\d+)*)?\]))*\})");
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
  bool ThenPolls = false;  // status requests to address 0 come between and after, until the motor stands still
  const char* Prints = ""; // on standard output
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

  EXPECT_NE(ctl->Stdout().find(c.Prints), std::string::npos) << ctl->Stdout();

  std::vector<std::string> frames = FramesReceived();
  std::vector<std::string> expected;
  for (const TBytes& frame : c.Frames)
    expected.push_back(Hex(frame));
  if (c.ThenPolls) {
    const std::size_t all = frames.size();
    std::erase(frames, Hex(Status(0)));
    EXPECT_GT(all, frames.size()) << "no status requests";
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
      Command(0, CmdSetSpeed, 10), Command(0, CmdRun, 0), Command(0, CmdStop, 0)}, 0, "", true,
     "\"polls\":1,\"missed\":0}"},
    {"WatchCounts", {"watch", "--count", "3", "--interval", "1", "--address", "7"},
     {Status(7), Status(7), Status(7)}, 0},
    {"SetAddressNobodyPressed", {"set-address", "$20", "--wait", "1"},
     {Status(0x20), Command(BroadcastAddress, CmdAddressSetBegin, 0x20),
      Command(BroadcastAddress, CmdAddressSetEnd, 0x20), Status(0x20)}, 1, "no controller answers at $20 after"},
    {"SetAddressWhereAControllerAnswers", {"set-address", "7"}, {Status(7)}, 2, "already answers at $07"},
    {"SetAddressForcedWhereAControllerAnswers", {"set-address", "7", "--wait", "1", "--force"},
     {Status(7), Command(BroadcastAddress, CmdAddressSetBegin, 7), Command(BroadcastAddress, CmdAddressSetEnd, 7)}, 0,
     "Press the button"},
    // Each address that answers is asked again with the whole answer time before it is listed.
    {"ScanListsABadChecksum", {"scan", "--from", "6", "--to", "10", "--json"},
     {Status(6), Status(7), Status(7), Status(8), Status(9), Status(9), Status(10)}, 0},
    {"NoAnswer", {"status", "--address", "8", "--json"}, {Status(8)}, 1,
     "no answer to the status request (50) from $08 on /tmp/", false, "\"exit\":1"},
    {"NoAnswerNamesTheLinkThenTheDevice", {"status", "--address", "8"}, {Status(8)}, 1, "/Data/COM1 (/dev/pts/"},
    {"BadChecksum", {"status", "--address", "9"}, {Status(9)}, 1, "bad checksum in the answer to the status request"},
    {"NothingAfterAnUnansweredFrame", {"run", "--speed", "100", "--address", "8"}, {Command(8, CmdSetAccel, 24)}, 1,
     "no answer to set acceleration (A5) from $08"},
    {"ScanFindingNone", {"scan", "--from", "1", "--to", "2"}, {Status(1), Status(2)}, 1, "no controller answered"},
    {"RoundedSpeedIsSaid", {"run", "--speed", "29"},
     {Command(0, CmdSetAccel, 24), Command(0, CmdSetDecel, 24), Command(0, CmdSetDirection, 0),
      Command(0, CmdSetSpeed, 0), Command(0, CmdRun, 0)}, 0, "speed 29 rpm asked, 0 rpm sent"},
    {"RoundedMaximumIsSaid", {"set-motor", "--encoder", "2", "--max-speed", "1000"},
     {Command(0, CmdSetEncoder, 2), Command(0, CmdSetMaxSpeed, 17)}, 0, "maximum speed 1000 rpm asked, 1020 rpm sent"},
    {"StrictRefusesAClampedSpeed", {"run", "--speed", "4001", "--strict"}, {}, 2, "--strict refuses it"},
    // The window's one step down leaves a speed above the maximum: said, and what the frame carries.
    {"SpeedAboveTheMaximumIsSaid", {"run", "--speed", "5000"},
     {Command(0, CmdSetAccel, 24), Command(0, CmdSetDecel, 24), Command(0, CmdSetDirection, 0),
      Command(0, CmdSetSpeed, 82), Command(0, CmdRun, 0)}, 0,
     "speed 5000 rpm asked, 4920 rpm sent (82 rev/s of the motor: above the maximum speed of 67 rev/s"},
    {"OutputSpeedRoundedAtTheRatio", {"run", "--speed", "100", "--ratio", "12.5", "--max-speed", "15000", "--json"},
     {Command(0, CmdSetAccel, 24), Command(0, CmdSetDecel, 24), Command(0, CmdSetDirection, 0),
      Command(0, CmdSetSpeed, 21), Command(0, CmdRun, 0)}, 0, "100 rpm asked, 100.8 rpm sent", false,
     "\"output_speed_rpm\":100.8,"},
    {"StrictRefusesARoundingAtTheRatio", {"run", "--speed", "100", "--ratio", "12.5", "--max-speed", "15000", "--strict"},
     {}, 2, "100 rpm asked, 100.8 rpm sent"},
    // run sends no maximum: nothing is said of it, and --strict has nothing to refuse.
    {"RunSaysNothingOfAMaximumItDoesNotSend", {"run", "--speed", "600", "--max-speed", "4000", "--strict"},
     {Command(0, CmdSetAccel, 24), Command(0, CmdSetDecel, 24), Command(0, CmdSetDirection, 0),
      Command(0, CmdSetSpeed, 10), Command(0, CmdRun, 0)}, 0},
    {"StrictSetMotorSendsNothing", {"set-motor", "--encoder", "2", "--max-speed", "1000", "--strict"}, {}, 2,
     "--strict refuses it"},
    {"WatchCsvRowsForEveryRequest", {"watch", "--csv", "--count", "2", "--interval", "1", "--address", "8"},
     {Status(8), Status(8)}, 1, "no sound answer", false,
     "time,address,output_speed_rpm,motor_speed_rps,feedback,direction,count,total,overflow,answer\n"},
    {"WatchCsvMissedRow", {"watch", "--csv", "--count", "1", "--address", "9"}, {Status(9)}, 1, "", false,
     ",9,,,,,,,,bad-checksum\n"},
    {"CsvOrJson", {"watch", "--csv", "--json"}, {}, 2, "--csv and --json: give one of them"},
    {"NonUtf8DeviceUnderJson", {"--device", "/dev/\xff\xfe", "status", "--json"}, {}, 3, "", false,
     "/dev/\\u00ff\\u00fe"},
    {"WatchGoesOnPastBadAnswersThenGivesUp", {"watch", "--interval", "1", "--address", "9", "--max-failures", "3"},
     {Status(9), Status(9), Status(9)}, 1, "bad checksum in the answer to the status request (50) from $09"},
    {"WatchCountedWithoutOneSoundAnswer", {"watch", "--interval", "1", "--address", "8", "--count", "2", "--json"},
     {Status(8), Status(8)}, 1, "no sound answer"},
    {"ShortOptionsAndTheEndOfOptions", {"-q", "-v", "--", "status"}, {Status(0)}, 0, " tx $E6$00$50"},
    {"StopRetriedAtAnotherAddress", {"stop", "--address", "8", "--retries", "1"},
     {Command(8, CmdStop, 0), Command(8, CmdStop, 0)}, 1, "sent 2 times: the motor may still run"},
    {"SpeedAboveTheMotors", {"run", "--speed", "20000"}, {}, 2, "Try 'ozmetctl --help'."},
    {"OptionOfAnotherCommand", {"stop", "--speed", "3"}, {}, 2, "--speed does not apply to stop"},
    {"DevicesOpenNoPort", {"devices", "--port", "3"}, {}, 2, "--port does not apply to devices"},
    {"AddressOutOfRange", {"set-address", "255"}, {}, 2, "NEW: \"255\" is outside 0..254"},
    {"AccelerationOutOfRange", {"run", "--speed", "5", "--accel", "30"}, {}, 2, "--accel: \"30\" is outside 1..24"},
    {"UnknownCommand", {"spin"}, {}, 2, "unknown command"},
    {"LinkLeadingNowhere", {"--port", "5", "status"}, {}, 3, "links to /nonexistent/ttyUSB9, which is not there"},
    {"NotASerialDevice", {"--device", "/dev/null", "status", "--json"}, {}, 3, "/dev/null is not a serial device."},
    {"ADirectory", {"--device", "/tmp", "status"}, {}, 3, "/tmp is a directory, not a serial device."},
    {"EmptyDevice", {"--device", "", "status"}, {}, 2, "--device needs a device path"},
    {"RatioWithoutFiniteSpeeds", {"status", "--ratio", "1e-306"}, {}, 2, "--ratio: \"1e-306\" is too small"},
    {"NoTimeToPressTheButton", {"set-address", "5", "--wait", "0"}, {}, 2, "--wait: \"0\" is outside 1..3600"},
    {"RefusedUnderJson", {"spin", "--json"}, {}, 2, "unknown command"},
    {"UnknownShortOption", {"-x", "status"}, {}, 2, "unknown option -x"},
    // Each option's top value is taken (the port then fails: 3), one above it refused (2).
    {"TopPort", {"--port", "255", "status"}, {}, 3, "/dev/ttyS254"},
    {"AboveTopPort", {"--port", "256", "status"}, {}, 2, "--port: \"256\""},
    {"TopAddressScanned", {"--port", "5", "scan", "--to", "254"}, {}, 3, "ttyUSB9"},
    {"AboveTopAddressScanned", {"--port", "5", "scan", "--to", "255"}, {}, 2, "--to: \"255\""},
    {"TopBaud", {"--port", "5", "--baud", "115200", "status"}, {}, 3, "ttyUSB9"},
    {"AboveTopBaud", {"--port", "5", "--baud", "115201", "status"}, {}, 2, "--baud: \"115201\""},
    {"TopDataBits", {"--port", "5", "--data-bits", "8", "status"}, {}, 3, "ttyUSB9"},
    {"AboveTopDataBits", {"--port", "5", "--data-bits", "9", "status"}, {}, 2, "--data-bits: \"9\""},
};

INSTANTIATE_TEST_SUITE_P(Commands, OzmetCtlCommands, testing::ValuesIn(Cases),
                         [](const testing::TestParamInfo<TCtlCase>& info) { return info.param.Name; });

// Every option of run with a value it refuses, alone and beside --for: nothing reaches the line,
// whichever option comes last.
TEST_F(OzmetCtl, RefusedRunSendsNothing)
{
  StartSim({});
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"--retries", "11"}, "--retries: \"11\" is outside 0..10"},
      {{"--address", "255"}, "--address: \"255\""},
      {{"--accel", "0"}, "--accel: \"0\""},
      {{"--decel", "25"}, "--decel: \"25\""},
      {{"--direction", "up"}, "--direction: \"up\""},
      {{"--max-speed", "15001"}, "--max-speed: \"15001\""},
      {{"--ratio", "0"}, "--ratio: \"0\""},
      {{"--speed", "x"}, "--speed: \"x\""},
      {{"--parameters", "/nonexistent/motor.ini"}, "--parameters: "},
      {{"--baud", "1234"}, "--baud: \"1234\""},
      {{"--data-bits", "4"}, "--data-bits: \"4\""},
      {{"--parity", "big"}, "--parity: \"big\""},
      {{"--stop-bits", "3"}, "--stop-bits: \"3\""},
      {{"--port", "0"}, "--port: \"0\""},
      {{"--strict", "--speed", "4001"}, "--strict refuses it"},
  };
  for (const auto& [option, says] : refused)
    for (const bool timed : {false, true}) {
      std::vector<std::string> arguments{"run", "--speed", "600"};
      if (timed)
        arguments.insert(arguments.end(), {"--for", "1"});
      arguments.insert(arguments.end(), option.begin(), option.end());
      auto ctl = Ctl(arguments);
      EXPECT_EQ(ctl->WaitForExit(), 2) << option[0];
      ctl->WaitForOutput(1, Never);
      EXPECT_NE(ctl->Stderr().find(says), std::string::npos) << ctl->Stderr();
    }
  auto timedOut = Ctl({"run", "--speed", "600", "--for", "0"});
  EXPECT_EQ(timedOut->WaitForExit(), 2);
  EXPECT_EQ(FramesReceived(), std::vector<std::string>{});
}

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

// The two-digit code of each frame the simulator received, in order.
std::vector<std::string> Codes(const std::vector<std::string>& frames)
{
  std::vector<std::string> codes;
  for (const std::string& frame : frames)
    codes.push_back(frame.substr(6, 2));
  return codes;
}

bool StopFollowsRun(const std::vector<std::string>& codes)
{
  const auto run = std::find(codes.begin(), codes.end(), "51");
  return run != codes.end() && std::find(run, codes.end(), "52") != codes.end();
}

struct TCutCase {
  const char* Name;
  int Signal;
  std::vector<std::string> Simulator; // its faults
  const char* After;                  // the simulator's line that the signal waits for
  bool RunWent;                       // the Run reached the controller before the signal
  std::vector<std::string> Extra{};   // more options of the run
  const char* Says = "";              // on standard error
  const char* Script = nullptr;       // the script run instead, from standard input
  bool Timed = true;                  // the run has --for
};

void PrintTo(const TCutCase& c, std::ostream* out)
{
  *out << c.Name;
}

class OzmetCtlCut : public OzmetCtl, public ::testing::WithParamInterface<TCutCase> {};

// A timed Run cut short the way a script's run is (Ctrl+C, kill, an SSH session that drops, a reader
// that went away), at each phase: the frames not yet sent stay unsent, and once the Run went, the
// motor is stopped before ozmetctl ends, never left running. The exit status names the signal.
TEST_P(OzmetCtlCut, NeverLeavesTheMotorRunning)
{
  const TCutCase& c = GetParam();
  StartSim(c.Simulator);
  std::vector<std::string> arguments{"run", "--speed", "600"};
  if (c.Timed)
    arguments.insert(arguments.end(), {"--for", "10"});
  arguments.insert(arguments.end(), c.Extra.begin(), c.Extra.end());
  auto ctl = Ctl(c.Script ? std::vector<std::string>{"script", "-"} : arguments);
  if (c.Script) {
    ASSERT_TRUE(ctl->WriteStdin(c.Script));
    ctl->CloseStdin();
  }
  ASSERT_TRUE(Sim->WaitForOutput(1, c.After)) << Sim->Stderr();
  ctl->Signal(c.Signal);
  EXPECT_EQ(ctl->WaitForExit(), 128 + c.Signal);
  ctl->WaitForOutput(1, Never);
  EXPECT_NE(ctl->Stderr().find(c.Says), std::string::npos) << ctl->Stderr();
  const std::vector<std::string> codes = Codes(FramesReceived());
  EXPECT_EQ(StopFollowsRun(codes), c.RunWent) << ctl->Stderr();
  if (!c.RunWent) {
    EXPECT_EQ(std::count(codes.begin(), codes.end(), "51"), 0) << "the frames after the interrupt were not sent";
  }
}

const TCutCase CutCases[] = {
    {"SigintWhileSending", SIGINT, {"--delay", "200"}, "rx E6 00 A5", false},
    {"SigtermWhileSending", SIGTERM, {"--delay", "200"}, "rx E6 00 A6", false},
    {"SigintWhileRunning", SIGINT, {}, "rx E6 00 51", true},
    {"SigtermWhileRunning", SIGTERM, {}, "rx E6 00 51", true},
    {"SighupWhileRunning", SIGHUP, {}, "rx E6 00 51", true},
    {"SigpipeWhileRunning", SIGPIPE, {}, "rx E6 00 51", true},
    {"SighupWhileTheRunIsAnswered", SIGHUP, {"--late-once", "51:250"}, "rx E6 00 51", true},
    {"SigintWhileTheRunIsAnswered", SIGINT, {"--delay", "200"}, "rx E6 00 51", true},
    {"SigtermWhileTheRunIsAnswered", SIGTERM, {"--delay", "200"}, "rx E6 00 51", true},
    {"SigintWhileAnUntimedRunIsAnswered", SIGINT, {"--delay", "200"}, "rx E6 00 51", true, {}, "", nullptr, false},
    // The speed's answer leaves the controller: the signal lands in the pause before the Run.
    {"SigintInThePauseBeforeTheRun", SIGINT, {}, "tx 00 A3", false},
    {"SigintAndTheStopUnanswered", SIGINT, {"--late-once", "52:600"}, "rx E6 00 51", true, {"--retries", "0"},
     "sent once: the motor may still run"},
    {"SigintInAScriptsWatchAfterItsRun", SIGINT, {}, "rx E6 00 50", true, {}, "the script was cut short",
     "run --speed 600\nwatch --interval 50\n"},
};

INSTANTIATE_TEST_SUITE_P(Phases, OzmetCtlCut, testing::ValuesIn(CutCases),
                         [](const testing::TestParamInfo<TCutCase>& info) { return info.param.Name; });

struct TFaultCase {
  const char* Name;
  std::vector<std::string> Simulator;
  std::vector<std::string> Arguments;
  int Exit;
  std::size_t Stops; // Stop frames received
  const char* Says;
};

void PrintTo(const TFaultCase& c, std::ostream* out)
{
  *out << c.Name;
}

class OzmetCtlFaults : public OzmetCtl, public ::testing::WithParamInterface<TFaultCase> {};

// A Run whose answer went missing or came damaged may still have reached the controller: Stop goes
// out, and again while it is not answered.
TEST_P(OzmetCtlFaults, StopsAfterARunThatMayHaveReachedTheController)
{
  const TFaultCase& c = GetParam();
  StartSim(c.Simulator);
  auto ctl = Ctl(c.Arguments);
  EXPECT_EQ(ctl->WaitForExit(20s), c.Exit);
  ctl->WaitForOutput(1, Never);
  EXPECT_NE(ctl->Stderr().find(c.Says), std::string::npos) << ctl->Stderr();
  const std::vector<std::string> codes = Codes(FramesReceived());
  EXPECT_EQ(static_cast<std::size_t>(std::count(codes.begin(), codes.end(), "52")), c.Stops);
  if (c.Stops > 0) {
    EXPECT_TRUE(StopFollowsRun(codes));
  }
}

const TFaultCase FaultCases[] = {
    {"RunAnswerMissing", {"--late-once", "51:600"}, {"run", "--speed", "600", "--for", "1"}, 1, 1,
     "no answer to run (51)"},
    {"RunAnswerDamaged", {"--drop-byte", "5"}, {"run", "--speed", "600"}, 1, 1, "bad checksum in the answer to run"},
    {"StopAnsweredAtTheSecondTry", {"--late-once", "52:600"}, {"run", "--speed", "600", "--for", "1"}, 0, 2,
     "no answer to stop (52) from $00 on "},
    // The answer's wire time counts as the request's: 300 baud and a controller that takes 250 ms.
    {"SlowLineAndSlowController", {"--baud", "300", "--delay", "250"}, {"status", "--baud", "300"}, 0, 0, ""},
    // Only failures in a row end a watch.
    {"WatchPastScatteredBadAnswers", {"--corrupt-every", "2"},
     {"watch", "--count", "6", "--interval", "1", "--max-failures", "2"}, 0, 0, "(3 missed)"},
    {"StopNeverAnswered", {"--late-once", "52:600"}, {"run", "--speed", "600", "--for", "1", "--retries", "0"}, 1, 1,
     "sent once: the motor may still run"},
};

INSTANTIATE_TEST_SUITE_P(Faults, OzmetCtlFaults, testing::ValuesIn(FaultCases),
                         [](const testing::TestParamInfo<TFaultCase>& info) { return info.param.Name; });

// A timed run waits its time before the Stop and then for standstill: the last state told is speed 0.
TEST_F(OzmetCtl, TimedRunStopsAfterItsTimeAndEndsAtStandstill)
{
  StartSim({});
  auto ctl = Ctl({"run", "--speed", "600", "--for", "1", "--json"});
  ASSERT_EQ(ctl->WaitForExit(20s), 0);
  ctl->WaitForOutput(0, Never);
  const std::vector<std::string> lines = Lines(ctl->Stdout());
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("\"output_speed_rpm\":0,"), std::string::npos) << lines.back();
  FramesReceived();
  // The simulator logs "HH:MM:SS.mmm rx ...": the Stop leaves at least a second after the Run.
  const auto timeOf = [&](const std::string& frame) {
    const std::string& log = Sim->Stderr();
    const std::size_t at = log.rfind('\n', log.find(" rx " + frame)) + 1;
    return std::stod(log.substr(at + 6, 6)) + 60 * std::stod(log.substr(at + 3, 2));
  };
  EXPECT_GE(timeOf(Hex(Command(0, CmdStop, 0))) - timeOf(Hex(Command(0, CmdRun, 0))), 1.0);
}

// The addresses of the status objects among JSON lines.
std::set<int> StatusAddresses(const std::string& output)
{
  std::set<int> found;
  static const std::regex Address(R"(^\{"kind":"status",.*"address":(\d+),)");
  for (const std::string& line : Lines(output))
    if (std::smatch match; std::regex_search(line, match, Address))
      found.insert(std::stoi(match[1]));
  return found;
}

// The whole bus: the sound controllers at both ends and between, and one whose answers are corrupted,
// listed as such. Each that answered is asked once more before it is listed. The timeout leaves a
// loaded machine some margin; standard error is no terminal, so no progress line is written there.
TEST_F(OzmetCtl, ScanFindsExactlyTheSoundControllers)
{
  StartSim({"--address", "0", "--address", "7", "--address", "254", "--address", "9", "--corrupt-address", "9"});
  auto ctl = Ctl({"scan", "--json", "--timeout-ms", "50"});
  ASSERT_EQ(ctl->WaitForExit(60s), 0);
  ctl->WaitForOutput(0, Never);
  ctl->WaitForOutput(1, Never);
  EXPECT_EQ(ctl->Stderr(), "");
  EXPECT_EQ(StatusAddresses(ctl->Stdout()), (std::set<int>{0, 7, 254}));
  EXPECT_NE(ctl->Stdout().find(R"("from":0,"to":254,"found":[0,7,254],"bad_checksum":[9],"interrupted":false})"),
            std::string::npos)
      << ctl->Stdout();
  std::vector<std::string> expected;
  for (int address = 0; address <= 254; ++address)
    for (int times = 0; times < (address == 0 || address == 7 || address == 9 || address == 254 ? 2 : 1); ++times)
      expected.push_back(Hex(Status(static_cast<std::uint8_t>(address))));
  EXPECT_EQ(FramesReceived(), expected);
}

struct TLateScanCase {
  const char* Name;
  std::vector<std::string> Simulator;
  std::vector<std::string> Scan;
  std::set<int> Found;
};

void PrintTo(const TLateScanCase& c, std::ostream* out)
{
  *out << c.Name;
}

class OzmetCtlLateScan : public OzmetCtl, public ::testing::WithParamInterface<TLateScanCase> {};

// Answers carry no address: a late answer taken for the next address's is no controller there, and
// the address that owed it is asked again, so every controller that answers within the protocol's
// time is found once, with no phantom beside it.
TEST_P(OzmetCtlLateScan, FindsEachLateControllerWhereItIs)
{
  const TLateScanCase& c = GetParam();
  StartSim(c.Simulator);
  std::vector<std::string> arguments{"scan", "--json"};
  arguments.insert(arguments.end(), c.Scan.begin(), c.Scan.end());
  auto ctl = Ctl(arguments);
  ASSERT_EQ(ctl->WaitForExit(60s), 0) << ctl->Stderr();
  ctl->WaitForOutput(0, Never);
  EXPECT_EQ(StatusAddresses(ctl->Stdout()), c.Found) << ctl->Stdout();
}

const TLateScanCase LateScanCases[] = {
    {"TwoLatePastAShortWait", {"--address", "1", "--address", "2", "--delay", "95"},
     {"--from", "0", "--to", "4", "--timeout-ms", "30"}, {1, 2}},
    {"OneAnswering100msLate", {"--address", "5", "--delay", "100"}, {"--from", "0", "--to", "10"}, {5}},
    {"OneAnswering100msLatePastAShortWait", {"--address", "5", "--delay", "100"},
     {"--from", "0", "--to", "10", "--timeout-ms", "20"}, {5}},
    {"OneAnswering290msLate", {"--address", "9", "--delay", "290"}, {"--from", "0", "--to", "15"}, {9}},
    {"MixedBus", {"--address", "5:delay=100", "--address", "6", "--address", "9:delay=290", "--address",
                  "200:jitter=250"}, {"--from", "0", "--to", "210"}, {5, 6, 9, 200}},
    {"MixedBusPastAShortWait", {"--address", "5:delay=100", "--address", "6", "--address", "9:delay=290",
                                "--address", "200:jitter=250"}, {"--from", "0", "--to", "210", "--timeout-ms", "25"},
     {5, 6, 9, 200}},
};

INSTANTIATE_TEST_SUITE_P(Scans, OzmetCtlLateScan, testing::ValuesIn(LateScanCases),
                         [](const testing::TestParamInfo<TLateScanCase>& info) { return info.param.Name; });

// Cut short, a scan says the range it covered, marks itself so, and exits with the signal's status.
TEST_F(OzmetCtl, InterruptedScanTellsWhatItCovered)
{
  StartSim({"--address", "3"});
  auto ctl = Ctl({"scan", "--json"});
  ASSERT_TRUE(Sim->WaitForOutput(1, "rx " + Hex(Status(20))));
  ctl->Signal(SIGINT);
  EXPECT_EQ(ctl->WaitForExit(), 130);
  ctl->WaitForOutput(0, Never);
  const std::vector<std::string> frames = FramesReceived();
  ASSERT_FALSE(frames.empty());
  const int last = std::stoi(frames.back().substr(3, 2), nullptr, 16);
  EXPECT_NE(ctl->Stdout().find(R"("from":0,"to":)" + std::to_string(last) + R"(,"found":[3],"bad_checksum":[],)"
                               R"("interrupted":true})"),
            std::string::npos)
      << ctl->Stdout();
}

// A reader of the output that goes away mid-run cuts the run at once, as the SIGPIPE of the next write
// would: the motor is stopped and the status is a closed output's.
TEST_F(OzmetCtl, ClosedOutputCutsATimedRunAtOnce)
{
  StartSim({});
  TChildProcess pipeline("/bin/bash", {"-c", "set -o pipefail; '" + Program +
                                                 "' run --speed 600 --for 20 | head -c 1 >/dev/null"});
  EXPECT_EQ(pipeline.WaitForExit(), 128 + SIGPIPE) << pipeline.Stderr();
  EXPECT_TRUE(StopFollowsRun(Codes(FramesReceived())));
}

// A bench held by a timed run is stopped from a second terminal: the run is asked to end (it stops
// the motor on that way out), then the second ozmetctl sends its own Stop and says both.
TEST_F(OzmetCtl, StopTakesOverTheLineFromARunningOzmetctl)
{
  StartSim({});
  auto run = Ctl({"run", "--speed", "600", "--for", "3600"});
  ASSERT_TRUE(Sim->WaitForOutput(1, "rx " + Hex(Command(0, CmdRun, 0))));
  auto stop = Ctl({"stop"});
  EXPECT_EQ(stop->WaitForExit(), 0) << stop->Stderr();
  EXPECT_EQ(run->WaitForExit(), 128 + SIGTERM);
  stop->WaitForOutput(0, Never);
  EXPECT_NE(stop->Stdout().find("ozmetctl (pid "), std::string::npos) << stop->Stdout();
  EXPECT_NE(stop->Stdout().find("was asked to end and ended; $00: stopped, Stop answered"), std::string::npos);
  const std::vector<std::string> codes = Codes(FramesReceived());
  EXPECT_EQ(std::count(codes.begin(), codes.end(), "52"), 2) << "the run's own Stop and the second one";
}

// The line gone under a timed run is said at once, not at the run's end; the line that comes back
// (the simulator again behind the same link, as an adapter plugged in again) gets the Stop.
TEST_F(OzmetCtl, LineLostUnderATimedRunIsSaidAndGetsItsStopWhenItComesBack)
{
  StartSim({});
  auto run = Ctl({"run", "--speed", "600", "--for", "20"});
  ASSERT_TRUE(Sim->WaitForOutput(1, "rx " + Hex(Status(0))));
  Sim = nullptr;
  ASSERT_TRUE(run->WaitForOutput(1, "the motor may still be running")) << run->Stderr();
  StartSim({});
  EXPECT_EQ(run->WaitForExit(), 1);
  run->WaitForOutput(1, Never);
  EXPECT_NE(run->Stderr().find("the Stop was answered once the line was open again"), std::string::npos)
      << run->Stderr();
  EXPECT_EQ(FramesReceived(), std::vector<std::string>{Hex(Command(0, CmdStop, 0))});
}

// Another program reading the same device takes answers away: said before anything else, the
// simulator (the far end of the pseudo-terminal) never named.
TEST_F(OzmetCtl, ADeviceSharedWithAnotherProgramIsSaid)
{
  StartSim({});
  auto status = Ctl({"status", "--json"});
  EXPECT_EQ(status->WaitForExit(), 0);
  status->WaitForOutput(1, Never);
  EXPECT_EQ(status->Stderr(), "");
  TChildProcess other("/bin/sh", {"-c", "exec 3<>" + Device + "; echo held; exec sleep 30"});
  ASSERT_TRUE(other.WaitForOutput(0, "held"));
  auto shared = Ctl({"status", "--json"});
  shared->WaitForExit();
  shared->WaitForOutput(0, Never);
  EXPECT_NE(shared->Stdout().find("{\"kind\":\"shared\""), std::string::npos) << shared->Stdout();
  EXPECT_NE(shared->Stdout().find("is also open in sleep (pid "), std::string::npos) << shared->Stdout();
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

namespace {

// Standard input at its end, as under cron, systemd or CI, does not cut the wait short: the button
// pressed a second later still counts, and success is told only once the controller answers there.
TEST_F(OzmetCtl, SetAddressWaitsOutItsTimeWithStandardInputAtItsEnd)
{
  StartSim({});
  auto ctl = Ctl({"set-address", "$2A", "--wait", "3"});
  ctl->CloseStdin();
  ASSERT_TRUE(ctl->WaitForOutput(1, "Press the button"));
  ASSERT_TRUE(Sim->WaitForOutput(1, "rx " + Hex(Command(BroadcastAddress, CmdAddressSetBegin, 0x2A))));
  ASSERT_FALSE(ctl->WaitForExit(1s)) << "still waiting a second later";
  ASSERT_TRUE(Sim->WriteStdin("button\n"));
  EXPECT_EQ(ctl->WaitForExit(), 0) << ctl->Stderr();
  ctl->WaitForOutput(0, Never);
  EXPECT_NE(ctl->Stdout().find("address $2A given"), std::string::npos);
}

TEST_F(OzmetCtl, InterruptedSetAddressEndsTheProcedureAndSaysSo)
{
  StartSim({});
  auto ctl = Ctl({"set-address", "$2A"});
  ASSERT_TRUE(ctl->WaitForOutput(1, "Press the button"));
  ctl->Signal(SIGINT);
  EXPECT_EQ(ctl->WaitForExit(), 130);
  ctl->WaitForOutput(1, Never);
  EXPECT_NE(ctl->Stderr().find("the address procedure was ended early"), std::string::npos) << ctl->Stderr();
  EXPECT_EQ(FramesReceived().back(), Hex(Command(BroadcastAddress, CmdAddressSetEnd, 0x2A)));
  EXPECT_EQ(ctl->Stdout(), "");
}

// One open port for the whole script; a failing line ends it unless --keep-going, and the exit
// status is the first failure's.
TEST_F(OzmetCtl, ScriptStopsAtTheFirstFailingLine)
{
  StartSim({});
  const std::string script = Folder.Path() + "/bench.txt";
  std::ofstream(script) << "# a bench's steps\nstatus\n\nstatus --address \"8\"   # nobody there\nstop\n";
  for (const bool keepGoing : {false, true}) {
    std::vector<std::string> arguments{"--device", "{device}", "script", script};
    if (keepGoing)
      arguments.push_back("--keep-going");
    auto ctl = Ctl(arguments);
    EXPECT_EQ(ctl->WaitForExit(10s), 1);
    ctl->WaitForOutput(1, Never);
    EXPECT_NE(ctl->Stderr().find("bench.txt line 4: no answer to the status request (50) from $08 on " + Device),
              std::string::npos)
        << ctl->Stderr();
    std::vector<std::string> expected{Hex(Status(0)), Hex(Status(8))};
    if (keepGoing)
      expected.push_back(Hex(Command(0, CmdStop, 0)));
    EXPECT_EQ(FramesReceived(), expected);
    Sim = nullptr;
    StartSim({});
  }
}

// The whole script is checked first: a line refused further down sends nothing at all, the Run
// above it included.
TEST_F(OzmetCtl, RefusedScriptSendsNothing)
{
  StartSim({});
  for (const std::string bad : {"status --retries 3", "run --speed 600 --for 1 --retries 11", "stop 'unclosed"}) {
    auto ctl = Ctl({"--device", "{device}", "script", "-"});
    ASSERT_TRUE(ctl->WriteStdin("run --speed 600\nstatus\n" + bad + "\n"));
    ctl->CloseStdin();
    EXPECT_EQ(ctl->WaitForExit(), 2);
    ctl->WaitForOutput(1, Never);
    EXPECT_NE(ctl->Stderr().find("- line 3: "), std::string::npos) << ctl->Stderr();
    EXPECT_EQ(ctl->Stderr().find("Try 'ozmetctl --help'"), std::string::npos) << ctl->Stderr();
  }
  EXPECT_EQ(FramesReceived(), std::vector<std::string>{});
}

TEST_F(OzmetCtl, ScriptLinesMayNotChooseAnotherPort)
{
  StartSim({});
  auto ctl = Ctl({"--device", "{device}", "script", "-"});
  ASSERT_TRUE(ctl->WriteStdin("status --port 3\n"));
  ctl->CloseStdin();
  EXPECT_EQ(ctl->WaitForExit(), 2);
  ctl->WaitForOutput(1, Never);
  EXPECT_NE(ctl->Stderr().find("- line 1: --port belongs before the script"), std::string::npos) << ctl->Stderr();
}

} // namespace

namespace {

struct TNetworkCase {
  const char* Name;
  std::vector<std::string> Simulator;
  std::vector<std::string> Arguments; // {raw}, {telnet}: ser2net's two accepters on the simulator
  int Exit;
  const char* Prints; // on standard output, or standard error for a failure
  bool Busy = false;  // another client holds the raw port, and so the device, first
};

void PrintTo(const TNetworkCase& c, std::ostream* out)
{
  *out << c.Name;
}

class OzmetCtlNetwork : public OzmetCtl, public ::testing::WithParamInterface<TNetworkCase> {};

// The simulator's line at a serial device server: the frames and the checks are those of a device,
// and only the Telnet accepter carries the line settings to the far end.
TEST_P(OzmetCtlNetwork, DrivesALineAtASerialDeviceServer)
{
  const TNetworkCase& c = GetParam();
  StartSim(c.Simulator);
  TSer2net server(Device);
  ASSERT_TRUE(server.Start());
  std::vector<std::string> arguments = c.Arguments;
  for (std::string& argument : arguments)
    argument = argument == "{raw}" ? server.RawUrl() : argument == "{telnet}" ? server.Rfc2217Url() : argument;
  std::unique_ptr<TChildProcess> holder;
  if (c.Busy) {
    holder = Ctl({"--device", server.RawUrl(), "watch", "--interval", "100"});
    ASSERT_TRUE(holder->WaitForOutput(0, "total 0\n"));
  }
  auto ctl = Ctl(arguments);
  EXPECT_EQ(ctl->WaitForExit(20s), c.Exit);
  ctl->WaitForOutput(0, Never);
  ctl->WaitForOutput(1, Never);
  EXPECT_NE((c.Exit == 0 ? ctl->Stdout() : ctl->Stderr()).find(c.Prints), std::string::npos)
      << ctl->Stdout() << ctl->Stderr();
}

const TNetworkCase NetworkCases[] = {
    {"StatusRaw", {}, {"--device", "{raw}", "status"}, 0, "$00: 0 rpm"},
    {"StatusTelnet", {}, {"--device", "{telnet}", "status"}, 0, "$00: 0 rpm"},
    // The status request to $9A ends in the CRC 0xFF, which Telnet must double.
    {"StatusOf9ATelnet", {"--address", "$9A"}, {"--device", "{telnet}", "status", "--address", "$9A"}, 0,
     "$9A: 0 rpm"},
    {"TimedRunTelnet", {}, {"--device", "{telnet}", "run", "--speed", "600", "--for", "1"}, 0, "$00: stopped"},
    {"ScanRaw", {"--address", "2"}, {"--device", "{raw}", "scan", "--to", "3"}, 0,
     "1 answered on $00..$03"},
    {"ScanTelnet", {"--address", "2"}, {"--device", "{telnet}", "scan", "--to", "3"}, 0, "1 answered on $00..$03"},
    {"SettingsReachTheFarEnd", {"--baud", "19200"}, {"--device", "{telnet}", "--baud", "19200", "status"}, 0,
     "$00: 0 rpm"},
    {"RawCarriesNoSettings", {"--baud", "19200"}, {"--device", "{raw}", "--baud", "19200", "status"}, 1,
     "no answer to the status request (50) from $00 on tcp://127.0.0.1:"},
    {"NobodyListens", {}, {"--device", "tcp://127.0.0.1:1", "status"}, 3,
     "127.0.0.1:1 refused the connection: no serial device server listens there."},
    {"UnknownHost", {}, {"--device", "rfc2217://no-such-host.invalid:2000", "status"}, 3,
     "the host no-such-host.invalid is unknown."},
    {"NoPort", {}, {"--device", "rfc2217://127.0.0.1", "status"}, 2, "is no network line: write tcp://HOST:PORT"},
    {"BusyRaw", {}, {"--device", "{raw}", "status"}, 3,
     "the server closed the line, saying \"Port already in use\": its port or its device is in use", true},
    {"BusyTelnet", {}, {"--device", "{telnet}", "status"}, 3,
     "the server closed the line, saying \"Port's device already in use\"", true},
};

INSTANTIATE_TEST_SUITE_P(Lines, OzmetCtlNetwork, testing::ValuesIn(NetworkCases),
                         [](const testing::TestParamInfo<TNetworkCase>& info) { return info.param.Name; });

// The server gone while a watch polls: the line failed, said as such, exit 1.
TEST_F(OzmetCtl, ServerGoneWhileWatchingIsALineFailure)
{
  StartSim({});
  TSer2net server(Device);
  ASSERT_TRUE(server.Start());
  auto ctl = Ctl({"--device", server.Rfc2217Url(), "watch", "--interval", "50"});
  ASSERT_TRUE(ctl->WaitForOutput(0, "total 0\n$00: "));
  server.Kill();
  EXPECT_EQ(ctl->WaitForExit(), 1);
  ctl->WaitForOutput(1, Never);
  EXPECT_NE(ctl->Stderr().find("the line failed"), std::string::npos) << ctl->Stderr();
}

// A server that sends zeros without end fails the line within 2 s, with the reason; a relay that
// holds every answer back after its third byte, as a retransmission does, costs nothing.
TEST_F(OzmetCtl, FloodFailsTheLineAndAGapInsideAnAnswerDoesNot)
{
  StartSim({});
  TSer2net server(Device);
  ASSERT_TRUE(server.Start());
  TLoopbackPeer relay(TLoopbackPeer::TKind::GapRelay, server.RawUrl());
  auto gap = Ctl({"--device", relay.Url(), "status"});
  EXPECT_EQ(gap->WaitForExit(10s), 0);
  gap->WaitForOutput(0, Never);
  EXPECT_NE(gap->Stdout().find("$00: 0 rpm"), std::string::npos) << gap->Stdout() << gap->Stderr();
  TLoopbackPeer flood(TLoopbackPeer::TKind::Flood);
  auto flooded = Ctl({"--device", flood.Url(), "status"});
  EXPECT_TRUE(flooded->WaitForOutput(1, "the line failed: the line sends without pause: ", 2s)) << flooded->Stderr();
  EXPECT_EQ(flooded->WaitForExit(), 1);
}

// A server whose queue of connections is full drops the next one's handshake: the connect is given
// 3 s, then said to have taken too long (exit 3), never waited on for the kernel's two minutes.
TEST_F(OzmetCtl, ConnectThatTakesTooLongIsGivenUp)
{
  const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&address), size), 0);
  ASSERT_EQ(::listen(server, 0), 0);
  ASSERT_EQ(::getsockname(server, reinterpret_cast<sockaddr*>(&address), &size), 0);
  const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&address), size), 0) << "the one place in the queue";
  const std::string url = "tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  auto ctl = Ctl({"--device", url, "status"});
  EXPECT_EQ(ctl->WaitForExit(10s), 3);
  ctl->WaitForOutput(1, Never);
  EXPECT_NE(ctl->Stderr().find("did not answer within 3 s."), std::string::npos) << ctl->Stderr();
  ::close(filler);
  ::close(server);
}

} // namespace

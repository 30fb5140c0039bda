#include "ChildProcess.h"
#include "PtyClient.h"
#include "PtyPair.h"
#include "TempDir.h"
#include "protocol/OzmCommands.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <poll.h>
#include <algorithm>
#include <cctype>
#include <sstream>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using TBytes = TPtyClient::TBytes;
using TClock = std::chrono::steady_clock;

constexpr auto Deadline = 5000ms;
constexpr auto AnswerLimit = 300ms;

TBytes Status(std::uint8_t address)
{
  const TStatusRequest request = TOzmCommands::StatusRequestFor(address);
  return {request.begin(), request.end()};
}

TBytes Command(std::uint8_t address, std::uint8_t command, std::uint8_t value)
{
  return {FrameMarker, address, command, value, TOzmCommands::Crc8(3, address, command, value)};
}

bool CrcRight(const TBytes& answer)
{
  return answer.size() == 5 && TOzmCommands::Crc8(std::span(answer).first(4)) == answer[4];
}

// What the console does when it opens its port: every descriptor of the pty sees the rate.
void SetConsoleRate(const std::string& device, speed_t speed)
{
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0) << device;
  termios tio{};
  EXPECT_EQ(::tcgetattr(fd, &tio), 0);
  ::cfsetspeed(&tio, speed);
  EXPECT_EQ(::tcsetattr(fd, TCSANOW, &tio), 0);
  ::close(fd);
}

TEST(OzmetSim, PrintsItsDeviceAndAnswersInTime)
{
  TChildProcess sim(OZMET_SIM_PATH, {});
  const std::string device = sim.FirstLine();
  ASSERT_TRUE(device.starts_with("/dev/pts/")) << device;
  TPtyClient client(device);
  ASSERT_TRUE(client.IsOpen());
  const auto start = TClock::now();
  ASSERT_TRUE(client.Write(Status(0)));
  const TBytes answer = client.ReadExactly(5, AnswerLimit);
  EXPECT_LT(TClock::now() - start, AnswerLimit);
  EXPECT_TRUE(CrcRight(answer));
  EXPECT_EQ(answer.at(0), 0);
}

struct TStopCase {
  const char* Name;
  void (*Stop)(TChildProcess&);
};

void PrintTo(const TStopCase& c, std::ostream* out)
{
  *out << c.Name;
}

class TOzmetSimLinkTest : public testing::TestWithParam<TStopCase> {};

TEST_P(TOzmetSimLinkTest, LinkLivesAsLongAsTheSimulator)
{
  TTempDir dir;
  const std::filesystem::path link = dir.Path() + "/ozmet0";
  std::filesystem::create_symlink("/nowhere", link); // an older link is replaced
  TChildProcess sim(OZMET_SIM_PATH, {"--link", link.string()});
  const std::string device = sim.FirstLine();
  EXPECT_EQ(std::filesystem::read_symlink(link), device);
  TPtyClient client(link.string());
  ASSERT_TRUE(client.IsOpen());
  ASSERT_TRUE(client.Write(Status(0)));
  EXPECT_TRUE(CrcRight(client.ReadExactly(5, Deadline)));

  GetParam().Stop(sim);
  EXPECT_EQ(sim.WaitForExit(), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

INSTANTIATE_TEST_SUITE_P(Stops, TOzmetSimLinkTest,
                         testing::Values(TStopCase{"Sigterm", [](TChildProcess& p) { p.Signal(SIGTERM); }},
                                         TStopCase{"Sigint", [](TChildProcess& p) { p.Signal(SIGINT); }}),
                         [](const testing::TestParamInfo<TStopCase>& info) { return info.param.Name; });

// However its standard input stands, the simulator serves until it is told to stop. Each case starts it
// from bash in a session of its own whose terminal is a pty, with the simulator's command as "$@".
struct TInputCase {
  const char* Name;
  const char* Script;
  void (*Then)(TChildProcess& sim, TPtyPair& terminal);
  bool Job = false; // bash runs it as a job and says "job PID"
};

void PrintTo(const TInputCase& c, std::ostream* out)
{
  *out << c.Name;
}

class TOzmetSimInputTest : public testing::TestWithParam<TInputCase> {};

TEST_P(TOzmetSimInputTest, KeepsServingUntilTold)
{
  TTempDir dir;
  const std::string link = dir.Path() + "/sim";
  TPtyPair terminal;
  TChildProcess sim("/usr/bin/setsid",
                    {"/bin/bash", "-c", GetParam().Script, "ozmet-sim", OZMET_SIM_PATH, "--link", link},
                    {"OZMET_TERMINAL=" + terminal.SlavePath()});
  ASSERT_FALSE(sim.FirstLine().empty()) << sim.Stderr();
  // A job of its own is killed by pid whatever happens to the test.
  struct TJob {
    pid_t Pid = 0;
    ~TJob()
    {
      if (Pid > 0)
        ::kill(Pid, SIGKILL);
    }
  } job;
  if (GetParam().Job) {
    ASSERT_TRUE(sim.WaitForOutput(1, "job ") && sim.WaitForOutput(1, "\n")) << sim.Stderr();
    job.Pid = std::stoi(sim.Stderr().substr(sim.Stderr().find("job ") + 4));
  }

  GetParam().Then(sim, terminal);
  TPtyClient client(link);
  ASSERT_TRUE(client.IsOpen());
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(client.Write(Status(0)));
    EXPECT_TRUE(CrcRight(client.ReadExactly(5, Deadline))) << "round " << round << ": " << sim.Stderr();
  }
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.WaitForExit(), 0) << sim.Stderr();
  if (sim.WaitForExit())
    job.Pid = 0; // reaped by bash
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, TOzmetSimInputTest,
    testing::Values(
        // A script's `ozmet-sim &` runs it with /dev/null for input.
        TInputCase{"AtItsEndFromTheStart", R"(exec "$@" </dev/null)", [](TChildProcess&, TPtyPair&) {}},
        TInputCase{"EndedWhileServing", R"(exec "$@")", [](TChildProcess& p, TPtyPair&) { p.CloseStdin(); }},
        // `ozmet-sim --verbose > sim.out &` in an interactive shell: a background job of the terminal,
        // which would be stopped (SIGTTIN) if it read the line typed there, and fall silent.
        TInputCase{"TheTerminalOfABackgroundJob",
                   R"(exec 0<>"$OZMET_TERMINAL"; set -m; "$@" & echo "job $!" >&2
                      trap 'kill $!; wait $!; exit' TERM; wait $!)",
                   [](TChildProcess&, TPtyPair& terminal) {
                     const std::string line = "silent on\n";
                     terminal.WriteMaster({line.begin(), line.end()});
                   },
                   true}),
    [](const testing::TestParamInfo<TInputCase>& info) { return info.param.Name; });

TEST(OzmetSim, RefusesToReplaceARegularFile)
{
  TTempDir dir;
  const std::filesystem::path file = dir.Path() + "/taken";
  std::ofstream(file) << "keep";
  TChildProcess sim(OZMET_SIM_PATH, {"--link", file.string()});
  EXPECT_EQ(sim.WaitForExit(), 1);
  EXPECT_TRUE(sim.WaitForOutput(1, "refusing"));
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(file)));
}

TEST(OzmetSim, ButtonOnStdinCompletesAnAddressChange)
{
  TChildProcess sim(OZMET_SIM_PATH, {"--verbose"});
  TPtyClient client(sim.FirstLine());
  ASSERT_TRUE(client.IsOpen());
  ASSERT_TRUE(client.Write(Command(BroadcastAddress, CmdAddressSetBegin, 7)));
  ASSERT_TRUE(sim.WaitForOutput(1, "rx E6 FF A0 07"));
  ASSERT_TRUE(sim.WriteStdin("button\n"));
  ASSERT_TRUE(sim.WaitForOutput(1, "command button"));
  ASSERT_TRUE(client.Write(Command(BroadcastAddress, CmdAddressSetEnd, 7)));
  ASSERT_TRUE(client.Write(Status(7)));
  const TBytes answer = client.ReadExactly(5, Deadline);
  EXPECT_TRUE(CrcRight(answer));
  EXPECT_EQ(answer.at(0), 7);
}

TEST(OzmetSim, FaultFlagAndStdinCommandsChangeTheLine)
{
  TChildProcess sim(OZMET_SIM_PATH, {"--silent", "--verbose"});
  TPtyClient client(sim.FirstLine());
  ASSERT_TRUE(client.IsOpen());
  ASSERT_TRUE(client.Write(Status(0)));
  ASSERT_TRUE(sim.WaitForOutput(1, "rx E6 00 50 DB"));
  ASSERT_TRUE(sim.WriteStdin("bogus\nsilent off\n"));
  EXPECT_TRUE(sim.WaitForOutput(1, "unknown command 'bogus'"));
  ASSERT_TRUE(sim.WaitForOutput(1, "command silent off"));
  ASSERT_TRUE(client.Write(Command(0, CmdSetSpeed, 4)));
  const TBytes echo = {0x00, CmdSetSpeed, 0x04, 0x00, TOzmCommands::Crc8(4, 0x00, CmdSetSpeed, 0x04, 0x00)};
  EXPECT_EQ(client.ReadExactly(5, Deadline), echo) << "the status request sent while silent stays unanswered";
}

// The pty starts at the controller's own rate; a console that changes it is heard as garbage, and the log says so.
TEST(OzmetSim, BaudFlagSetsTheLineAndAMismatchIsLogged)
{
  TChildProcess sim(OZMET_SIM_PATH, {"--verbose", "--baud", "4800"});
  const std::string device = sim.FirstLine();
  TPtyClient client(device);
  ASSERT_TRUE(client.IsOpen());
  ASSERT_TRUE(client.Write(Status(0)));
  EXPECT_TRUE(CrcRight(client.ReadExactly(5, Deadline)));
  SetConsoleRate(device, B9600);
  ASSERT_TRUE(client.Write(Status(0)));
  EXPECT_TRUE(
      sim.WaitForOutput(1, "rx E6 00 50 DB (line at 9600 8N1 but the controller listens at 4800 8N1: heard garbage)"));
  EXPECT_EQ(client.ReadAvailable(AnswerLimit), TBytes{});
}

TEST(OzmetSim, StrayByteFlagAndCommandFollowTheAnswer)
{
  TChildProcess sim(OZMET_SIM_PATH, {"--verbose", "--stray-byte", "1"});
  TPtyClient client(sim.FirstLine());
  ASSERT_TRUE(client.IsOpen());
  for (const char* command : {"stray-byte 1", ""}) {
    ASSERT_TRUE(client.Write(Status(0)));
    EXPECT_TRUE(CrcRight(client.ReadExactly(5, Deadline)));
    EXPECT_EQ(client.ReadAvailable(Deadline), TBytes{0x55}) << "alone, after the answer";
    if (*command != '\0') {
      ASSERT_TRUE(sim.WriteStdin(std::string(command) + "\n"));
      ASSERT_TRUE(sim.WaitForOutput(1, std::string("command ") + command));
    }
  }
}

// A line that is exactly a "hh:mm:ss.mmm " timestamp followed by the text.
bool HasTimedLine(const std::string& log, const std::string& text)
{
  const std::string shape = "dd:dd:dd.ddd " + text;
  const auto fits = [](char want, char got) {
    return want == 'd' ? std::isdigit(static_cast<unsigned char>(got)) != 0 : want == got;
  };
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);)
    if (line.size() == shape.size() && std::equal(shape.begin(), shape.end(), line.begin(), fits))
      return true;
  return false;
}

TEST(OzmetSim, VerboseLogsFramesAndAnswers)
{
  TChildProcess sim(OZMET_SIM_PATH, {"--verbose", "--address", "0x01"});
  TPtyClient client(sim.FirstLine());
  ASSERT_TRUE(client.IsOpen());
  ASSERT_TRUE(client.Write(Status(1)));
  const TBytes answer = client.ReadExactly(5, Deadline);
  ASSERT_TRUE(CrcRight(answer));
  const std::string tx = "tx 01 80 00 00 " + TOzmCommands::HexByte(answer[4]);
  ASSERT_TRUE(sim.WaitForOutput(1, tx));
  EXPECT_TRUE(HasTimedLine(sim.Stderr(), "rx E6 01 50 1F"));
  EXPECT_TRUE(HasTimedLine(sim.Stderr(), tx));
}

TEST(OzmetSim, HelpNamesEveryFlagAndCommand)
{
  TChildProcess sim(OZMET_SIM_PATH, {"--help"});
  EXPECT_EQ(sim.WaitForExit(), 0);
  for (const char* item : {"--address", "--link", "--silent", "--silent-to-status", "--corrupt-every", "--corrupt-address", "--drop-byte",
                           "--extra-byte", "--delay", "--hang-up-after", "--verbose", "--no-input", "--help", "button",
                           "--baud", "--data-bits", "--parity", "--stop-bits", "--jitter", "--late-once", "--stray-byte",
                           "--version", "silent", "corrupt", "delay=MS", "jitter=MS", "max-rps=N", "slip=F",
                           "stall-after=S"})
    EXPECT_TRUE(sim.WaitForOutput(0, item)) << item;
}

// Started in the background by a script, its standard input is /dev/null: it must keep serving.
TEST(OzmetSim, NoInputKeepsRunningPastTheEndOfInput)
{
  TChildProcess sim(OZMET_SIM_PATH, {"--no-input"});
  TPtyClient client(sim.FirstLine());
  ASSERT_TRUE(client.IsOpen());
  sim.CloseStdin();
  ASSERT_TRUE(client.Write(Status(0)));
  EXPECT_TRUE(CrcRight(client.ReadExactly(5, Deadline)));
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.WaitForExit(), 0);
}

// The settings after an address reach that controller, and only it.
TEST(OzmetSim, ControllerSettingsReachTheirControllerOnly)
{
  TChildProcess sim(OZMET_SIM_PATH, {"--no-input", "--address", "5:corrupt", "--address", "6"});
  TPtyClient client(sim.FirstLine());
  ASSERT_TRUE(client.IsOpen());
  ASSERT_TRUE(client.Write(Status(5)));
  const TBytes corrupt = client.ReadExactly(5, Deadline);
  EXPECT_EQ(corrupt.size(), 5u);
  EXPECT_FALSE(CrcRight(corrupt));
  ASSERT_TRUE(client.Write(Status(6)));
  EXPECT_TRUE(CrcRight(client.ReadExactly(5, Deadline)));
}

TEST(OzmetSim, BadAddressExitsWithTwo)
{
  for (const char* address : {"255", "300", "text", "0x100"}) {
    TChildProcess sim(OZMET_SIM_PATH, {"--address", address});
    EXPECT_EQ(sim.WaitForExit(), 2) << address;
    EXPECT_TRUE(sim.WaitForOutput(1, "invalid address")) << address;
  }
}

} // namespace

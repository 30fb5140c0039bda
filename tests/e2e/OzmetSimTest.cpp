#include "OzmCommands.h"
#include "PtyClient.h"
#include "TempDir.h"

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
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using TBytes = TPtyClient::TBytes;
using TClock = std::chrono::steady_clock;

constexpr auto Deadline = 5000ms;
constexpr auto AnswerLimit = 300ms;

// ozmet-sim as a child process with pipes on its standard streams. It is killed and reaped on the way
// out whatever happened in the test.
class TSimProcess {
public:
  explicit TSimProcess(const std::vector<std::string>& arguments)
  {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
      throw std::system_error(errno, std::generic_category(), "pipe2");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<std::string> words = {OZMET_SIM_PATH};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
      argv.push_back(word.data());
    argv.push_back(nullptr);
    const int error = ::posix_spawn(&Pid, OZMET_SIM_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : {in[0], out[1], err[1]})
      ::close(fd);
    StdinFd = in[1];
    Streams[0].Fd = out[0];
    Streams[1].Fd = err[0];
    if (error != 0)
      throw std::system_error(error, std::generic_category(), "posix_spawn");
    PidFd = static_cast<int>(::syscall(SYS_pidfd_open, Pid, 0)); // lets the exit be waited for with a deadline
  }

  ~TSimProcess()
  {
    if (!ExitCode) {
      ::kill(Pid, SIGKILL);
      ::waitpid(Pid, nullptr, 0);
    }
    for (int fd : {StdinFd, Streams[0].Fd, Streams[1].Fd, PidFd})
      if (fd >= 0)
        ::close(fd);
  }

  TSimProcess(const TSimProcess&) = delete;
  TSimProcess& operator=(const TSimProcess&) = delete;

  // The first line on standard output: the device path.
  std::string FirstLine()
  {
    WaitForOutput(0, "\n");
    return Streams[0].Text.substr(0, Streams[0].Text.find('\n'));
  }

  // Collects standard output (0) or error (1) until it holds `text`; false when the time ran out first.
  bool WaitForOutput(int stream, const std::string& text)
  {
    TStream& s = Streams[stream];
    const auto deadline = TClock::now() + Deadline;
    while (s.Text.find(text) == std::string::npos && ReadSome(s, deadline)) {
    }
    return s.Text.find(text) != std::string::npos;
  }

  const std::string& Stderr() const
  {
    return Streams[1].Text;
  }

  void WriteStdin(const std::string& text)
  {
    ASSERT_EQ(::write(StdinFd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  void CloseStdin()
  {
    ::close(StdinFd);
    StdinFd = -1;
  }

  void Signal(int signal)
  {
    ::kill(Pid, signal);
  }

  // The exit code once the process ended, or nothing when it still runs at the deadline.
  std::optional<int> WaitForExit()
  {
    pollfd pfd{PidFd, POLLIN, 0};
    if (!ExitCode && ::poll(&pfd, 1, static_cast<int>(Deadline.count())) == 1) {
      int status = 0;
      ::waitpid(Pid, &status, 0);
      ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return ExitCode;
  }

private:
  struct TStream {
    int Fd = -1;
    std::string Text;
  };

  // Appends what one read gives once the stream is readable; false at its end or the deadline.
  static bool ReadSome(TStream& stream, TClock::time_point deadline)
  {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now()).count();
    pollfd pfd{stream.Fd, POLLIN, 0};
    if (::poll(&pfd, 1, static_cast<int>(std::max<long long>(left, 0))) <= 0)
      return false;
    char buffer[4096];
    const ssize_t count = ::read(stream.Fd, buffer, sizeof buffer);
    if (count <= 0)
      return false;
    stream.Text.append(buffer, static_cast<std::size_t>(count));
    return true;
  }

  pid_t Pid = -1;
  int PidFd = -1;
  int StdinFd = -1;
  TStream Streams[2];
  std::optional<int> ExitCode;
};

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

TEST(OzmetSim, PrintsItsDeviceAndAnswersInTime)
{
  TSimProcess sim({});
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
  void (*Stop)(TSimProcess&);
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
  TSimProcess sim({"--link", link.string()});
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
                         testing::Values(TStopCase{"Sigterm", [](TSimProcess& p) { p.Signal(SIGTERM); }},
                                         TStopCase{"Sigint", [](TSimProcess& p) { p.Signal(SIGINT); }},
                                         TStopCase{"StdinEnd", [](TSimProcess& p) { p.CloseStdin(); }}),
                         [](const testing::TestParamInfo<TStopCase>& info) { return info.param.Name; });

TEST(OzmetSim, RefusesToReplaceARegularFile)
{
  TTempDir dir;
  const std::filesystem::path file = dir.Path() + "/taken";
  std::ofstream(file) << "keep";
  TSimProcess sim({"--link", file.string()});
  EXPECT_EQ(sim.WaitForExit(), 1);
  EXPECT_TRUE(sim.WaitForOutput(1, "refusing"));
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(file)));
}

TEST(OzmetSim, ButtonOnStdinCompletesAnAddressChange)
{
  TSimProcess sim({"--verbose"});
  TPtyClient client(sim.FirstLine());
  ASSERT_TRUE(client.IsOpen());
  ASSERT_TRUE(client.Write(Command(BroadcastAddress, CmdAddressSetBegin, 7)));
  ASSERT_TRUE(sim.WaitForOutput(1, "rx E6 FF A0 07"));
  sim.WriteStdin("button\n");
  ASSERT_TRUE(sim.WaitForOutput(1, "command button"));
  ASSERT_TRUE(client.Write(Command(BroadcastAddress, CmdAddressSetEnd, 7)));
  ASSERT_TRUE(client.Write(Status(7)));
  const TBytes answer = client.ReadExactly(5, Deadline);
  EXPECT_TRUE(CrcRight(answer));
  EXPECT_EQ(answer.at(0), 7);
}

TEST(OzmetSim, FaultFlagAndStdinCommandsChangeTheLine)
{
  TSimProcess sim({"--silent", "--verbose"});
  TPtyClient client(sim.FirstLine());
  ASSERT_TRUE(client.IsOpen());
  ASSERT_TRUE(client.Write(Status(0)));
  ASSERT_TRUE(sim.WaitForOutput(1, "rx E6 00 50 DB"));
  sim.WriteStdin("bogus\nsilent off\n");
  EXPECT_TRUE(sim.WaitForOutput(1, "unknown command 'bogus'"));
  ASSERT_TRUE(sim.WaitForOutput(1, "command silent off"));
  ASSERT_TRUE(client.Write(Command(0, CmdSetSpeed, 4)));
  const TBytes echo = {0x00, CmdSetSpeed, 0x04, 0x00, TOzmCommands::Crc8(4, 0x00, CmdSetSpeed, 0x04, 0x00)};
  EXPECT_EQ(client.ReadExactly(5, Deadline), echo) << "the status request sent while silent stays unanswered";
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
  TSimProcess sim({"--verbose", "--address", "0x01"});
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
  TSimProcess sim({"--help"});
  EXPECT_EQ(sim.WaitForExit(), 0);
  for (const char* item : {"--address", "--link", "--silent", "--silent-to-status", "--corrupt-every", "--drop-byte",
                           "--extra-byte", "--delay", "--hang-up-after", "--verbose", "--no-input", "--help", "button"})
    EXPECT_TRUE(sim.WaitForOutput(0, item)) << item;
}

// Started in the background by a script, its standard input is /dev/null: it must keep serving.
TEST(OzmetSim, NoInputKeepsRunningPastTheEndOfInput)
{
  TSimProcess sim({"--no-input"});
  TPtyClient client(sim.FirstLine());
  ASSERT_TRUE(client.IsOpen());
  sim.CloseStdin();
  ASSERT_TRUE(client.Write(Status(0)));
  EXPECT_TRUE(CrcRight(client.ReadExactly(5, Deadline)));
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.WaitForExit(), 0);
}

TEST(OzmetSim, BadAddressExitsWithTwo)
{
  for (const char* address : {"255", "300", "text", "0x100"}) {
    TSimProcess sim({"--address", address});
    EXPECT_EQ(sim.WaitForExit(), 2) << address;
    EXPECT_TRUE(sim.WaitForOutput(1, "invalid address")) << address;
  }
}

} // namespace

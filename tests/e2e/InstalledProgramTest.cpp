#include "ChildProcess.h"
#include "MainThreadWait.h"
#include "TempDir.h"
#include "serial/PortSettingsFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The programs as `cmake --install` lays them out under a prefix of their own, run by an operator
// whose home folder is fresh: no Data folder beside the programs, so the console keeps its own in
// ~/.config/ozmet/Data.
class InstalledProgram : public ::testing::Test {
protected:
  void SetUp() override
  {
    TChildProcess install(OZMET_CMAKE_PATH, {"--install", OZMET_BUILD_DIR, "--prefix", Prefix.Path()});
    const std::optional<int> exit = install.WaitForExit(60s);
    install.WaitForOutput(1, std::string(1, '\0'), 1s); // its complaint, if any, read to the end
    ASSERT_EQ(exit, 0) << install.Stderr();
    fs::create_directory(Home);
  }

  std::unique_ptr<TChildProcess> Start(const std::string& program, const std::vector<std::string>& arguments)
  {
    // XDG_CONFIG_HOME, which the suite points elsewhere, is removed: ~/.config is what is meant.
    return std::make_unique<TChildProcess>(Prefix.Path() + "/bin/" + program, arguments,
                                           std::vector<std::string>{"HOME=" + Home, "XDG_CONFIG_HOME",
                                                                    "QT_QPA_PLATFORM=offscreen"});
  }

  TTempDir Prefix;
  const std::string Home = Prefix.Path() + "/home";
  const std::string Data = Home + "/.config/ozmet/Data";
};

TEST_F(InstalledProgram, EachProgramAnswers)
{
  const struct {
    std::string Program;
    std::string Argument;
    std::string Says;
  } cases[] = {
      {"ozmet", "--version", "ozmet " OZMET_VERSION "\n"},
      {"ozmetctl", "--help", "Usage: ozmetctl"},
      {"ozmet-sim", "--help", "Usage: ozmet-sim"},
      {"ozmet-sim", "--version", "ozmet-sim " OZMET_VERSION "\n"},
  };
  for (const auto& c : cases) {
    auto program = Start(c.Program, {c.Argument});
    EXPECT_TRUE(program->WaitForOutput(0, c.Says)) << c.Program << ": " << program->Stdout() << program->Stderr();
    EXPECT_EQ(program->WaitForExit(), 0) << c.Program;
  }
  EXPECT_FALSE(fs::exists(Prefix.Path() + "/bin/Data")) << "the build's Data folder is not installed";
}

// The first start makes the Data folder in the home folder; the device given links there, the port
// number is written there at the close, and ozmetctl then finds the same folder and the same line.
TEST_F(InstalledProgram, KeepsItsDataFolderInTheHomeFolder)
{
  TChildProcess sim(Prefix.Path() + "/bin/ozmet-sim", {"--no-input"});
  const std::string device = sim.FirstLine();
  ASSERT_FALSE(device.empty()) << sim.Stderr();

  auto console = Start("ozmet", {"--device", device});
  // Watched through the link, not by opening the device: a probe holding it would make the console's
  // own open fail.
  ASSERT_TRUE(PollUntil([&] { return fs::is_symlink(Data + "/COM1"); }, 10s)) << console->Stderr();
  EXPECT_EQ(fs::read_symlink(Data + "/COM1").string(), device);
  const std::string settings = Data + "/portp.dat";
  const auto old = fs::file_time_type::clock::now() - 1h;
  fs::last_write_time(settings, old);
  console->Signal(SIGTERM);
  ASSERT_EQ(console->WaitForExit(10s), 0) << console->Stderr();
  EXPECT_GT(fs::last_write_time(settings), old) << "written again at the close";
  EXPECT_EQ(TPortSettingsFile(settings).Load().PortNumber, 1);

  auto ctl = Start("ozmetctl", {"status"});
  EXPECT_TRUE(ctl->WaitForOutput(0, "$00: 0 rpm")) << ctl->Stdout() << ctl->Stderr();
  EXPECT_EQ(ctl->WaitForExit(), 0) << ctl->Stderr();
}

// The bash completion that is installed beside the programs knows ozmetctl only from its --help, so
// a command or option added to the program completes without touching the completion.
TEST_F(InstalledProgram, BashCompletesFromTheProgramsOwnHelp)
{
  const std::string completion = Prefix.Path() + "/share/bash-completion/completions/ozmetctl";
  ASSERT_TRUE(fs::is_regular_file(completion));
  fs::create_directories(Home + "/bench/old");
  std::ofstream(Home + "/bench/line.ini") << "";
  // As bash calls it: the line up to the cursor, which stands at its end.
  const std::string script = R"(source "$0"; COMP_LINE=$1; COMP_POINT=${#1}; read -ra COMP_WORDS <<<"$1"
                                [[ $1 == *' ' ]] && COMP_WORDS+=('')
                                COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _ozmetctl ozmetctl
                                printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort)";
  const struct {
    std::string Line;
    std::string Completions; // one a line, sorted
  } cases[] = {
      {"ozmetctl st", "status\nstop\n"},
      {"ozmetctl --port 3 dev", "devices\n"},
      {"ozmetctl status --js", "--json\n"},
      {"ozmetctl --par", "--parameters\n--parity\n"},
      {"ozmetctl run --direction b", "backward\n"},
      {"ozmetctl run --direction=f", "forward\n"},
      {"ozmetctl direction ", "backward\nforward\n"},
      {"ozmetctl direction forward ", "\n"}, // the operand is given
      {"ozmetctl run --parameters " + Home + "/bench/", Home + "/bench/line.ini\n" + Home + "/bench/old\n"},
      {"ozmetctl --device ser", "serial:\n"},
      {"ozmetctl --device=by", "by-id:\n"},
      {"ozmetctl --device /dev/nul", "/dev/null\n"},
      {"ozmetctl --speed 3 --for 2 ru", "run\n"},
      {"ozmetctl test " + Home + "/bench/", Home + "/bench/line.ini\n" + Home + "/bench/old\n"},
      {"ozmetctl test eol.yaml --record " + Home + "/bench/", Home + "/bench/old\n"}, // folders only
  };
  for (const auto& c : cases) {
    TChildProcess bash("/bin/bash", {"-c", script, completion, c.Line},
                       {"PATH=" + Prefix.Path() + "/bin:" + std::getenv("PATH")});
    EXPECT_EQ(bash.WaitForExit(), 0) << c.Line;
    bash.WaitForOutput(0, std::string(1, '\0'), 1s); // read to the end
    EXPECT_EQ(bash.Stdout(), c.Completions) << c.Line << bash.Stderr();
  }
}

} // namespace

#include "ChildProcess.h"
#include "MainThreadWait.h"
#include "PortSettingsFile.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
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

} // namespace

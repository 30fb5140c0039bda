#include "serial/PortSettings.h"
#include "RecordingView.h"
#include "TempDir.h"
#include "serial/ComPort.h"
#include "serial/PortSettingsFile.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

const std::string NotFound = std::string("message ") + TPortSettingsFile::DataFolderNotFoundText;

struct TLoaded {
  std::int32_t PortNumber;
  std::uint8_t BaudIndex, ByteSize, Parity, StopBits;
  bool operator==(const TLoaded&) const = default;
};

TLoaded LoadInto(const std::string& folder, TRecordingView& view)
{
  TComPort port;
  port.DataFolder = folder;
  TPortSettings(port, view).LoadPortSettings();
  return {port.PortNumber, port.BaudIndex, port.ByteSize, port.Parity, port.StopBits};
}

TEST(PortSettings, PortNumberSurvivesARestartAndTheLineStartsAt9600_8N1)
{
  TTempDir data;
  TRecordingView view;
  TComPort port;
  port.DataFolder = data.Path();
  port.SetPortNumber(12);
  port.SetBaudIndex(8);
  port.SetByteSize(2);
  port.SetParity(1);
  port.SetStopBits(2);
  TPortSettings(port, view).SavePortSettings();

  EXPECT_EQ(LoadInto(data.Path(), view), (TLoaded{12, 6, 3, 0, 0}));
  EXPECT_TRUE(view.Calls.empty());
}

TEST(PortSettings, MissingFolderIsReportedAndStartUpCompletes)
{
  TRecordingView view;
  EXPECT_EQ(LoadInto("/nonexistent/Data", view), (TLoaded{0, 6, 3, 0, 0}));
  EXPECT_EQ(view.Calls, std::vector<std::string>{NotFound});

  view.Calls.clear();
  TComPort port;
  port.DataFolder = "/nonexistent/Data";
  TPortSettings(port, view).SavePortSettings();
  EXPECT_EQ(view.Calls, std::vector<std::string>{NotFound});
}

TEST(PortSettings, FirstLineThatIsNoNumberLeavesAUsablePort)
{
  TTempDir data;
  std::ofstream(data.Path() + "/portp.dat") << "not a number\r\n";
  TRecordingView view;
  EXPECT_EQ(LoadInto(data.Path(), view), (TLoaded{0, 6, 3, 0, 0}));
  EXPECT_TRUE(view.Calls.empty()) << "a readable file is no missing folder";

  TComPort port;
  port.DataFolder = data.Path();
  EXPECT_FALSE(port.Open()) << "port 0 opens nothing, and says so only through the result";
}

TEST(PortSettings, TheBuildPutsPortOneBesideThePrograms)
{
  const TPortSettingsFile::TLoadResult loaded = TPortSettingsFile(OZMET_DATA_DIR "/portp.dat").Load();
  EXPECT_TRUE(loaded.Readable);
  EXPECT_EQ(loaded.PortNumber, 1);
}

} // namespace

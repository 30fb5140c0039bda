// The operator's extras in the real window against the simulator: the stop key, parameter files,
// the chart's points, the saved log and the remembered window.
#include "console/OperatorExtras.h"
#include "ExtrasFixture.h"
#include "console/FormSpeedChart.h"
#include "console/LogPanel.h"
#include "dialogs/FormAdress.h"
#include "dialogs/FormBusScan.h"
#include "dialogs/FormByteLen.h"
#include "history/LogExport.h"
#include "motor/ParameterFile.h"
#include "serial/ComPort.h"
#include "serial/Exchange.h"

#include <QAction>
#include <QComboBox>
#include <QDate>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

std::vector<std::string> FileLines(const std::string& path)
{
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

TEST_F(ExtrasTest, EscStopsTheMotorFromAFieldBeingEditedButNotFromADialog)
{
  // A dialog or a message box has the keyboard: Esc there is its business.
  QMessageBox box(QMessageBox::Warning, "Ozmet", "a question", QMessageBox::Ok, Form.get());
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
  QTest::keyClick(&box, Qt::Key_Escape);
  EXPECT_FALSE(box.isVisible()) << "the box took its Esc";
  Form->MmSetNewAddressClick();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form->FormAdress));
  QTest::keyClick(Form->FormAdress, Qt::Key_Escape);
  Form->FormAdress->hide();
  const std::vector<std::string> log = LogLines();
  EXPECT_EQ(std::count(log.begin(), log.end(), "Motor stop"), 0);
  Click("BtnOpenPort");

  Click("BtnRun");
  ASSERT_TRUE(WaitFor([&] { return PollTimerActive(); }));
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  auto* speed = Find<QLineEdit>("EditWorkSpeed");
  speed->setFocus();
  QTest::keyClicks(speed, "12");
  QTest::keyClick(speed, Qt::Key_Escape);
  ASSERT_TRUE(WaitFor([&] { return StopsSent() == 1 && !PollTimerActive(); }, 10s));
  EXPECT_EQ(Label("lblCurrentSpeed"), "Current speed 0.00 rpm");
}

TEST_F(ExtrasTest, ParameterFileFillsBothPanelsAsTypingWouldAndABadOneChangesNothing)
{
  Type("EditMotorAddress", "$07");
  Type("EditGearRatio", "2.5");
  Type("EditWorkSpeed", "300");
  Type("EditWorkAccel", "12");
  ClickChoice(Find("rgrWorkDirection")->findChildren<QRadioButton*>().at(1));
  const std::string path = Data.Path() + "/machine.ini";
  ASSERT_TRUE(Extras().SaveParameters(QString::fromStdString(path)));
  Click("BtnMotorCancel");
  Click("BtnWorkCancel");
  const std::size_t framesBefore = Sim.FramesReceived();

  ASSERT_TRUE(Extras().OpenParameters(QString::fromStdString(path)));
  EXPECT_EQ(Find<QLineEdit>("EditMotorAddress")->text(), "$07");
  EXPECT_EQ(Find<QLineEdit>("EditGearRatio")->text(), "2.5");
  EXPECT_EQ(Find<QLineEdit>("EditWorkSpeed")->text(), "300");
  EXPECT_EQ(Find<QLineEdit>("EditWorkAccel")->text(), "12");
  EXPECT_TRUE(Find("BtnMotorCancel")->isEnabled());
  EXPECT_TRUE(Find("BtnWorkCancel")->isEnabled());
  EXPECT_EQ(Sim.FramesReceived(), framesBefore) << "nothing is sent before Apply or Run";

  TWorkFields tooFast;
  tooFast.Speed = "99999999";
  std::ofstream(Data.Path() + "/bad.ini") << TParameterFile::Write(TMotorFields{}, tooFast);
  EXPECT_FALSE(Extras().OpenParameters(QString::fromStdString(Data.Path() + "/bad.ini")));
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].find("line 8: speed"), std::string::npos) << Messages[0];
  EXPECT_EQ(Find<QLineEdit>("EditMotorAddress")->text(), "$07") << "a refused file leaves the panels as they were";
}

// What Apply refuses is not saved, with Apply's own message, and a failed write (a full disk) is
// said while the previous file stays whole.
TEST_F(ExtrasTest, SaveParametersRefusesWhatApplyWouldAndKeepsThePreviousFileOnAFailedWrite)
{
  const std::string path = Data.Path() + "/machine.ini";
  ASSERT_TRUE(Extras().SaveParameters(QString::fromStdString(path)));
  const std::vector<std::string> previous = FileLines(path);
  const struct {
    const char* Edit;
    const char* Text;
    const char* Message;
  } refused[] = {
      {"EditWorkDecel", "30", "Please, set correct value from 1 to 24!"},
      {"EditMotorAddress", "$1FF", "Please, set correct value from 0 to 254!"},
      {"EditWorkAccel", "fast", "Please, set correct value from 1 to 24!"},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.Edit);
    Click("BtnMotorCancel");
    Click("BtnWorkCancel");
    Type(r.Edit, r.Text);
    Messages.clear();
    EXPECT_FALSE(Extras().SaveParameters(QString::fromStdString(path)));
    EXPECT_EQ(Messages, std::vector<std::string>{r.Message});
    EXPECT_EQ(FileLines(path), previous);
  }
  Click("BtnMotorCancel");
  Click("BtnWorkCancel");
  Type("EditWorkDecel", "7");
  // In a child process whose files may not grow past 100 bytes, as on a full disk.
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100, 100};
    Messages.clear();
    const bool saved = ::setrlimit(RLIMIT_FSIZE, &limit) != 0 || Extras().SaveParameters(QString::fromStdString(path));
    ::_exit(!saved && Messages == std::vector<std::string>{"Parameters not saved: Cannot write " + path +
                                                             ": File too large"} ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the failure is said";
  EXPECT_EQ(FileLines(path), previous);
  ASSERT_TRUE(Extras().SaveParameters(QString::fromStdString(path)));
  EXPECT_EQ(FileLines(path)[9], "deceleration=7");
}

// The save dialogs propose a dated name in the folder last used, and a name typed without an
// extension gets the chosen type's.
TEST_F(ExtrasTest, SaveDialogsProposeADatedNameAndAddTheChosenTypesExtension)
{
  EXPECT_EQ(Form->findChild<QAction*>("MmSaveParameters")->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
  const QString today = QDate::currentDate().toString(Qt::ISODate);
  const QString folder = QString::fromStdString(Data.Path());
  ASSERT_TRUE(Extras().SaveLog(folder + "/first.txt", TLogExport::TFormat::Text));
  ASSERT_TRUE(Extras().SaveParameters(folder + "/first.ini"));
  const struct {
    std::function<void()> Save;
    QString Typed, Filter, Written, Proposed;
    const char* FirstLine;
  } saves[] = {
      {[&] { Extras().MmSaveLogClick(); }, "shift", "CSV (*.csv)", "shift.csv", "ozmet-log-" + today + ".txt",
       "time,kind,colour,text"},
      {[&] { Extras().MmSaveLogClick(); }, "shift", "Text (*.txt *.log)", "shift.txt", "ozmet-log-" + today + ".txt",
       "# Ozmet console log, saved "},
      {[&] { Extras().MmSaveLogClick(); }, "shift.log", "CSV (*.csv)", "shift.log", "ozmet-log-" + today + ".txt",
       "time,kind,colour,text"},
      {[&] { Extras().MmSaveParametersClick(); }, "machine", "Parameters (*.ini)", "machine.ini",
       "ozmet-parameters-" + today + ".ini", "# Ozmet console parameters"},
      {[&] { Extras().MmSaveParametersClick(); }, "machine", "All files (*)", "machine",
       "ozmet-parameters-" + today + ".ini", "# Ozmet console parameters"},
  };
  for (const auto& save : saves) {
    SCOPED_TRACE(save.Written.toStdString());
    QString offered;
    Extras().SetFileChooser([&](bool, const QString&, const QString& path, const QString&, QString* filter) {
      offered = path;
      *filter = save.Filter;
      return folder + "/" + save.Typed;
    });
    save.Save();
    EXPECT_EQ(offered, folder + "/" + save.Proposed) << "the folder of the previous save";
    const std::vector<std::string> lines = FileLines(Data.Path() + "/" + save.Written.toStdString());
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines[0].starts_with(save.FirstLine)) << lines[0];
  }
  EXPECT_TRUE(Messages.empty()) << Messages.front();
}

TEST_F(ExtrasTest, ChartGetsAPointForEveryStatusAnswerAndItsCsvHoldsThem)
{
  Click("BtnRun");
  ASSERT_TRUE(WaitFor([&] { return Label("lblCurrentSpeed") == "Current speed 1020.00 rpm"; }, 10s));
  Click("BtnStop");
  ASSERT_TRUE(WaitFor([&] { return Idle() && !PollTimerActive(); }, 15s));
  const std::vector<std::string> log = LogLines();
  const auto statusLines = std::count(log.begin(), log.end(), "motor status");
  const TSpeedHistory& history = Form->OperatorExtras().SpeedChart().History();
  EXPECT_EQ(static_cast<long>(history.Size()), statusLines);

  const std::string csv = Data.Path() + "/chart.csv";
  ASSERT_TRUE(Extras().SpeedChart().SaveCsv(QString::fromStdString(csv)));
  const std::vector<std::string> rows = FileLines(csv);
  ASSERT_EQ(rows.size(), history.Size() + 3) << "the heading, a row an answer, and the Run and the Stop";
  for (const char* event : {",,,Run,", ",,,Stop,"})
    EXPECT_EQ(std::ranges::count_if(rows, [&](const std::string& row) { return row.ends_with(event); }), 1) << event;
  EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const std::string& row) { return row.find(",1020,") != row.npos; }));
  EXPECT_TRUE(std::ranges::all_of(rows.begin() + 1, rows.end(), [](const std::string& row) {
    return row.ends_with(",$00") || row.ends_with(",");
  })) << "each answer names its controller";
}

TEST_F(ExtrasTest, SavedLogHasEveryLineInOrderWithIncreasingTimesAndTheCounters)
{
  Click("BtnRun");
  ASSERT_TRUE(WaitFor([&] { return Idle() && LogLines().size() > 12; }));
  Click("BtnStop");
  ASSERT_TRUE(WaitFor([&] { return Idle() && !PollTimerActive(); }, 15s));
  const std::vector<std::string> shown = LogLines();
  for (const auto format : {TLogExport::TFormat::Text, TLogExport::TFormat::Csv}) {
    const bool csv = format == TLogExport::TFormat::Csv;
    const std::string path = Data.Path() + (csv ? "/log.csv" : "/log.txt");
    ASSERT_TRUE(Extras().SaveLog(QString::fromStdString(path), format));
    std::vector<std::string> lines = FileLines(path);
    // The counters head the text only: a CSV reader takes the first row for the column names.
    ASSERT_EQ(lines.size(), shown.size() + (csv ? 1 : 2));
    if (csv)
      EXPECT_EQ(lines[0], "time,kind,colour,text");
    else
      EXPECT_NE(lines[1].find("frames sent "), std::string::npos) << lines[1];
    lines.erase(lines.begin(), lines.end() - static_cast<long>(shown.size()));
    std::string previous;
    for (std::size_t i = 0; i < shown.size(); ++i) {
      const std::string time = lines[i].substr(0, 23);
      EXPECT_GE(time, previous);
      previous = time;
      const std::string text = csv ? "\"" + shown[i] + "\"" : shown[i];
      EXPECT_EQ(lines[i].substr(lines[i].size() - text.size()), text) << lines[i];
    }
  }
}

TEST_F(ExtrasTest, DailyFileKeepsEveryLineThroughAClearOfTheView)
{
  Extras().SetDailyLogFile(true);
  Form->AppendLog("before the clear", TLogColour::Blue, false);
  Click("BtnClearLog");
  Form->AppendLog("after the clear", TLogColour::Red, false);
  // Read while the file is open: each line is on disk once the log shows it.
  const std::filesystem::path folder = std::string(std::getenv("XDG_DATA_HOME")) + "/ozmet/logs";
  std::vector<std::filesystem::path> days(std::filesystem::directory_iterator(folder), {});
  std::sort(days.begin(), days.end()); // a file a day, named by its date
  std::vector<std::string> written;
  for (const auto& day : days)
    for (const std::string& line : FileLines(day))
      written.push_back(line.substr(24)); // after the time and its blank
  ASSERT_GE(written.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(written.end() - 2, written.end()),
            (std::vector<std::string>{"before the clear", "after the clear"}));
  EXPECT_TRUE(written.end()[-3].starts_with("Ozmet console " OZMET_VERSION " session, device ")) << written.end()[-3];
  EXPECT_TRUE(written.end()[-3].ends_with(", controller address $00")) << written.end()[-3];

  Extras().SetDailyLogFile(false);
  Form->AppendLog("not written", TLogColour::Blue, false);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"after the clear", "not written"}));
  EXPECT_EQ(FileLines(days.back()).back().substr(24), "after the clear");
}

// A day's file that cannot be written (here the disk is full) is said once, in red, and the item
// is unticked; ticking it again tries anew.
TEST_F(ExtrasTest, DailyFileThatFailsIsSaidOnceUntickedAndTriedAgainWhenTicked)
{
  auto* item = Form->findChild<QAction*>("MmDailyLog");
  item->trigger();
  ASSERT_TRUE(item->isChecked());
  const std::string path = Form->LogPanel().DailyPath();
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::filesystem::remove(path); // an earlier test's lines
  std::filesystem::create_symlink("/dev/full", path);
  Form->AppendLog("lost", TLogColour::Blue, false);
  Form->AppendLog("not tried", TLogColour::Blue, false);
  const std::string said = "Log file not written: " + path + ": No space left on device";
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"lost", said, "not tried"}));
  EXPECT_EQ(LogLooks()[1].Colour, QColor(255, 0, 0));
  EXPECT_FALSE(item->isChecked());

  std::filesystem::remove(path);
  item->trigger();
  Form->AppendLog("kept", TLogColour::Blue, false);
  EXPECT_TRUE(item->isChecked());
  const std::vector<std::string> written = FileLines(path);
  ASSERT_EQ(written.size(), 2u);
  EXPECT_EQ(written[1].substr(24), "kept");
}

// The view keeps the newest lines with their own times and colours; one line above them counts
// those dropped and says where they are kept.
TEST_F(ExtrasTest, LogViewKeepsTheNewestLinesAndCountsTheDroppedAboveThem)
{
  TLogPanel& log = Form->LogPanel();
  Click("BtnClearLog");
  log.SetLineLimit(3);
  const TLogColour colours[] = {TLogColour::Green, TLogColour::Red, TLogColour::Blue};
  for (int i = 0; i < 5; ++i)
    Form->AppendLog("line " + std::to_string(i), colours[i % 3], i == 4);
  const std::string where = "; the daily file keeps them: ";
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"2 older lines dropped from the view" + where +
                                                       "Log > Write the log to a file a day",
                                                   "line 2", "line 3", "line 4"}));
  const std::vector<TLogLine> kept = log.Lines();
  ASSERT_EQ(kept.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(kept[i].Text, "line " + std::to_string(i + 2));
    EXPECT_EQ(kept[i].Colour, colours[(i + 2) % 3]);
    EXPECT_EQ(kept[i].Bold, i == 2);
    EXPECT_EQ(LogLooks()[i + 1].Bold, i == 2);
  }
  Extras().SetDailyLogFile(true);
  for (int i = 5; i < 1004; ++i)
    Form->AppendLog("line " + std::to_string(i), TLogColour::Blue, false);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"1,001 older lines dropped from the view" + where + log.DailyPath(),
                                                   "line 1001", "line 1002", "line 1003"}));
  Click("BtnClearLog");
  Form->AppendLog("fresh", TLogColour::Blue, false);
  EXPECT_EQ(LogLines(), std::vector<std::string>{"fresh"});
  EXPECT_EQ(log.Lines().size(), 1u);
}

TEST_F(ExtrasTest, WindowPlaceCollapseAndChartSpanComeBackNextRun)
{
  Form->resize(700, 520);
  Click("SpeedButton1");
  Extras().SpeedChart().SetSpan(2);
  Form->close();
  StartWindow();
  Form->RestoreSettings();
  EXPECT_FALSE(Form->Expanded());
  EXPECT_EQ(Form->SavedWidth(), 700);
  EXPECT_EQ(Form->height(), 520);
  EXPECT_EQ(Extras().SpeedChart().Span(), 2);
}

} // namespace

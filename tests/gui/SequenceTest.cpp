// Test sequences in the real window against the simulated controller: a scanned unit runs the
// sequence on the line while the window's port is closed, its verdict is shown and recorded, and
// every way out of a run stops the motor.
#include "CasePrinter.h"
#include "ExtrasFixture.h"
#include "SequenceSteps.h"
#include "UnattendedEnd.h"

#include <QRegularExpression>

#include <filesystem>
#include <optional>

namespace {

using CasePrinter::PrintTo;
using namespace std::chrono_literals;

// Up to speed, held and checked, stopped: a few seconds with the hold's default.
std::string QuickSequence(const char* holdSeconds = "1.5")
{
  return std::string("name: Quick\ncontrollers: 0\nmotor: {encoder: 2, max-speed: 3000, ratio: 1}\nsteps:\n"
                     "  - run: {speed: 600, acceleration: 20, deceleration: 20, checks: [reach: {within: 2}]}\n"
                     "  - hold: {seconds: ") +
         holdSeconds +
         ", checks: [speed: {tolerance: 3%, settle: 0.3, name: held speed}]}\n"
         "  - stop: {checks: [standstill: {within: 2}]}\n";
}

// Records go to a folder of the test's own.
class SequenceTest : public ExtrasTest {
protected:
  void SetUp() override
  {
    ::setenv("XDG_DATA_HOME", DataHome.Path().c_str(), 1);
    ExtrasTest::SetUp();
  }
  void TearDown() override
  {
    ExtrasTest::TearDown();
    ::setenv("XDG_DATA_HOME", DataHomeBefore.c_str(), 1);
  }
  std::filesystem::path Records() const { return DataHome.Path() + "/ozmet/records"; }
  std::size_t RecordsEndingIn(const char* extension) const
  {
    std::size_t count = 0;
    if (std::filesystem::exists(Records()))
      for (const auto& file : std::filesystem::directory_iterator(Records()))
        count += file.path().extension() == extension;
    return count;
  }
  // A row of the steps that reads `text` and shows `shown` in that column.
  bool StepsShow(const char* text, TSequenceSteps::TColumn column, const char* shown) const
  {
    const auto* steps = SequencePanel().findChild<TSequenceSteps*>("TreeSequenceSteps");
    for (const QTreeWidgetItem* item : steps->findItems(text, Qt::MatchContains | Qt::MatchRecursive))
      if (item->text(column).contains(shown))
        return true;
    return false;
  }
  bool Logged(const std::string& text) const
  {
    for (const std::string& line : LogLines())
      if (line.find(text) != std::string::npos)
        return true;
    return false;
  }
  // A Stop reached the controller after the last Run it got.
  bool StoppedAfterRun() const
  {
    const auto frames = FramesSeen();
    const auto run = std::find_if(frames.rbegin(), frames.rend(), [](const auto& f) { return f.at(2) == RunCode; });
    return run != frames.rend() &&
           std::any_of(frames.rbegin(), run, [](const auto& f) { return f.at(2) == StopCode; });
  }

  TTempDir DataHome;
  const std::string DataHomeBefore = std::getenv("XDG_DATA_HOME");
};

struct TOutcomeCase {
  const char* Name;
  std::optional<unsigned> MaxRps; // the motor goes no faster, whatever it is told
  const char* Verdict;
  const char* FailedCheck; // nullptr when none fails
};

const TOutcomeCase OutcomeCases[] = {
    {"Passes", std::nullopt, "PASS", nullptr},
    {"MotorThatCannotReachTheSpeedFails", 5, "FAIL", "held speed"},
};

class SequenceOutcome : public SequenceTest, public ::testing::WithParamInterface<TOutcomeCase> {};

TEST_P(SequenceOutcome, ScannedUnitRunsWithThePortClosedAndItsVerdictIsShownLoggedAndRecorded)
{
  const TOutcomeCase& c = GetParam();
  ASSERT_TRUE(Sim.SetControllerFaults(0, {.MaxRps = c.MaxRps}));
  OpenSequence(QuickSequence());
  ScanUnit("SN-42");
  EXPECT_FALSE(Form->ComPort->IsOpen()) << "the line is the run's";
  EXPECT_TRUE(Logged("Sequence Quick started on unit SN-42"));
  ASSERT_TRUE(WaitFor([&] { return !SequenceVerdict(0).isEmpty(); }, 20s));
  EXPECT_TRUE(SequenceVerdict(0).contains(c.Verdict)) << SequenceVerdict(0).toStdString();
  ASSERT_TRUE(WaitFor([&] { return Form->ComPort->IsOpen(); })) << "the port opened again as it was";
  EXPECT_TRUE(Logged(std::string("$00 ") + c.Verdict));
  EXPECT_EQ(RecordsEndingIn(".json"), 1u);
  if (c.FailedCheck) {
    EXPECT_TRUE(StepsShow(c.FailedCheck, TSequenceSteps::ColResult, "FAIL"));
  }
  EXPECT_TRUE(Messages.empty()) << Messages.front();
}

INSTANTIATE_TEST_SUITE_P(Every, SequenceOutcome, ::testing::ValuesIn(OutcomeCases),
                         [](const auto& info) { return info.param.Name; });

// How the operator, or the system, ends a run while the motor holds its speed.
enum class TWayOut { EscInPanel, ShiftEscInWindow, WindowClosed, Signal };

struct TWayOutCase {
  const char* Name;
  TWayOut Way;
};

const TWayOutCase WayOutCases[] = {
    {"EscInThePanel", TWayOut::EscInPanel},
    {"ShiftEscInTheWindow", TWayOut::ShiftEscInWindow},
    {"WindowClosed", TWayOut::WindowClosed},
    {"Sigterm", TWayOut::Signal},
};

class SequenceWayOut : public SequenceTest, public ::testing::WithParamInterface<TWayOutCase> {
protected:
  void TakeWayOut(TWayOut way)
  {
    switch (way) {
    case TWayOut::EscInPanel:
      QTest::keyClick(SequencePanel().findChild<QLineEdit*>("EditUnitSerial"), Qt::Key_Escape);
      break;
    case TWayOut::ShiftEscInWindow: QTest::keyClick(Find("lbBufRead"), Qt::Key_Escape, Qt::ShiftModifier); break;
    case TWayOut::WindowClosed: Form->close(); break;
    case TWayOut::Signal: TUnattendedEnd(*Form).StopMotor("ended by SIGTERM"); break;
    }
  }
};

TEST_P(SequenceWayOut, DuringTheHoldAbortsTheRunAndTheMotorIsStopped)
{
  const TWayOutCase& c = GetParam();
  OpenSequence(QuickSequence("20")); // its own end far beyond the test's waits
  ScanUnit("SN-7");
  ASSERT_TRUE(WaitFor([&] { return SequencePanel().findChild<QLabel*>("LblSequenceLive")->text().contains("600"); },
                      10s));
  ASSERT_TRUE(WaitFor([&] { return StepsShow("hold", TSequenceSteps::ColTime, "s left"); })) << "the hold has begun";
  TakeWayOut(c.Way);
  ASSERT_TRUE(WaitFor([&] { return StoppedAfterRun(); }));
  EXPECT_TRUE(WaitFor([&] { return Logged("Sequence Quick on unit SN-7: $00 ABORTED"); }));
  if (c.Way == TWayOut::WindowClosed) {
    EXPECT_TRUE(Form->IsClosed());
    return;
  }
  ASSERT_TRUE(WaitFor([&] { return SequenceVerdict(0).contains("ABORTED"); }));
  EXPECT_TRUE(WaitFor([&] { return Form->ComPort->IsOpen(); }));
}

INSTANTIATE_TEST_SUITE_P(Every, SequenceWayOut, ::testing::ValuesIn(WayOutCases),
                         [](const auto& info) { return info.param.Name; });

// What stops a run before anything is sent: the operator is told, the line is left alone.
struct TRefusalCase {
  const char* Name;
  std::string Sequence;
  bool RecordsBlocked; // a file stands where the records' folder would be made
  const char* Said;    // a pattern of the message
};

const TRefusalCase RefusalCases[] = {
    {"ValueThePanelWouldRefuse",
     "name: Bad\ncontrollers: 0\nmotor: {encoder: 2, max-speed: 3000, ratio: 1}\nsteps:\n"
     "  - run: {speed: 600, acceleration: 0.5}\n",
     false, R"(/test\.yaml:5:37: acceleration)"},
    {"RecordsFolderThatCannotBeMade", QuickSequence(), true, "Cannot write records to .*/ozmet/records"},
};

class SequenceRefusal : public SequenceTest, public ::testing::WithParamInterface<TRefusalCase> {};

TEST_P(SequenceRefusal, IsSaidAndNothingIsSent)
{
  const TRefusalCase& c = GetParam();
  if (c.RecordsBlocked)
    std::ofstream(DataHome.Path() + "/ozmet") << "not a folder";
  OpenSequence(c.Sequence);
  ScanUnit("SN-1");
  ASSERT_FALSE(Messages.empty());
  EXPECT_TRUE(QString::fromStdString(Messages.front()).contains(QRegularExpression(c.Said))) << Messages.front();
  EXPECT_TRUE(FramesSeen().empty());
  EXPECT_TRUE(Form->ComPort->IsOpen());
}

INSTANTIATE_TEST_SUITE_P(Every, SequenceRefusal, ::testing::ValuesIn(RefusalCases),
                         [](const auto& info) { return info.param.Name; });

} // namespace

// Test sequences in the real window against the simulated controller: a scanned unit runs the
// sequence on the line while the window's port is closed, its verdict is shown and recorded, and
// every way out of a run stops the motor.
#include "CasePrinter.h"
#include "SequenceFixture.h"
#include "console/FormBus.h"
#include "console/SequenceSteps.h"
#include "console/UnattendedEnd.h"
#include "protocol/OzmCommands.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

#include <algorithm>
#include <filesystem>
#include <optional>

namespace {

using CasePrinter::PrintTo;
using namespace std::chrono_literals;

struct TSerialFieldsCase {
  const char* Name;
  const char* Controllers;
  std::vector<std::string> Captions; // a field each, in order
};

const TSerialFieldsCase SerialFieldsCases[] = {
    {"OneControllerAsAlways", "0", {"Unit serial:"}},
    {"OneAControllerCaptionedWithItsAddress", "1-3", {"Unit serial $01:", "Unit serial $02:", "Unit serial $03:"}},
    {"AddressesAsTheWindowWritesThem", "[9, 10]", {"Unit serial $09:", "Unit serial $0A:"}},
};

class SequenceSerialFields : public SequenceTest, public ::testing::WithParamInterface<TSerialFieldsCase> {};

// Fields of the sequence opened before go: another file asks for its own controllers.
TEST_P(SequenceSerialFields, OneFieldAControllerOfTheSequenceOpened)
{
  const TSerialFieldsCase& c = GetParam();
  OpenSequence(QuickSequence("1.5", "4-7"));
  OpenSequence(QuickSequence("1.5", c.Controllers));
  ASSERT_TRUE(Messages.empty()) << Messages.front();
  for (std::size_t field = 0; field < c.Captions.size(); ++field) {
    ASSERT_NE(SerialField(field), nullptr) << field;
    EXPECT_EQ(CaptionOf(SerialField(field)), c.Captions[field]);
  }
  EXPECT_EQ(SerialField(c.Captions.size()), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Every, SequenceSerialFields, ::testing::ValuesIn(SerialFieldsCases),
                         [](const auto& info) { return info.param.Name; });

struct TOutcomeCase {
  const char* Name;
  std::optional<unsigned> MaxRps; // the motor goes no faster, whatever it is told
  const char* Verdict;
  const char* FailedCheck; // nullptr when none fails
  const char* SkippedStep; // after every controller failed; nullptr when none is
};

const TOutcomeCase OutcomeCases[] = {
    {"Passes", std::nullopt, "PASS", nullptr, nullptr},
    {"MotorThatCannotReachTheSpeedFails", 5, "FAIL", "reach", "hold"},
};

class SequenceOutcome : public SequenceTest, public ::testing::WithParamInterface<TOutcomeCase> {};

TEST_P(SequenceOutcome, ScannedUnitRunsWithThePortClosedAndItsVerdictIsShownLoggedAndRecorded)
{
  const TOutcomeCase& c = GetParam();
  ASSERT_TRUE(Sim.SetControllerFaults(0, {.MaxRps = c.MaxRps}));
  OpenSequence(QuickSequence());
  ScanUnit("SN-42");
  EXPECT_FALSE(Form->ComPort->IsOpen()) << "the line is the run's";
  EXPECT_TRUE(Logged("Sequence Quick started on $00 unit SN-42"));
  ASSERT_TRUE(WaitFor([&] { return !SequenceVerdict(0).isEmpty(); }, 20s));
  EXPECT_TRUE(SequenceVerdict(0).contains(c.Verdict)) << SequenceVerdict(0).toStdString();
  ASSERT_TRUE(WaitFor([&] { return Form->ComPort->IsOpen(); })) << "the port opened again as it was";
  EXPECT_TRUE(Logged(std::string("Sequence Quick ended: $00 unit SN-42 ") + c.Verdict));
  EXPECT_EQ(RecordsEndingIn(".json"), 1u);
  EXPECT_EQ(StoredVerdicts("SN-42"), std::vector<std::string>{c.Verdict});
  if (c.FailedCheck) {
    EXPECT_TRUE(StepsShow(c.FailedCheck, TSequenceSteps::ColResult, "FAIL"));
  }
  if (c.SkippedStep) {
    EXPECT_TRUE(StepsShow(c.SkippedStep, TSequenceSteps::ColResult, "skipped"));
    EXPECT_FALSE(StepsShow(c.SkippedStep, TSequenceSteps::ColResult, "PASS"));
  }
  EXPECT_TRUE(Messages.empty()) << Messages.front();
}

INSTANTIATE_TEST_SUITE_P(Every, SequenceOutcome, ::testing::ValuesIn(OutcomeCases),
                         [](const auto& info) { return info.param.Name; });

struct TUnitsCase {
  const char* Name;
  const char* Scanned[2]; // into $01's field, then $02's
  std::string Told[2];    // each unit as the log and the verdicts name it
};

const TUnitsCase UnitsCases[] = {
    {"EachUnitItsOwnSerial", {"SN-A", "SN-B"}, {"$01 unit SN-A", "$02 unit SN-B"}},
    {"SerialsTrimmed", {"  SN-A ", "SN-B  "}, {"$01 unit SN-A", "$02 unit SN-B"}},
};

class SequenceUnits : public SequenceOnBus, public ::testing::WithParamInterface<TUnitsCase> {};

TEST_P(SequenceUnits, EnterGoesOnToTheNextControllersSerialAndTheLastRunsEachUnitUnderItsOwn)
{
  const TUnitsCase& c = GetParam();
  OpenSequence(QuickSequence("2", "1-2"));
  Form->findChild<QAction*>("MmRunSequence")->trigger();
  ASSERT_TRUE(WaitFor([&] { return SerialField(0)->hasFocus(); })) << "the first field waits for the scan";
  Scan(c.Scanned[0]);
  EXPECT_TRUE(SerialField(1)->hasFocus());
  EXPECT_FALSE(Extras().Sequence().Running()) << "Enter in the first field only goes on";
  Scan(c.Scanned[1]);
  EXPECT_TRUE(Extras().Sequence().Running());
  EXPECT_TRUE(Logged("Sequence Quick started on " + c.Told[0] + ", " + c.Told[1]));
  ASSERT_TRUE(WaitFor([&] { return !SequenceVerdict(2).isEmpty(); }, 30s));
  // The verdicts show at once; the log's end line follows once the run is in the records store.
  ASSERT_TRUE(WaitFor([&] { return !EndLine().empty(); }));
  for (std::uint8_t address : {1, 2}) {
    const std::string& told = c.Told[address - 1];
    EXPECT_TRUE(SequenceVerdict(address).contains(QString::fromStdString(told))) << told;
    EXPECT_TRUE(SequenceVerdict(address).contains("PASS")) << SequenceVerdict(address).toStdString();
    EXPECT_NE(EndLine().find(told + " PASS"), std::string::npos) << EndLine();
  }
  EXPECT_EQ(RecordsEndingIn(".json"), 2u) << "a record a unit";

  // Open report opens the first unit's report until another unit's verdict is clicked.
  EXPECT_NE(ChosenReportText().find("Controller $01"), std::string::npos);
  QTest::mouseClick(SequencePanel().findChild<QLabel*>("LblVerdict02"), Qt::LeftButton);
  EXPECT_NE(ChosenReportText().find("Controller $02"), std::string::npos);

  // The next units' scans replace these serials.
  ASSERT_TRUE(WaitFor([&] { return SerialField(0)->hasFocus(); }));
  EXPECT_EQ(SerialField(0)->selectedText().toStdString(), SerialField(0)->text().toStdString());
  QTest::keyClicks(QApplication::focusWidget(), "SN-C");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  QTest::keyClicks(QApplication::focusWidget(), "SN-D");
  EXPECT_EQ(SerialField(0)->text().toStdString(), "SN-C");
  EXPECT_EQ(SerialField(1)->text().toStdString(), "SN-D");
  EXPECT_TRUE(Messages.empty()) << Messages.front();
}

INSTANTIATE_TEST_SUITE_P(Every, SequenceUnits, ::testing::ValuesIn(UnitsCases),
                         [](const auto& info) { return info.param.Name; });

// How the operator, or the system, ends a run while the motor holds its speed; a controller of the bus view that
// the run does not drive is stopped too by the keys that stop every controller.
enum class TWayOut { EscInPanel, F5ThenEscInWindow, ShiftEscInWindow, WindowClosed, Signal };

struct TWayOutCase {
  const char* Name;
  TWayOut Way;
  bool StopsTheListed;
};

const TWayOutCase WayOutCases[] = {
    {"EscInThePanel", TWayOut::EscInPanel, false},
    {"F5ThenEscInTheWindow", TWayOut::F5ThenEscInWindow, false},
    {"ShiftEscInTheWindow", TWayOut::ShiftEscInWindow, true},
    {"WindowClosed", TWayOut::WindowClosed, false}, // the operator's own end: the listed are theirs to stop
    {"Sigterm", TWayOut::Signal, true},
};

class SequenceWayOut : public SequenceTest, public ::testing::WithParamInterface<TWayOutCase> {
protected:
  void TakeWayOut(TWayOut way)
  {
    switch (way) {
    case TWayOut::EscInPanel:
      QTest::keyClick(SequencePanel().findChild<QLineEdit*>("EditUnitSerial"), Qt::Key_Escape);
      break;
    case TWayOut::F5ThenEscInWindow:
      QTest::keyClick(Find("lbBufRead"), Qt::Key_F5); // refused in the log: a box would take the Esc
      QTest::keyClick(Find("lbBufRead"), Qt::Key_Escape);
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
  Extras().MmBusViewClick();
  Extras().BusView().findChild<QLineEdit*>("EditBusAddresses")->setText("5"); // silent: nobody answers there
  QTest::mouseClick(Extras().BusView().findChild<QPushButton*>("BtnBusAdd"), Qt::LeftButton);
  OpenSequence(QuickSequence("20")); // its own end far beyond the test's waits
  ScanUnit("SN-7");
  ASSERT_TRUE(WaitFor([&] { return SequencePanel().findChild<QLabel*>("LblSequenceLive")->text().contains("600"); },
                      10s));
  ASSERT_TRUE(WaitFor([&] { return StepsShow("hold", TSequenceSteps::ColTime, "s left"); })) << "the hold has begun";
  TakeWayOut(c.Way);
  ASSERT_TRUE(WaitFor([&] { return StoppedAfterRun(); }));
  EXPECT_TRUE(WaitFor([&] { return Logged("Sequence Quick ended: $00 unit SN-7 ABORTED"); }));
  const auto listedStopped = [&] {
    const auto frames = FramesSeen();
    return std::any_of(frames.begin(), frames.end(), [](const auto& f) { return f[1] == 5 && f[2] == CmdStop; });
  };
  if (c.StopsTheListed) {
    EXPECT_TRUE(WaitFor(listedStopped)) << "the listed controller $05 was never stopped";
  }
  EXPECT_TRUE(Messages.empty()) << Messages.front();
  EXPECT_EQ(StoredVerdicts("SN-7"), std::vector<std::string>{"ABORTED"});
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

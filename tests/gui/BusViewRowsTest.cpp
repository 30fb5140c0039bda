// The bus view's rows as the operator reads and edits them: what is not live is greyed with its time
// or its reason, rows removed by the button or the Delete key, the label editor's keys, the log
// scrolled to a bus line, columns fitted to what they show, the panel's own row marked.
#include "BusViewFixture.h"
#include "TempDir.h"
#include "bus/BusListFile.h"

#include <QApplication>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QScrollBar>

#include <cstdlib>

namespace {

using namespace std::chrono_literals;

// $01 up to speed and held long beyond the test's waits, its record in a folder of the test's own.
constexpr const char* LongSequence =
    "name: Long\ncontrollers: 1\nmotor: {encoder: 2, max-speed: 3000, ratio: 1}\nsteps:\n"
    "  - run: {speed: 600, acceleration: 20, deceleration: 20, checks: [reach: {within: 2}]}\n"
    "  - hold: {seconds: 30, checks: [speed: {tolerance: 3%, settle: 0.3}]}\n"
    "  - stop: {checks: [standstill: {within: 2}]}\n";

class RecordsAside {
public:
  RecordsAside() { ::setenv("XDG_DATA_HOME", Home.Path().c_str(), 1); }
  ~RecordsAside() { ::setenv("XDG_DATA_HOME", Before.c_str(), 1); }

private:
  TTempDir Home;
  const std::string Before = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
};

const QRegularExpression StaleSpeed("^0 rpm at \\d\\d:\\d\\d:\\d\\d$");

// What keeps the rows from being answered, and what each row shows meanwhile.
enum class TPause { ControllerSilent, PollUnticked, SequenceRuns };

struct TStaleCase {
  const char* Name;
  TPause Pause;
  std::vector<bool> Greyed; // $01..$04
  bool Paused;              // the speed says why instead of the last one
};

const TStaleCase StaleCases[] = {
    {"ASilentControllersRowKeepsItsLastSpeedWithItsTime", TPause::ControllerSilent, {false, true, false, true}, false},
    {"PollUntickedEveryRowKeepsItsLastSpeedWithItsTime", TPause::PollUnticked, {true, true, true, true}, false},
    // $01 is the run's: its row shows the run's own answers, live; the others say they wait.
    {"ASequenceOnTheLinePausesTheOtherRows", TPause::SequenceRuns, {false, true, true, true}, true},
};

class BusViewStale : public BusViewTest, public ::testing::WithParamInterface<TStaleCase> {};

TEST_P(BusViewStale, ARowNotAnsweredIsGreyedWithItsLastAnswersTime)
{
  const TStaleCase& c = GetParam();
  RecordsAside records;
  ASSERT_TRUE(WaitFor([&] { return Live(0) && Live(1) && Live(2) && Cell(1, TFormBus::ColSpeed) == "0 rpm"; }, 15s))
      << State();
  EXPECT_EQ(Cell(3, TFormBus::ColSpeed), "unknown");
  const std::size_t missing = Cell(1, TFormBus::ColMissing).toULongLong();
  switch (c.Pause) {
  case TPause::ControllerSilent:
    ASSERT_TRUE(Bus.SetControllerFaults(2, {.Silent = true}));
    ASSERT_TRUE(WaitFor([&] { return Cell(1, TFormBus::ColMissing).toULongLong() > missing; }, 10s));
    ASSERT_TRUE(WaitFor([&] { return Live(0) && Live(2); })) << "the others answer on";
    break;
  case TPause::PollUnticked: QTest::mouseClick(View().findChild<QCheckBox*>("CbBusPoll"), Qt::LeftButton); break;
  case TPause::SequenceRuns:
    OpenSequence(LongSequence);
    ScanUnit("SN-1");
    // The panel's speed reads as the bus view's row does: "600 rpm", not "600.0 rpm".
    ASSERT_TRUE(WaitFor(
        [&] { return SequencePanel().findChild<QLabel*>("LblSequenceLive")->text().contains("$01  600 rpm forward"); },
        10s));
    break;
  }
  for (int row = 0; row < 4; ++row) {
    EXPECT_TRUE(WaitFor([&] { return Greyed(row) == c.Greyed[row]; })) << "$0" << row + 1;
    const QString speed = Cell(row, TFormBus::ColSpeed);
    if (c.Paused && row == 0)
      EXPECT_TRUE(WaitFor([&] { return Cell(0, TFormBus::ColSpeed) == "600 rpm"; })) << Cell(0, 2).toStdString();
    else if (c.Paused)
      EXPECT_EQ(speed.toStdString(), TFormBus::PausedText) << row;
    else if (row == 3)
      EXPECT_EQ(speed.toStdString(), "unknown");
    else if (c.Greyed[row])
      EXPECT_EQ(speed, "0 rpm at " + Cell(row, TFormBus::ColLast)) << "the time of its own last answer";
    else
      EXPECT_EQ(speed.toStdString(), "0 rpm");
  }
  if (c.Pause != TPause::SequenceRuns)
    return;
  // After the run: $02, silent since, shows what it said before the run, at that time; the others answer again.
  const QString lastBefore = Cell(1, TFormBus::ColLast);
  const std::vector<QString> answersBefore = Column(TFormBus::ColAnswers);
  ASSERT_TRUE(Bus.SetControllerFaults(2, {.Silent = true}));
  QTest::keyClick(SequencePanel().findChild<QLineEdit*>("EditUnitSerial"), Qt::Key_Escape);
  ASSERT_TRUE(WaitFor([&] { return SequenceVerdict(1).contains("ABORTED") && Form->ComPort->IsOpen(); }, 10s));
  // Watched at every turn of the event loop: a row is black again only with an answer given since the run.
  int liveUnanswered = -1;
  ASSERT_TRUE(WaitFor(
      [&] {
        for (int row = 0; row < 4; ++row)
          if (!Greyed(row) && Cell(row, TFormBus::ColAnswers) == answersBefore[row])
            liveUnanswered = row;
        return Live(0) && Live(2);
      },
      10s))
      << State();
  EXPECT_EQ(liveUnanswered, -1) << "shown live with what it said before the run";
  EXPECT_TRUE(Greyed(1));
  EXPECT_EQ(Cell(1, TFormBus::ColSpeed).toStdString(), ("0 rpm at " + lastBefore).toStdString());
  EXPECT_TRUE(StaleSpeed.match(Cell(1, TFormBus::ColSpeed)).hasMatch()) << Cell(1, TFormBus::ColSpeed).toStdString();
  EXPECT_EQ(Cell(3, TFormBus::ColSpeed).toStdString(), "unknown");
}

INSTANTIATE_TEST_SUITE_P(Every, BusViewStale, ::testing::ValuesIn(StaleCases),
                         [](const auto& info) { return info.param.Name; });

// Rows chosen by clicks (Ctrl adds one), removed by the button or the Delete key: exactly the others stay, in the
// view and in the line's file that ozmetctl's stop --all-found reads.
enum class TRemoveBy { Button, DeleteKey };

struct TRemovalCase {
  const char* Name;
  std::vector<int> Clicked; // rows, in the order clicked
  TRemoveBy By;
  std::vector<std::uint8_t> Kept;
};

const TRemovalCase RemovalCases[] = {
    {"TwoAdjacentByRemove", {1, 2}, TRemoveBy::Button, {1, 4}},
    {"TwoAdjacentByDelete", {1, 2}, TRemoveBy::DeleteKey, {1, 4}},
    {"TwoApartByDelete", {0, 2}, TRemoveBy::DeleteKey, {2, 4}},
    {"ChosenUpwardsByRemove", {3, 1}, TRemoveBy::Button, {1, 3}},
    {"OneByDelete", {3}, TRemoveBy::DeleteKey, {1, 2, 3}},
};

class BusViewRemoval : public BusViewTest, public ::testing::WithParamInterface<TRemovalCase> {};

TEST_P(BusViewRemoval, ExactlyTheChosenRowsGo)
{
  const TRemovalCase& c = GetParam();
  for (std::size_t click = 0; click < c.Clicked.size(); ++click)
    ClickRow(c.Clicked[click], click ? Qt::ControlModifier : Qt::NoModifier);
  ASSERT_EQ(Grid()->selectionModel()->selectedRows().size(), static_cast<qsizetype>(c.Clicked.size()));
  if (c.By == TRemoveBy::Button)
    Click("BtnBusRemove");
  else
    QTest::keyClick(Grid(), Qt::Key_Delete);
  std::vector<std::string> shown;
  for (std::uint8_t address : c.Kept)
    shown.push_back(QString::asprintf("$%02X", address).toStdString());
  std::vector<std::string> view;
  for (const QString& address : Column(TFormBus::ColAddress))
    view.push_back(address.toStdString());
  EXPECT_EQ(view, shown);
  EXPECT_EQ(TBusListFile(Data.Path(), Bus.DevicePath()).Load().Addresses(), c.Kept);
}

INSTANTIATE_TEST_SUITE_P(Every, BusViewRemoval, ::testing::ValuesIn(RemovalCases),
                         [](const auto& info) { return info.param.Name; });

// Keys typed into the label editor are the editor's: Esc ends the edit without a Stop, Delete deletes a
// character, not the row. Esc elsewhere in the window stays the motor's Stop.
struct TLabelKeysCase {
  const char* Name;
  std::vector<Qt::Key> Keys; // after "belt" is typed
  const char* Label;         // as kept once the editor is gone
};

const TLabelKeysCase LabelKeysCases[] = {
    {"EscEndsTheEditOnly", {Qt::Key_Escape}, ""},
    {"DeleteDeletesACharacter", {Qt::Key_Home, Qt::Key_Delete, Qt::Key_Return}, "elt"},
    {"EnterKeepsTheLabel", {Qt::Key_Return}, "belt"},
};

class BusViewLabelKeys : public BusViewTest, public ::testing::WithParamInterface<TLabelKeysCase> {};

TEST_P(BusViewLabelKeys, GoToTheEditor)
{
  const TLabelKeysCase& c = GetParam();
  ASSERT_TRUE(WaitFor([&] { return Idle(); }));
  const QRect cell = Grid()->visualItemRect(Grid()->item(1, TFormBus::ColLabel));
  QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, {}, cell.center()); // a double click's first press
  QTest::mouseDClick(Grid()->viewport(), Qt::LeftButton, {}, cell.center());
  QPointer<QLineEdit> editor = Grid()->viewport()->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr) << "a double click opens the label's editor";
  const std::size_t before = Bus.FramesReceived();
  QTest::keyClicks(editor, "belt");
  for (Qt::Key key : c.Keys)
    QTest::keyClick(editor, key);
  EXPECT_TRUE(WaitFor([&] { return !editor || !editor->isVisible(); })) << "the edit has ended";
  EXPECT_EQ(Cell(1, TFormBus::ColLabel).toStdString(), c.Label);
  EXPECT_EQ(Column(TFormBus::ColAddress).size(), 4u);
  // A whole round since the keys: a Stop they sent would be on the line before it.
  ASSERT_TRUE(WaitFor([&] { return Asked(before)[4].first >= 1 && Asked(before)[1].first >= 1; }, 10s)) << State();
  for (const auto& [address, asked] : Asked(before))
    EXPECT_EQ(asked.second, 0) << "a Stop to $" << int(address);

  const std::size_t atEsc = Bus.FramesReceived();
  QTest::keyClick(Grid(), Qt::Key_Escape);
  EXPECT_TRUE(WaitFor([&] { return Asked(atEsc)[0].second == 1; })) << "Esc beside the editor stops the motor";
}

INSTANTIATE_TEST_SUITE_P(Every, BusViewLabelKeys, ::testing::ValuesIn(LabelKeysCases),
                         [](const auto& info) { return info.param.Name; });

// A bus line in the log scrolls it to its end, even when the operator had scrolled up, as the panel's lines do.
struct TLogScrollCase {
  const char* Name;
  std::uint8_t Address;
  TSimControllerFaults Faults;
  const char* Line;
};

const TLogScrollCase LogScrollCases[] = {
    {"FallingSilent", 3, {.Silent = true}, "Bus: $03 does not answer its status request"},
    {"AnsweringAgain", 4, {}, "Bus: $04 answers again"},
};

class BusViewLogScroll : public BusViewTest, public ::testing::WithParamInterface<TLogScrollCase> {};

TEST_P(BusViewLogScroll, TheNewestBusLineIsInView)
{
  const TLogScrollCase& c = GetParam();
  ASSERT_TRUE(WaitFor(
      [&] {
        const auto log = LogLines();
        return std::find(log.begin(), log.end(), "Bus: $04 does not answer its status request") != log.end();
      },
      10s));
  for (int line = 0; line < 200; ++line)
    Form->AppendLog("filler " + std::to_string(line), TLogColour::Blue, false);
  QScrollBar* bar = Find<QPlainTextEdit>("lbBufRead")->verticalScrollBar();
  ASSERT_TRUE(WaitFor([&] { return bar->maximum() > 0; }));
  bar->setValue(0);
  ASSERT_TRUE(Bus.SetControllerFaults(c.Address, c.Faults));
  ASSERT_TRUE(WaitFor([&] { return !LogLines().empty() && LogLines().back() == c.Line; }, 10s)) << State();
  EXPECT_TRUE(WaitFor([&] { return bar->value() == bar->maximum(); })) << bar->value() << " of " << bar->maximum();
}

INSTANTIATE_TEST_SUITE_P(Every, BusViewLogScroll, ::testing::ValuesIn(LogScrollCases),
                         [](const auto& info) { return info.param.Name; });

// Every column shows its whole content after each update, not only when rows come or go; at the window's
// smallest size no column that matters lies beyond the right edge.
struct TColumnsCase {
  const char* Name;
  const char* Label; // typed for $02
  bool SilenceFirst; // $01 falls silent: its speed gets its time
  QSize Size;
};

const TColumnsCase ColumnsCases[] = {
    {"ALongerLabel", "conveyor, upper belt", false, {900, 300}},
    {"ASpeedGoneStale", "", true, {900, 300}},
    {"TheSmallestWindow", "conveyor", true, {613, 488}},
    {"ALabelBeyondItsWidthIsElided", "the conveyor that carries the parts to the upper belt", false, {613, 488}},
};

class BusViewColumns : public BusViewTest, public ::testing::WithParamInterface<TColumnsCase> {};

TEST_P(BusViewColumns, FitTheirContentAfterEveryUpdate)
{
  const TColumnsCase& c = GetParam();
  View().resize(c.Size);
  ASSERT_TRUE(WaitFor([&] { return Live(0) && Cell(0, TFormBus::ColSpeed) == "0 rpm"; }, 15s)) << State();
  if (*c.Label)
    Grid()->item(1, TFormBus::ColLabel)->setText(c.Label);
  if (c.SilenceFirst) {
    ASSERT_TRUE(Bus.SetControllerFaults(1, {.Silent = true}));
    ASSERT_TRUE(WaitFor([&] { return StaleSpeed.match(Cell(0, TFormBus::ColSpeed)).hasMatch(); }, 10s));
  }
  QHeaderView* header = Grid()->horizontalHeader();
  // As wide as its widest cell or its caption; the label narrower only where the others leave it no room.
  const auto fitted = [&](int column) {
    const int fit = std::max(static_cast<const QAbstractItemView*>(Grid())->sizeHintForColumn(column),
                             header->sectionSizeHint(column));
    const int width = header->sectionSize(column);
    return Grid()->isColumnHidden(column) || width == fit ||
           (column == TFormBus::ColLabel && width < fit && width >= TFormBus::LabelWidthMin &&
            Grid()->horizontalScrollBar()->maximum() == 0);
  };
  EXPECT_TRUE(WaitFor([&] {
    for (int column = 0; column < TFormBus::ColumnCount; ++column)
      if (!fitted(column))
        return false;
    return true;
  })) << "fitted within a redraw";
  for (int column = 0; column < TFormBus::ColumnCount; ++column)
    EXPECT_TRUE(fitted(column)) << "column " << column << ": " << header->sectionSize(column) << " wide";
  EXPECT_EQ(Grid()->item(1, TFormBus::ColLabel)->toolTip().toStdString(), c.Label) << "the whole label";
  EXPECT_EQ(Grid()->item(0, TFormBus::ColSpeed)->textAlignment(), Qt::AlignRight | Qt::AlignVCenter);
  std::string widths;
  for (int column = 0; column < TFormBus::ColumnCount; ++column)
    widths += std::to_string(header->sectionSize(column)) + (Grid()->isColumnHidden(column) ? "(hidden) " : " ");
  EXPECT_EQ(Grid()->horizontalScrollBar()->maximum(), 0) << "nothing beyond the right edge at " << c.Size.width()
                                                         << ": " << widths << "in " << Grid()->viewport()->width();
  EXPECT_EQ(Cell(3, TFormBus::ColFeedback).toStdString(), "unknown") << "never answered";
}

INSTANTIATE_TEST_SUITE_P(Every, BusViewColumns, ::testing::ValuesIn(ColumnsCases),
                         [](const auto& info) { return info.param.Name; });

// Stop all wears the panel's Stop picture, so that it reads as a Stop, not as the Remove beside it.
TEST_F(BusViewTest, StopAllLooksLikeThePanelsStop)
{
  const QIcon stop = Find<QAbstractButton>("BtnStop")->icon();
  const QIcon stopAll = View().findChild<QPushButton*>("BtnStopAll")->icon();
  ASSERT_FALSE(stopAll.isNull());
  EXPECT_EQ(stopAll.pixmap(41, 33).toImage(), stop.pixmap(41, 33).toImage());
}

// The panel's own row is bold, and the mark follows the address the panel applies.
TEST_F(BusViewTest, ThePanelsOwnRowIsMarkedAndFollowsItsAddress)
{
  struct TStep {
    const char* Address;
    int MarkedRow;
  };
  const TStep steps[] = {{"$03", 2}, {"$01", 0}, {"$04", 3}};
  for (const TStep& step : steps) {
    Type("EditMotorAddress", step.Address);
    Click("BtnMotorApply");
    EXPECT_TRUE(WaitFor([&] {
      for (int row = 0; row < Grid()->rowCount(); ++row)
        for (int column : {TFormBus::ColAddress, TFormBus::ColSpeed})
          if (Grid()->item(row, column)->font().bold() != (row == step.MarkedRow))
            return false;
      return true;
    })) << step.Address;
  }
}

} // namespace

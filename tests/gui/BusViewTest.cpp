// The bus view in the real window against four simulated controllers on one line: one slow, one
// silent. What each row shows, the poll in turn, choosing a row, Stop all, the chosen ones charted.
#include "BusViewFixture.h"
#include "bus/BusListFile.h"
#include "console/FormRecords.h"
#include "console/UnattendedEnd.h"

namespace {

using namespace std::chrono_literals;

// Each row shows what its own controller last said, the silent one unknown; the list is kept for
// the line, where ozmetctl reads it.
TEST_F(BusViewTest, EachRowShowsItsOwnControllerAndTheSilentOneUnknown)
{
  Type("EditMotorAddress", "$03");
  Click("BtnMotorApply");
  Click("BtnRun");
  ASSERT_TRUE(WaitFor(
      [&] {
        return Cell(2, TFormBus::ColSpeed) == LastAnswerSpeed(3) && LastAnswerSpeed(3) != "0 rpm" &&
               Cell(0, TFormBus::ColSpeed) == "0 rpm" && Cell(1, TFormBus::ColAnswers).toInt() >= 2 &&
               Cell(3, TFormBus::ColMissing).toInt() >= 2 && Asked()[3].first >= 2;
      },
      15s))
      << State() << Cell(2, TFormBus::ColSpeed).toStdString() << " / " << LastAnswerSpeed(3).toStdString();
  EXPECT_TRUE(Cell(3, TFormBus::ColSpeed).startsWith("unknown")) << Cell(3, TFormBus::ColSpeed).toStdString();
  EXPECT_EQ(Cell(3, TFormBus::ColLast), "never");
  const std::vector<std::string> log = LogLines();
  EXPECT_EQ(std::count(log.begin(), log.end(), "Bus: $04 does not answer its status request"), 1)
      << "said once when it falls silent, not at every round";
  EXPECT_EQ(Cell(0, TFormBus::ColFeedback), "on");
  for (std::uint8_t address : {1, 2, 3, 4})
    EXPECT_GE(Asked()[address].first, 2) << "every listed controller is asked in turn: $" << int(address);

  auto* grid = View().findChild<QTableWidget*>("GridBus");
  grid->item(1, TFormBus::ColLabel)->setText("slow one");
  const TBusList kept = TBusListFile(Data.Path(), Bus.DevicePath()).Load();
  EXPECT_EQ(kept.Addresses(), (std::vector<std::uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(TBusListFile(Data.Path(), Bus.DevicePath()).Load().Controllers()[1].Label(), "slow one");

  grid->selectRow(0);
  EXPECT_EQ(Find<QLineEdit>("EditMotorAddress")->text(), "$01") << "as Use address: typed into the panel";
}

// Stop all from the bus view's keys overtakes what is on the line and reaches every controller once,
// the silent one twice; Esc there stays the panel's own Stop.
TEST_F(BusViewTest, StopAllReachesEveryControllerOnceAndTheSilentOneTwice)
{
  ASSERT_TRUE(WaitFor([&] { return Asked()[4].first >= 1 && Asked()[2].first >= 1; }, 15s)) << State();
  ASSERT_TRUE(WaitFor([&] { return !Idle(); })) << "an exchange under way";
  const std::size_t before = Bus.FramesReceived();
  QTest::keyClick(View().findChild<QTableWidget*>("GridBus"), Qt::Key_Escape, Qt::ShiftModifier);
  ASSERT_TRUE(WaitFor([&] { return Asked(before)[4].second == 2 && Idle(); }, 10s));
  const auto stops = Asked(before);
  EXPECT_EQ(stops.at(1).second, 1);
  EXPECT_EQ(stops.at(2).second, 1);
  EXPECT_EQ(stops.at(3).second, 1);
  EXPECT_EQ(stops.at(0).second, 2) << "the panel's own controller, not listed (and not there), is stopped too";
  std::size_t index = 0, firstStop = 0;
  for (const TSimTraffic& t : Bus.Traffic())
    if (t.Direction == TSimTraffic::TDirection::Received && index++ >= before && !firstStop && t.Bytes[2] == StopCode)
      firstStop = index;
  EXPECT_LE(firstStop, before + 2) << "behind at most the frame that was on the wire";
  const std::vector<std::string> log = LogLines();
  EXPECT_NE(std::find(log.begin(), log.end(), "Stop $04: no answer"), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "Stop $01: answered"), log.end());

  const std::size_t atEsc = Bus.FramesReceived();
  QTest::keyClick(View().findChild<QTableWidget*>("GridBus"), Qt::Key_Escape);
  ASSERT_TRUE(WaitFor([&] { return Asked(atEsc)[0].second == 1; }));
  EXPECT_EQ(Asked(atEsc)[1].second, 0);
}

// The records, which an operator may read while motors run: Shift+Esc there stops every controller, Esc the
// panel's; F5 there runs nothing.
TEST_F(BusViewTest, TheRecordsViewsKeysStopAsTheWindowsDo)
{
  Form->findChild<QAction*>("MmRecords")->trigger();
  ASSERT_TRUE(Extras().RecordsView().isVisible());
  auto* unit = Extras().RecordsView().findChild<QLineEdit*>("EditRecordsUnit");
  ASSERT_TRUE(WaitFor([&] { return Idle(); }));
  std::size_t before = Bus.FramesReceived();
  QTest::keyClick(unit, Qt::Key_Escape, Qt::ShiftModifier);
  ASSERT_TRUE(WaitFor([&] { return Asked(before)[4].second == 2 && Idle(); }, 10s)) << State();
  for (std::uint8_t address : {1, 2, 3})
    EXPECT_EQ(Asked(before)[address].second, 1) << int(address);
  before = Bus.FramesReceived();
  QTest::keyClick(unit, Qt::Key_F5);
  QTest::keyClick(unit, Qt::Key_Escape);
  ASSERT_TRUE(WaitFor([&] { return Asked(before)[0].second == 1 && Idle(); })) << State();
  EXPECT_EQ(Asked(before)[1].second, 0);
  std::size_t index = 0;
  for (const TSimTraffic& t : Bus.Traffic())
    if (t.Direction == TSimTraffic::TDirection::Received && index++ >= before) {
      EXPECT_NE(t.Bytes.size() > 2 ? t.Bytes[2] : 0, 0x51) << "a Run to $" << int(t.Bytes[1]);
    }
}

// A row chosen puts its address in the panel, not yet in force: F5 is refused in the log and nothing runs; Esc stops
// the controller in use and names it, since the panel shows another.
TEST_F(BusViewTest, KeysNeverActOnAnAddressThePanelDoesNotShow)
{
  View().findChild<QTableWidget*>("GridBus")->selectRow(2);
  ASSERT_EQ(Find<QLineEdit>("EditMotorAddress")->text(), "$03");
  ASSERT_TRUE(WaitFor([&] { return Idle(); }));
  const std::size_t before = Bus.FramesReceived();
  QTest::keyClick(Form.get(), Qt::Key_F5);
  QTest::keyClick(Form.get(), Qt::Key_Escape);
  ASSERT_TRUE(WaitFor([&] { return Asked(before)[0].second == 1 && Idle(); })) << State();
  std::size_t index = 0;
  for (const TSimTraffic& t : Bus.Traffic())
    if (t.Direction == TSimTraffic::TDirection::Received && index++ >= before) {
      EXPECT_NE(t.Bytes.size() > 2 ? t.Bytes[2] : 0, 0x51) << "a Run to $" << int(t.Bytes[1]);
    }
  EXPECT_EQ(Asked(before)[3].second, 0) << "the panel's $03 is not in force: nothing goes there";
  const std::vector<std::string> log = LogLines();
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "Run refused: the motor panel shows $03, not applied yet; the controller in use is $00. Apply the "
                      "motor parameters first."),
            log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "Stop to $00, the controller in use (the panel's $03 is not applied yet)"),
            log.end());
}

// A row says "may run" from the window's Run to it until a Stop to it is answered: the silent $04 keeps it through
// Stop all, and loses it once it answers again.
TEST_F(BusViewTest, ARowSaysMayRunUntilAStopToItIsAnswered)
{
  Type("EditMotorAddress", "$04");
  Click("BtnMotorApply");
  ASSERT_TRUE(WaitFor([&] { return Form->Datas->MotorAddress == 4 && Idle(); })) << State();
  Click("BtnRun");
  ASSERT_TRUE(WaitFor([&] { return Cell(3, TFormBus::ColAddress) == "$04 may run" && Idle(); })) << State();
  EXPECT_EQ(Cell(2, TFormBus::ColAddress), "$03");
  auto* grid = View().findChild<QTableWidget*>("GridBus");
  const std::size_t before = Bus.FramesReceived();
  QTest::keyClick(grid, Qt::Key_Escape, Qt::ShiftModifier);
  ASSERT_TRUE(WaitFor([&] { return Asked(before)[4].second == 2 && Idle(); }, 10s)) << State();
  EXPECT_EQ(Cell(3, TFormBus::ColAddress), "$04 may run") << "its Stops went unanswered";
  EXPECT_EQ(Form->RunSentTo(), (std::set<std::uint8_t>{4}));
  ASSERT_TRUE(Bus.SetControllerFaults(4, {}));
  QTest::keyClick(grid, Qt::Key_Escape, Qt::ShiftModifier);
  EXPECT_TRUE(WaitFor([&] { return Cell(3, TFormBus::ColAddress) == "$04" && Idle(); }, 10s)) << State();
  EXPECT_TRUE(Form->RunSentTo().empty());
}

// A Run went to $03, then the panel was given $01: an end nobody watches stops the whole list, the
// panel's controller first, and says that one Stop went unanswered.
TEST_F(BusViewTest, AnUnattendedEndStopsEveryListedControllerThePanelsFirst)
{
  Type("EditMotorAddress", "$03");
  Click("BtnMotorApply");
  Click("BtnRun");
  ASSERT_TRUE(WaitFor(
      [&] { return Cell(2, TFormBus::ColSpeed) != "0 rpm" && Cell(2, TFormBus::ColAnswers).toInt() > 0; }, 10s));
  View().findChild<QTableWidget*>("GridBus")->selectRow(0);
  Click("BtnMotorApply");
  ASSERT_TRUE(WaitFor([&] { return Form->Datas->MotorAddress == 1 && Idle(); }));
  const std::size_t before = Bus.FramesReceived();
  TUnattendedEnd end(*Form);
  end.StopMotor("ended by SIGTERM");
  const auto stops = Asked(before);
  EXPECT_EQ(stops.at(3).second, 1) << "the motor run before the panel's address changed";
  EXPECT_EQ(stops.at(4).second, 2);
  std::size_t index = 0;
  for (const TSimTraffic& t : Bus.Traffic())
    if (t.Direction == TSimTraffic::TDirection::Received && index++ >= before && t.Bytes[2] == StopCode) {
      EXPECT_EQ(t.Bytes[1], 1) << "the panel's own first";
      break;
    }
  const std::vector<std::string> log = LogLines();
  EXPECT_NE(std::find(log.begin(), log.end(), "ended by SIGTERM with the motor possibly running: Stop sent, no answer"),
            log.end());
  end.Close();
}

// A Run went to $03, which then left the list, and the panel moved on to $01: Stop all still reaches $03.
TEST_F(BusViewTest, StopAllReachesAControllerTheWindowRanWhereverThePanelMovedSince)
{
  Type("EditMotorAddress", "$03");
  Click("BtnMotorApply");
  Click("BtnRun");
  ASSERT_TRUE(WaitFor([&] { return Cell(2, TFormBus::ColSpeed) != "0 rpm"; }, 10s)) << State();
  auto* grid = View().findChild<QTableWidget*>("GridBus");
  grid->selectRow(2);
  Click("BtnBusRemove");
  grid->selectRow(0);
  Click("BtnMotorApply");
  ASSERT_TRUE(WaitFor([&] { return Form->Datas->MotorAddress == 1 && Idle(); }));
  const std::size_t before = Bus.FramesReceived();
  QTest::keyClick(grid, Qt::Key_Escape, Qt::ShiftModifier);
  ASSERT_TRUE(WaitFor([&] { return Asked(before)[3].second >= 1 && Idle(); }, 10s)) << State();
}

// Ticked in the "Chart" column, a controller gets a line of its own on the speed chart, named as its row
// and ending at the speed its row shows; a silent one's stays empty; unticked or removed, it goes.
TEST_F(BusViewTest, ChosenControllersGetALineEachOnTheSpeedChart)
{
  auto* grid = View().findChild<QTableWidget*>("GridBus");
  grid->item(2, TFormBus::ColLabel)->setText("conveyor");
  for (int row : {0, 2, 3})
    grid->item(row, TFormBus::ColChart)->setCheckState(Qt::Checked);
  Type("EditMotorAddress", "$03");
  Click("BtnMotorApply");
  Click("BtnRun");
  Extras().MmSpeedChartClick();
  struct TCharted {
    int Row;
    const char* Line;
  };
  const TCharted answering[] = {{0, "$01"}, {2, "$03 conveyor"}};
  ASSERT_TRUE(WaitFor(
      [&] {
        return Cell(2, TFormBus::ColSpeed) != "0 rpm" && std::ranges::all_of(answering, [&](const TCharted& c) {
                 return ChartLine(c.Line).second == Cell(c.Row, TFormBus::ColSpeed);
               });
      },
      15s))
      << State() << ChartLine("$01").second.toStdString() << " / " << ChartLine("$03 conveyor").second.toStdString();
  EXPECT_EQ(ChartLine("$04").first, std::vector<qsizetype>{0}) << "in the legend, without a point";

  grid->item(0, TFormBus::ColChart)->setCheckState(Qt::Unchecked);
  EXPECT_TRUE(ChartLine("$01").first.empty());
  grid->selectRow(2);
  Click("BtnBusRemove");
  EXPECT_TRUE(ChartLine("$03 conveyor").first.empty());
  EXPECT_EQ(ChartLine("$04").first.size(), 1u);
  EXPECT_EQ(grid->item(2, TFormBus::ColChart)->checkState(), Qt::Checked) << "$04's tick moved up with its row";
  EXPECT_EQ(grid->item(0, TFormBus::ColChart)->checkState(), Qt::Unchecked);
}

// A command of the panels overtakes the round after the frame on the wire: the slow controller's
// request is answered, and the motor frames come before the round's next request.
TEST_F(BusViewTest, ACommandOvertakesTheRound)
{
  std::size_t asked = 0;
  ASSERT_TRUE(WaitFor([&] {
    const auto traffic = Bus.Traffic();
    return !traffic.empty() && traffic.back().Direction == TSimTraffic::TDirection::Received &&
           traffic.back().Bytes.size() == 4 && traffic.back().Bytes[1] == 2 && (asked = Bus.FramesReceived());
  }, 15s)) << "the slow controller asked";
  Click("BtnMotorApply");
  ASSERT_TRUE(Bus.WaitForFrames(asked + 1, 5s));
  std::size_t index = 0;
  for (const TSimTraffic& t : Bus.Traffic())
    if (t.Direction == TSimTraffic::TDirection::Received && index++ == asked) {
      EXPECT_NE(t.Bytes[2], StatusCode) << "the round's next request went before the command";
    }
}

// Hidden, the bus view asks nobody: the poll is the panel's own again.
TEST_F(BusViewTest, HiddenTheBusViewAsksNobody)
{
  ASSERT_TRUE(WaitFor([&] { return Asked()[3].first >= 1; }));
  View().hide();
  ASSERT_TRUE(WaitFor([&] { return Idle(); }));
  const std::size_t hidden = Bus.FramesReceived();
  Type("EditMotorAddress", "$01");
  Click("BtnMotorApply");
  Click("BtnRun"); // polled by the panel alone
  ASSERT_TRUE(WaitFor([&] { return Asked(hidden)[1].first >= 3; }));
  for (std::uint8_t address : {2, 3, 4})
    EXPECT_EQ(Asked(hidden)[address].first, 0) << int(address);
}

} // namespace

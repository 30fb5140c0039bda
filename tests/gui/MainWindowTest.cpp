#include "ConsoleFixture.h"
#include "console/LinkCountersView.h"
#include "console/LongTimer.h"
#include "dialogs/FormByteLen.h"
#include "protocol/CommonDatas.h"
#include "protocol/OzmCommands.h"
#include "serial/ComPort.h"
#include "serial/PortSettingsFile.h"
#include "widgets/MessageBox.h"

#include <QCoreApplication>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <filesystem>

namespace {

using namespace std::chrono_literals;

TEST_F(ConsoleTest, StartsWithEveryControlAndThePortOpen)
{
  EXPECT_EQ(Form->windowTitle().toStdString(), "Ozmet v.5.1.e - " + Sim.DevicePath()) << "the device in use follows";
  EXPECT_EQ(Form->width(), 613);
  const struct {
    const char* Name;
    const char* Text;
  } labels[] = {
      {"LblMotorParam", "Motor parameters"},
      {"LblAddress", "Address (ID):"},
      {"LblEncoder", "Encoder, puls/rev:"},
      {"LblMaxMotorSpeed", "Max.motor speed, rpm:"},
      {"LblReducer", "Reduction ratio:"},
      {"LblMaxGearedSpeed", "Max. output speed after gearhead: 4000 rpm"},
      {"LblWorkParam", "Operation parameters"},
      {"LblWorkSpeed", "Set speed, rpm:"},
      {"LblAccel", "Acceleration, V/s:"},
      {"LblDecel", "Deceleration, V/s:"},
      {"lblStabil", "Feedback:"},
      {"lblMotorRates", "Motor revolutions counter: 0 rev"},
      {"lblGearedRates", "Gearmotor revolutions counter: 0 rev"},
      {"lblCurrentSpeed", "Current speed: 0 rpm"},
      {"lblDir", "Direction:"},
      {"lblDir0", "forward"},
  };
  for (const auto& l : labels)
    EXPECT_EQ(Label(l.Name), l.Text);
  const struct {
    const char* Name;
    const char* Text;
  } edits[] = {{"EditMotorAddress", "$00"}, {"EditMotorEncoder", "2"}, {"EditMotorMaxSpeed", "4000"},
               {"EditGearRatio", "1"},      {"EditWorkSpeed", "1000"}, {"EditWorkAccel", "24"},
               {"EditWorkDecel", "24"},     {"EditWorkTime", ""}};
  for (const auto& e : edits)
    EXPECT_EQ(Find<QLineEdit>(e.Name)->text().toStdString(), e.Text) << e.Name;
  for (const char* hidden : {"lblDir1", "LangBtn", "Button1", "EditMotorMaxCurrent", "EditWorkCurrent", "TempMemo"})
    EXPECT_FALSE(Find(hidden)->isVisible()) << hidden;
  EXPECT_FALSE(Find("BtnMotorCancel")->isEnabled());
  EXPECT_FALSE(Find("BtnWorkCancel")->isEnabled());
  EXPECT_FALSE(Find("BtnOpenPort")->isEnabled());
  EXPECT_TRUE(Find("BtnClosePort")->isEnabled());
  EXPECT_EQ(Label("PanelPortProp"), "port opened:   Com1;  8 bit, stop-bit: 1;  parity: none;  ");
  EXPECT_EQ(Find("PanelPortProp")->toolTip().toStdString(), Sim.DevicePath() + " (through " + Data.Path() + "/COM1)");
  EXPECT_FALSE(PollTimerActive());
  EXPECT_EQ(Find<QTimer>("TimerGetMotorState")->timerType(), Qt::PreciseTimer) << "twice a second, never early";
  EXPECT_FALSE(Find<TLongTimer>("TmrStopMotor")->Enabled());
  EXPECT_TRUE(Messages.empty());
}

TEST_F(ConsoleTest, MissingPortSaysSoOnceAndTheWindowStaysUsable)
{
  Form.reset();
  ASSERT_TRUE(TPortSettingsFile(Data.Path() + "/portp.dat").Save(250)); // no link: /dev/ttyS249
  StartWindow();
  const std::string why = "No such device: /dev/ttyS249.";
  EXPECT_EQ(Messages, std::vector<std::string>{"Open port error\n" + why});
  EXPECT_EQ(LogLines(), std::vector<std::string>{why});
  EXPECT_EQ(Find("PanelPortProp")->toolTip().toStdString(), why);
  EXPECT_EQ(Form->windowTitle().toStdString(), "Ozmet v.5.1.e");
  EXPECT_FALSE(PollTimerActive());
  EXPECT_FALSE(Find<TLongTimer>("TmrStopMotor")->Enabled());
  EXPECT_TRUE(Find("BtnOpenPort")->isEnabled());

  Click("BtnStop"); // a command on a closed port ends in the port failure path, not a hang
  ASSERT_TRUE(WaitFor([&] {
    const std::vector<std::string> log = LogLines();
    return log.size() >= 2 && log[log.size() - 2] == "Port connection error" && log.back() == why;
  }));
}

TEST_F(ConsoleTest, CollapseAndExpandReturnToTheWidthAtCollapse)
{
  Form->resize(700, Form->height());
  Click("SpeedButton1");
  EXPECT_EQ(Form->width(), TForm1::CollapsedWidth);
  EXPECT_FALSE(Form->Expanded());
  Form->resize(500, Form->height());
  Click("SpeedButton1");
  EXPECT_EQ(Form->width(), 700);
  EXPECT_TRUE(Form->Expanded());
}

// The start-up caption "Direction:" has no blank of its own; the word beside it stands apart all the same.
TEST_F(ConsoleTest, DirectionWordStandsApartFromItsCaption)
{
  auto* caption = Find<QLabel>("lblDir");
  auto* word = Find<QLabel>("lblDir0");
  ASSERT_EQ(caption->text(), "Direction:");
  ASSERT_TRUE(WaitFor([&] { return word->isVisible() && word->x() > caption->x(); }));
  const int captionEnd = caption->x() + caption->contentsRect().left() +
                         caption->fontMetrics().horizontalAdvance(caption->text());
  EXPECT_GE(word->x() + word->contentsRect().left() - captionEnd, caption->fontMetrics().horizontalAdvance(' '));
}

// The port description keeps its whole text beside any faults, at the window's own size and
// collapsed, and never widens the window: the counters give way by whole fields, the traffic first,
// the faults last, and the tooltip has them all.
TEST_F(ConsoleTest, PortDescriptionKeepsItsWholeTextBesideTheLinkCounters)
{
  const struct {
    const char* Name;
    std::uint64_t Sent, Missing, Crc, Short, Stale, Port;
    bool Collapsed;
    std::vector<const char*> Shown, Dropped;
  } cases[] = {
      {"healthy", 12, 0, 0, 0, 0, 0, false, {"Tx 12", "Rx 0", "last -"}, {}},
      {"three faults", 1520, 30, 2, 1, 0, 0, false, {"no answer 30", "CRC 2", "short 1"}, {"Tx", "Rx"}},
      {"every fault", 123456, 30, 2, 1, 4, 1, false, {"no answer 30", "CRC 2", "short 1", "&hellip;"}, {"Tx", "last"}},
      {"three faults, collapsed", 1520, 30, 2, 1, 0, 0, true, {}, {"Tx", "short", "answer"}},
  };
  auto* description = Find<QLabel>("PanelPortProp");
  auto* counters = Find<TLinkCountersView>("LblLinkCounters");
  const std::string text = description->text().toStdString();
  for (const auto& c : cases) {
    TLinkCounters& counted = Form->Datas->Counters;
    counted.FramesSent = c.Sent;
    counted.AnswersMissing = c.Missing;
    counted.ChecksumFailures = c.Crc;
    counted.ShortBlocks = c.Short;
    counted.Stale = c.Stale;
    counted.PortFailures = c.Port;
    if (c.Collapsed != !Form->Expanded())
      Form->SpeedButton1Click();
    counters->Refresh();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const int width = c.Collapsed ? TForm1::CollapsedWidth : 613;
    ASSERT_TRUE(WaitFor([&] { return counters->geometry().right() < width; })) << c.Name;
    EXPECT_EQ(Form->width(), width) << c.Name;
    EXPECT_EQ(description->text().toStdString(), text) << c.Name;
    EXPECT_TRUE(WholeTextShows(description)) << c.Name << ": " << description->width();
    EXPECT_TRUE(WholeTextShows(counters)) << c.Name << ": " << counters->text().toStdString();
    EXPECT_TRUE(counters->toolTip().startsWith(QString("Tx %1  Rx 0").arg(c.Sent))) << c.Name;
    for (const char* shown : c.Shown)
      EXPECT_TRUE(counters->text().contains(shown)) << c.Name << ": " << shown;
    for (const char* dropped : c.Dropped)
      EXPECT_FALSE(counters->text().contains(dropped)) << c.Name << ": " << dropped;
  }
}

TEST_F(ConsoleTest, PortButtonsCloseAndOpen)
{
  Click("BtnClosePort");
  EXPECT_EQ(Label("PanelPortProp"), "");
  EXPECT_TRUE(Find("BtnOpenPort")->isEnabled());
  EXPECT_FALSE(Find("BtnClosePort")->isEnabled());
  Click("BtnOpenPort");
  EXPECT_EQ(Label("PanelPortProp"), "port opened:   Com1;  8 bit, stop-bit: 1;  parity: none;  ");
}

TEST_F(ConsoleTest, ClearingTheLogStartsItAtTheTop)
{
  Click("BtnStop");
  ASSERT_FALSE(LogLines().empty());
  Click("BtnClearLog");
  EXPECT_TRUE(LogLines().empty());
  Click("BtnClearLog");
  Click("BtnRunRight");
  EXPECT_EQ(LogLines().at(0), "");
  EXPECT_EQ(LogLines().at(1), "Set forward direction");
}

TEST_F(ConsoleTest, HiddenTestButtonShowsTheStopFrameCrc)
{
  Form->Button1Click();
  EXPECT_EQ(Messages, std::vector<std::string>{"a3: $4D"});
}

TEST_F(ConsoleTest, AddressMenuRefusesWhilePolling)
{
  Click("BtnStop");
  ASSERT_TRUE(PollTimerActive());
  Form->MmSetNewAddressClick();
  EXPECT_EQ(Messages, std::vector<std::string>{"New address setting is possible when there is not data transferring."});
  EXPECT_EQ(Label("PanelPortProp"), "") << "the port is closed all the same";
}

// With the port already closed the close button is greyed, so only calling the handler itself
// clears the panel and greys the data bits.
TEST_F(ConsoleTest, AddressMenuRunsTheCloseHandlerWithThePortAlreadyClosed)
{
  std::filesystem::remove(Data.Path() + "/COM1");
  Data.Link("COM1", Data.Path() + "/unplugged");
  Form->BtnOpenPortClick(); // fails: the panel keeps the last good text
  ASSERT_FALSE(Find("BtnClosePort")->isEnabled());
  ASSERT_NE(Label("PanelPortProp"), "");
  Form->mmPortParamClick();
  Form->MmSetNewAddressClick();
  EXPECT_EQ(Label("PanelPortProp"), "");
  EXPECT_FALSE(Form->FormByteLen->findChild<QWidget*>("rgrDataLen")->isEnabled());
}

// The log as the operator sees it: each kind of line in its colour, the received bytes in the colour
// in force, bold only on the port failure line and not after it.
TEST_F(ConsoleTest, LogLinesShowTheirColourAndWeight)
{
  const auto logged = [&](const char* line, int times = 1) {
    return WaitFor(
        [&] {
          const std::vector<std::string> log = LogLines();
          return std::count(log.begin(), log.end(), line) >= times;
        },
        10s);
  };
  Click("BtnWorkApply");
  Click("BtnRun");
  Click("BtnRunRight");
  ASSERT_TRUE(logged("Comand transfered A7"));
  TSimFaults silent;
  silent.Silent = true;
  Sim.SetFaults(silent);
  Click("BtnStop");
  ASSERT_TRUE(logged("Stop")) << "the poll after it went unanswered too";
  Sim.SetFaults({});
  Click("BtnClosePort");
  Click("BtnStop");
  ASSERT_TRUE(logged("Port connection error"));
  Click("BtnRunRight");
  ASSERT_TRUE(logged("Set forward direction", 2));

  const QColor blue(0, 0, 255), green(0, 128, 0), red(255, 0, 0);
  const struct {
    const char* Text;
    QColor Colour;
  } kinds[] = {{"Set operation parameters", blue},
               {"Set operation parameters and run motor", blue},
               {"Set forward direction", blue},
               {"Motor stop", blue},
               {"Comand transfered A7", green},
               {"Command transferred. There is not answer from the controller!", red},
               {"no answer to command  52", green},
               {"motor status - no answer ", green},
               {"Stop", red},
               {"Port connection error", red}};
  const std::vector<TLogLook> looks = LogLooks();
  for (const auto& kind : kinds) {
    const auto line = std::find_if(looks.begin(), looks.end(), [&](const TLogLook& l) { return l.Text == kind.Text; });
    ASSERT_NE(line, looks.end()) << kind.Text;
    EXPECT_EQ(line->Colour, kind.Colour) << kind.Text;
    if (kind.Colour == blue) {
      EXPECT_EQ((line - 1)->Text, "") << "a blank line above the heading " << kind.Text;
    }
  }
  for (std::size_t i = 1; i < looks.size(); ++i) {
    EXPECT_EQ(looks[i].Bold, looks[i].Text == "Port connection error") << looks[i].Text;
    if (looks[i].Text.starts_with("$")) { // received bytes take the colour in force
      EXPECT_EQ(looks[i].Colour, looks[i - 1].Colour) << looks[i].Text;
    }
  }
}

// Status answers given to the real window's receive handler, as the worker's request brings them.
TEST_F(ConsoleTest, BackwardAndOverflowShowInTheWindow)
{
  const auto receive = [&](std::vector<std::uint8_t> answer) {
    Form->Datas->StatusPolling = true;
    Form->Datas->Answers.Open(Form->ComPort->Epoch(), true);
    Form->PortDataReceived(answer.data(), static_cast<std::int32_t>(answer.size()), 0,
                           Form->OzmCommands->BlockRead(Form->ComPort->Epoch()));
  };
  receive({0x00, 0x93, 0xE8, 0x00, 0xCF}); // backward, feedback on
  EXPECT_TRUE(Find("lblDir1")->isVisible());
  EXPECT_FALSE(Find("lblDir0")->isVisible());
  EXPECT_EQ(Label("lblMotorRates"), "Motor revolutions counter: -1000 rev");
  receive({0x00, 0xC0, 0x00, 0x0A, 0x2D}); // forward, the counter overflowed
  EXPECT_TRUE(Find("lblDir0")->isVisible());
  QLabel* feedback = Find<QLabel>("lblStabil");
  EXPECT_EQ(feedback->text().toStdString(), "Feedback: counter overflowed");
  feedback->ensurePolished();
  EXPECT_EQ(feedback->palette().color(feedback->foregroundRole()), QColor(255, 0, 0));
}

TEST_F(ConsoleTest, ClosingSavesThePortNumber)
{
  Form->close();
  Form.reset();
  EXPECT_EQ(TPortSettingsFile(Data.Path() + "/portp.dat").Load().PortNumber, 1);
}

} // namespace

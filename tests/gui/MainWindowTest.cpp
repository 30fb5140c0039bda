#include "ConsoleFixture.h"
#include "LongTimer.h"
#include "MessageBox.h"
#include "PortSettingsFile.h"


#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace {

TEST_F(ConsoleTest, StartsWithEveryControlAndThePortOpen)
{
  EXPECT_EQ(Form->windowTitle().toStdString(), "Ozmet v.5.1.e");
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
  EXPECT_FALSE(PollTimerActive());
  EXPECT_FALSE(Find<TLongTimer>("TmrStopMotor")->Enabled());
  EXPECT_TRUE(Messages.empty());
}

TEST_F(ConsoleTest, MissingPortSaysSoOnceAndTheWindowStaysUsable)
{
  Form.reset();
  ASSERT_TRUE(TPortSettingsFile(Data.Path() + "/portp.dat").Save(250)); // no link: /dev/ttyS249
  StartWindow();
  EXPECT_EQ(Messages, std::vector<std::string>{"Open port error"});
  EXPECT_FALSE(PollTimerActive());
  EXPECT_FALSE(Find<TLongTimer>("TmrStopMotor")->Enabled());
  EXPECT_TRUE(Find("BtnOpenPort")->isEnabled());

  Click("BtnStop"); // a command on a closed port ends in the port failure path, not a hang
  ASSERT_TRUE(WaitFor([&] { return !LogLines().empty() && LogLines().back() == "Port connection error"; }));
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

TEST_F(ConsoleTest, ClosingSavesThePortNumber)
{
  Form->close();
  Form.reset();
  EXPECT_EQ(TPortSettingsFile(Data.Path() + "/portp.dat").Load().PortNumber, 1);
}

} // namespace

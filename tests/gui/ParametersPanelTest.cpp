#include "ConsoleFixture.h"
#include "console/LongTimer.h"
#include "widgets/RadioGroup.h"

#include <filesystem>

#include <QFrame>
#include <QPushButton>

namespace {

using TBytes = std::vector<std::uint8_t>;

bool Silver(const QWidget* panel)
{
  return panel->palette().color(QPalette::Window) == QColor(192, 192, 192);
}

// The frames with this command code, as the controller saw them.
std::vector<TBytes> WithCode(const std::vector<TBytes>& frames, std::uint8_t code)
{
  std::vector<TBytes> found;
  for (const TBytes& f : frames)
    if (f.size() == 5 && f[2] == code)
      found.push_back(f);
  return found;
}

TEST_F(ConsoleTest, MotorApplySendsTheRoundedSpeedAndShowsIt)
{
  Type("EditMotorMaxSpeed", "4000");
  Type("EditGearRatio", "12.5");
  EXPECT_TRUE(Silver(Find("PanelMotorData")));
  EXPECT_TRUE(Find("BtnMotorCancel")->isEnabled());
  Click("BtnMotorApply");
  ASSERT_TRUE(WaitFor([&] { return WithCode(FramesSeen(), 0xA4).size() == 1; }));
  EXPECT_EQ(WithCode(FramesSeen(), 0xA4)[0][3], 67);
  EXPECT_EQ(WithCode(FramesSeen(), 0xA2)[0][3], 2);
  EXPECT_EQ(Find<QLineEdit>("EditMotorMaxSpeed")->text().toStdString(), "4020");
  EXPECT_EQ(Label("LblMaxGearedSpeed"), "Max. output speed after gearhead: 321.6 rpm");
  EXPECT_FALSE(Silver(Find("PanelMotorData")));
  EXPECT_FALSE(Find("BtnMotorCancel")->isEnabled());
  const std::vector<std::string> memo = MemoLines();
  ASSERT_EQ(memo.size(), 2u);
  EXPECT_EQ(memo[0], "E600A202C3");
  const std::vector<std::string> log = LogLines();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], "");
  EXPECT_EQ(log[1], "Set motor parameters");
  EXPECT_EQ(log[2], "Comand transfered A2");
}

// The revolution counter shown is one controller's: applied to another address it starts again from 0, never
// a sum across two controllers; applied to the same address it goes on.
TEST_F(ConsoleTest, MotorApplyToAnotherAddressStartsTheCounterAgain)
{
  for (const auto& [address, counter] : {std::pair{"$00", 985}, std::pair{"$01", 0}, std::pair{"$01", 985}}) {
    Form->Datas->SetMotorRevCounter(985);
    Type("EditMotorAddress", address);
    Click("BtnMotorApply");
    EXPECT_EQ(Form->Datas->MotorRevCounter, counter) << address;
  }
}

TEST_F(ConsoleTest, MotorApplyRefusesBadFieldsAndSendsNothing)
{
  const struct {
    const char* Edit;
    const char* Text;
    std::vector<std::string> Messages;
  } cases[] = {
      {"EditMotorAddress", "1G", {"Please, set correct value from 0 to 254!"}},
      {"EditMotorAddress", "$FF", {"Please, set correct value from 0 to 254!"}}, // well-formed, out of range
      {"EditGearRatio", "0", {"Enter correct reduction ration"}},
      {"EditGearRatio", "abc", {"Enter correct reduction ration"}},
  };
  for (const auto& c : cases) {
    Click("BtnMotorCancel");
    Messages.clear();
    Type(c.Edit, c.Text);
    Click("BtnMotorApply");
    EXPECT_EQ(Messages, c.Messages) << c.Text;
    EXPECT_TRUE(MemoLines().empty()) << c.Text;
    EXPECT_TRUE(Silver(Find("PanelMotorData"))) << "the panel keeps its state";
  }
  EXPECT_EQ(Sim.FramesReceived(), 0u);
  EXPECT_EQ(LogLines().back(), "Set motor parameters") << "a lone heading";
}

TEST_F(ConsoleTest, MotorCancelBeforeApplyShowsTheRecord)
{
  Type("EditMotorAddress", "$1A");
  Click("BtnMotorCancel");
  const struct {
    const char* Edit;
    const char* Text;
  } fields[] = {{"EditMotorAddress", "$00"}, {"EditMotorEncoder", "2"}, {"EditMotorMaxSpeed", "4020"}, {"EditGearRatio", "1"}};
  for (const auto& f : fields)
    EXPECT_EQ(Find<QLineEdit>(f.Edit)->text().toStdString(), f.Text) << f.Edit;
  EXPECT_EQ(Label("LblMaxGearedSpeed"), "Max. output speed after gearhead: 4020 rpm");
  EXPECT_FALSE(Silver(Find("PanelMotorData")));
}

TEST_F(ConsoleTest, BothMotorFramesCarryTheNewAddress)
{
  Sim.Close();
  TSimLine other{{0x1A}};
  other.Open();
  Form.reset();
  std::filesystem::remove(Data.Path() + "/COM1");
  Data.Link("COM1", other.DevicePath());
  StartWindow();
  Type("EditMotorAddress", "26");
  Click("BtnMotorApply");
  ASSERT_TRUE(other.WaitForFrames(2, std::chrono::seconds(5)));
  for (const TSimTraffic& t : other.Traffic()) {
    if (t.Direction == TSimTraffic::TDirection::Received) {
      EXPECT_EQ(t.Bytes.at(1), 0x1A);
    }
  }
  Form.reset(); // before the line it talks to
}

TEST_F(ConsoleTest, OperationApplyConvertsThroughTheRatio)
{
  const struct {
    const char* Ratio;
    const char* Speed;
    std::uint8_t Sent;
    const char* Shown;
  } cases[] = {{"1", "1000", 17, "1020"}, {"1", "4020", 66, "3960"}, {"1", "5000", 82, "4920"}, {"2", "1000", 33, "990"}};
  for (const auto& c : cases) {
    Type("EditGearRatio", c.Ratio);
    Click("BtnMotorApply");
    const std::size_t before = WithCode(FramesSeen(), 0xA3).size();
    Type("EditWorkSpeed", c.Speed);
    Click("BtnWorkApply");
    ASSERT_TRUE(WaitFor([&] { return WithCode(FramesSeen(), 0xA3).size() == before + 1; })) << c.Speed;
    EXPECT_EQ(WithCode(FramesSeen(), 0xA3).back()[3], c.Sent) << c.Speed;
    EXPECT_EQ(Find<QLineEdit>("EditWorkSpeed")->text().toStdString(), c.Shown);
  }
  Type("EditWorkSpeed", "7600"); // 15200 motor rpm at ratio 2
  Click("BtnWorkApply");
  EXPECT_EQ(Messages, std::vector<std::string>{
                          "Enter correct operation speed according to the maximum motor speed and reduction ratio"});
}

TEST_F(ConsoleTest, TypingATimeSelectsTheTimedMotionAndCancelRestoresIt)
{
  Type("EditWorkTime", "10");
  EXPECT_EQ(Find<TRadioGroup>("rgrWorkMove")->ItemIndex(), 1);
  EXPECT_TRUE(Silver(Find("PanelWorkData")));
  Click("BtnWorkApply");
  EXPECT_FALSE(Silver(Find("PanelWorkData")));
  Type("EditWorkTime", "99");
  ClickChoice(Find<TRadioGroup>("rgrWorkDirection")->Item(1));
  ClickChoice(Find<TRadioGroup>("rgrWorkMove")->Item(0));
  Click("BtnWorkCancel");
  EXPECT_EQ(Find<QLineEdit>("EditWorkTime")->text().toStdString(), "10");
  EXPECT_EQ(Find<TRadioGroup>("rgrWorkDirection")->ItemIndex(), 0);
  EXPECT_EQ(Find<TRadioGroup>("rgrWorkMove")->ItemIndex(), 1);
  EXPECT_EQ(Find<TLongTimer>("TmrStopMotor")->Interval(), 10000u);
}


} // namespace

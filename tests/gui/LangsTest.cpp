#include "dialogs/Langs.h"
#include "ConsoleFixture.h"
#include "widgets/RadioGroup.h"

#include <QAbstractButton>
#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace {

const std::string Blanks22(22, ' ');

TEST(LangsSlot, TextsKeepTheirBlanksAndSpellingAndTheEndsAreSafe)
{
  const struct {
    int Number;
    std::string Text;
  } expected[] = {
      {1, "Port settings"},
      {21, Blanks22 + "seconds"},
      {22, Blanks22 + "revolutions"},
      {30, "Motor revolutions counter: "},
      {31, "Gearmotor revolution counter: "},
      {48, "parity: 0; "},
      {49, "parity: 1; "},
      {68, "Gearmotor revolutions counter: "},
      {75, "Please, enter correct port number"},
      {81, "Command transferred. Thre is not answer from the controller!"},
      {84, "Port connection error"},
      {0, ""},
      {85, ""},
      {-1, ""},
  };
  const TLangs langs;
  for (const auto& e : expected)
    EXPECT_EQ(langs.Slot(e.Number), e.Text) << e.Number;
}

// Each item before its own submenu, and a submenu searched before the next item: any other order
// picks another of the equally named items.
TEST(LangsMenuSearch, FirstMatchInDepthFirstOrder)
{
  QMenuBar bar;
  QMenu* outer = bar.addMenu("outer");
  outer->menuAction()->setObjectName("Twin");
  QAction* deep = outer->addMenu("inner")->addAction("deep");
  deep->setObjectName("Deep");
  bar.addAction("late")->setObjectName("Deep");
  outer->addAction("child")->setObjectName("Twin");

  EXPECT_EQ(TLangs::FindMenuItemByName(&bar, "Twin"), outer->menuAction());
  EXPECT_EQ(TLangs::FindMenuItemByName(&bar, "Deep"), deep);
  EXPECT_EQ(TLangs::FindMenuItemByName(outer, "Twin")->text(), "child"); // a menu as root
}

class LangsTest : public ConsoleTest {
protected:
  // A label's or button's caption, or the text of a radio group's item.
  std::string Caption(const char* name, int item = -1) const
  {
    const QObject* target = item < 0 ? Find<QObject>(name) : Find<TRadioGroup>(name)->Item(item);
    if (const auto* label = qobject_cast<const QLabel*>(target))
      return label->text().toStdString();
    const auto* button = qobject_cast<const QAbstractButton*>(target);
    return button ? button->text().toStdString() : "<no caption>";
  }
  QAction* MenuItem(const char* name) const { return TLangs::FindMenuItemByName(Form->menuBar(), name); }
};

TEST_F(LangsTest, MainMenuSearchIsExactAndSkipsTheRoot)
{
  const QAction* settings = MenuItem("MmPortSettings");
  ASSERT_TRUE(settings && settings->menu());
  const QAction* parameters = MenuItem("mmPortParam");
  EXPECT_TRUE(settings->menu()->actions().contains(parameters));
  EXPECT_EQ(parameters->text(), "Port parameters");
  EXPECT_EQ(MenuItem("MmSetNewAddress")->text(), "Set new address");
  for (const char* absent : {"MmPortParam", "MainMenu1"})
    EXPECT_EQ(MenuItem(absent), nullptr) << absent;
}

TEST_F(LangsTest, CaptionsChangeOnlyWhenTheHiddenButtonApplies)
{
  const struct {
    const char* Name;
    int Item;
    const char* Before;
    const char* After;
  } captions[] = {
      {"LblAccel", -1, "Acceleration, V/s:", "Acceleration:"},
      {"LblMotor", -1, "Motor:", "Motor"},
      {"rgrWorkDirection", 0, "Forward", "forward"},
      {"rgrWorkDirection", 1, "Backward", "backward"},
  };
  for (const auto& c : captions)
    EXPECT_EQ(Caption(c.Name, c.Item), c.Before) << c.Name << c.Item;
  Find<QAbstractButton>("LangBtn")->click();
  for (const auto& c : captions)
    EXPECT_EQ(Caption(c.Name, c.Item), c.After) << c.Name << c.Item;
}

TEST_F(LangsTest, AppliedCaptionsThenTheStatusLabelsRedrawn)
{
  for (const char* name : {"MmPortSettings", "MmSetNewAddress", "mmPortParam"})
    MenuItem(name)->setText("?");
  Find<QLabel>("LblEncoder")->setText("?");
  Find<QLabel>("LblEncoder")->setObjectName("LblEncoderRenamed"); // a target not found is skipped
  TLangs().ApplyTexts(*Form, *Form);
  const struct {
    const char* Name;
    int Item;
    std::string Text;
  } captions[] = {
      {"LblEncoderRenamed", -1, "?"},
      {"BtnMotorApply", -1, "Apply"},
      {"BtnWorkApply", -1, "Apply"},
      {"rgrWorkMove", 0, "continuous"},
      {"rgrWorkMove", 1, Blanks22 + "seconds"},
      {"lblCurrentSpeed", -1, "Current speed 0.00 rpm"}, // the status text, not the caption text
      {"lblStabil", -1, "Feedback: no"},
      {"lblDir", -1, "Direction: "},
      {"BtnClosePort", -1, "Close port"},
  };
  for (const auto& c : captions)
    EXPECT_EQ(Caption(c.Name, c.Item), c.Text) << c.Name << c.Item;
  EXPECT_EQ(Find<TRadioGroup>("rgrWorkMove")->Count(), 2);
  EXPECT_EQ(MenuItem("MmPortSettings")->text(), "Port settings");
  EXPECT_EQ(MenuItem("MmSetNewAddress")->text(), "Set new address");
  EXPECT_EQ(MenuItem("mmPortParam")->text(), "Port parameters");
}

TEST_F(LangsTest, ApplyingTwiceGivesTheSameCaptions)
{
  const auto captions = [this] {
    std::vector<QString> all;
    for (const QLabel* label : Form->findChildren<QLabel*>())
      all.push_back(label->text());
    for (const QAbstractButton* button : Form->findChildren<QAbstractButton*>())
      all.push_back(button->text());
    return all;
  };
  TLangs().ApplyTexts(*Form, *Form);
  const std::vector<QString> once = captions();
  TLangs().ApplyTexts(*Form, *Form);
  EXPECT_EQ(captions(), once);
}

} // namespace

#include "dialogs/Langs.h"

#include "protocol/ConsoleView.h"
#include "widgets/RadioGroup.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>

#include <algorithm>
#include <array>
#include <iterator>

namespace {

constexpr std::string_view Texts[] = {
    "Port settings",
    "Port number",
    "Port parameters",
    "Set new address",
    "Motor parameters",
    "Motor",
    "Address (ID):",
    "Encoder, puls/rev:",
    "Reduction ratio:",
    "Max.motor speed, rpm:",
    "Max.current, Amp:",
    "Max. output speed after gearhead: ",
    "Apply",
    "Cancel",
    "Operation parameters",
    "Direction: ",
    "forward",
    "backward",
    "Motion type: ",
    "continuous",
    "                      seconds",
    "                      revolutions",
    "Set speed, rpm:",
    "Acceleration:",
    "Deceleration:",
    "Set current, Amp:",
    "Feedback: ",
    "no",
    "on",
    "Motor revolutions counter: ",
    "Gearmotor revolution counter: ",
    "Current speed: ",
    "Clear",
    "Close port",
    "Open port",
    "Clear operation log",
    "New address setting is possible when there is not data transferring",
    "5 bit, ",
    "6 bit, ",
    "7 bit, ",
    "8 bit, ",
    "stop-bit: 1; ",
    "stop-bit: 1,5; ",
    "stop-bit: 2; ",
    "parity: none; ",
    "parity: odd; ",
    "parity: even; ",
    "parity: 0; ",
    "parity: 1; ",
    "port opened:  ",
    "Open port error",
    "Enter correct reduction ration",
    "Max. output speed after gearhead: ",
    " rpm",
    "Enter correct operation speed according to the maximum motor speed and reduction ratio",
    "Please, set correct value from ",
    " to ",
    "Data foulder not found",
    "Set motor parameters",
    "Set operation parameters",
    "Set operation parameters and run motor",
    "Motor stop",
    "Set forward direction",
    "Set backward Direction",
    "Current speed",
    "counter overflowed",
    " rev",
    "Gearmotor revolutions counter: ",
    "Set new address (controller ID)",
    "Enter new address:",
    "Set new address",
    "Port number",
    "Other (5 - 255):",
    "Ok",
    "Please, enter correct port number",
    "Comand transfered ",
    "no answer to command  ",
    "motor status",
    "motor status - no answer ",
    "Stop",
    "Command transferred. Thre is not answer from the controller!",
    "To save new address press the button on the controller.",
    "New address setting is completed!",
    "Port connection error",
};
static_assert(std::size(Texts) == TLangs::SlotCount);

constexpr std::string_view Text(int number)
{
  return Texts[number - 1];
}

// The blanks are part of the texts: numbers are joined to them and the time edit lies over the
// start of 21 and 22, so a lost blank shows in the window.
static_assert(Text(12).size() == 34 && Text(53) == Text(12));
static_assert(Text(21).size() == 29 && Text(21).find_first_not_of(' ') == 22);
static_assert(Text(22).size() == 33 && Text(22).find_first_not_of(' ') == 22);
static_assert(Text(42).size() == 13 && Text(43).size() == 15 && Text(44).size() == 13);
static_assert(Text(50).size() == 14 && Text(77).size() == 22 && Text(79).size() == 25);
static_assert(Text(31).size() == 30 && Text(68).size() == 31);

enum class TPlace { MainMenu, Window };

constexpr int Caption = -1;

struct TStep {
  TPlace Place;
  const char* Name;
  int Slot;
  int Item; // Caption, or the radio group item whose text is written
};

constexpr TStep Steps[] = {
    {TPlace::MainMenu, "MmPortSettings", 1, Caption},
    {TPlace::MainMenu, "MmSetNewAddress", 4, Caption},
    {TPlace::MainMenu, "MmPortNumber", 2, Caption},
    {TPlace::MainMenu, "mmPortParam", 3, Caption},
    {TPlace::Window, "LblMotor", 6, Caption},
    {TPlace::Window, "LblAddress", 7, Caption},
    {TPlace::Window, "LblMotorParam", 5, Caption},
    {TPlace::Window, "LblEncoder", 8, Caption},
    {TPlace::Window, "LblReducer", 9, Caption},
    {TPlace::Window, "LblMaxMotorSpeed", 10, Caption},
    {TPlace::Window, "LblMaxCurrent", 11, Caption},
    {TPlace::Window, "LblMaxGearedSpeed", 12, Caption},
    {TPlace::Window, "BtnMotorApply", 13, Caption},
    {TPlace::Window, "BtnWorkApply", 13, Caption},
    {TPlace::Window, "BtnMotorCancel", 14, Caption},
    {TPlace::Window, "BtnWorkCancel", 14, Caption},
    {TPlace::Window, "LblWorkParam", 15, Caption},
    {TPlace::Window, "rgrWorkDirection", 16, Caption},
    {TPlace::Window, "rgrWorkDirection", 17, 0},
    {TPlace::Window, "rgrWorkDirection", 18, 1},
    {TPlace::Window, "lblDir", 16, Caption},
    {TPlace::Window, "lblDir0", 17, Caption},
    {TPlace::Window, "lblDir1", 18, Caption},
    {TPlace::Window, "rgrWorkMove", 19, Caption},
    {TPlace::Window, "rgrWorkMove", 20, 0},
    {TPlace::Window, "rgrWorkMove", 21, 1},
    {TPlace::Window, "rgrWorkMove", 22, 2}, // the group has two items: this step writes nothing
    {TPlace::Window, "LblWorkSpeed", 23, Caption},
    {TPlace::Window, "LblWorkcurrent", 26, Caption},
    {TPlace::Window, "LblAccel", 24, Caption},
    {TPlace::Window, "LblDecel", 25, Caption},
    {TPlace::Window, "lblStabil", 27, Caption},
    {TPlace::Window, "lblGearedRates", 31, Caption},
    {TPlace::Window, "lblMotorRates", 30, Caption},
    {TPlace::Window, "lblCurrentSpeed", 32, Caption},
    {TPlace::Window, "BtnReset", 33, Caption},
    {TPlace::Window, "BtnClearLog", 36, Caption},
    {TPlace::Window, "BtnOpenPort", 35, Caption},
    {TPlace::Window, "BtnClosePort", 34, Caption},
};
static_assert(std::ranges::all_of(Steps, [](const TStep& s) { return s.Slot >= 1 && s.Slot <= TLangs::SlotCount; }));

QAction* FindIn(const QList<QAction*>& items, const QString& name)
{
  for (QAction* item : items) {
    if (item->objectName() == name)
      return item;
    if (const QMenu* submenu = item->menu())
      if (QAction* found = FindIn(submenu->actions(), name))
        return found;
  }
  return nullptr;
}

QObject* Target(const QWidget& window, const QMenuBar* menuBar, const TStep& step)
{
  QObject* named = step.Place == TPlace::MainMenu ? TLangs::FindMenuItemByName(menuBar, step.Name)
                                                  : window.findChild<QObject*>(step.Name);
  if (step.Item == Caption)
    return named;
  const auto* group = qobject_cast<TRadioGroup*>(named);
  return group ? group->Item(step.Item) : nullptr;
}

template <class T, void (T::*Set)(const QString&)>
bool SetAs(QObject* target, const QString& text)
{
  T* typed = qobject_cast<T*>(target);
  if (typed)
    (typed->*Set)(text);
  return typed != nullptr;
}

// The first setter whose type the target has writes the caption; none does for a missing target.
constexpr std::array CaptionSetters{
    &SetAs<QLabel, &QLabel::setText>,
    &SetAs<QAbstractButton, &QAbstractButton::setText>,
    &SetAs<QGroupBox, &QGroupBox::setTitle>,
    &SetAs<QAction, &QAction::setText>,
};

void SetCaption(QObject* target, std::string_view text)
{
  const QString caption = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  std::ranges::any_of(CaptionSetters, [&](auto set) { return set(target, caption); });
}

} // namespace

std::string_view TLangs::Slot(int number) const
{
  return number >= 1 && number <= SlotCount ? Text(number) : std::string_view{};
}

void TLangs::ApplyTexts(QWidget& window, TConsoleView& view) const
{
  // The main window's own menu bar: a child of the window, not of its central widget.
  const auto* menuBar = window.findChild<QMenuBar*>(QString(), Qt::FindDirectChildrenOnly);
  for (const TStep& step : Steps)
    SetCaption(Target(window, menuBar, step), Slot(step.Slot));
  view.ShowMotorState();
}

QAction* TLangs::FindMenuItemByName(const QWidget* root, const QString& name)
{
  return root ? FindIn(root->actions(), name) : nullptr;
}

#include "dialogs/FormPortName.h"

#include "dialogs/DialogHost.h"
#include "dialogs/Langs.h"
#include "serial/ComPort.h"
#include "widgets/ClassicFont.h"
#include "widgets/MessageBox.h"
#include "widgets/RadioGroup.h"
#include "widgets/SpinEdit.h"

#include <QFrame>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int OtherItem = 4;
constexpr int FirstOtherPort = 5;
constexpr int LastPort = 255;
constexpr int PortNumberMessageSlot = 75;
} // namespace

TFormPortName::TFormPortName(TDialogHost& main) : QWidget(&main.Window(), Qt::Window), Main(main)
{
  setObjectName("FormPortName");
  setWindowTitle("Port number");
  setAttribute(Qt::WA_DeleteOnClose); // every close frees it
  resize(282, 166);
  setFont(ClassicFont(8));

  auto* panel = new QFrame(this);
  panel->setObjectName("Panel1");
  panel->setFrameShape(QFrame::StyledPanel);
  auto* layout = new QVBoxLayout(panel);
  rgrPortName = new TRadioGroup("", {"Com 1", "Com 2", "Com 3", "Com 4", "Other (5 - 255):"}, 2, panel, -1);
  rgrPortName->setObjectName("rgrPortName");
  connect(rgrPortName, &TRadioGroup::Clicked, this, &TFormPortName::rgrPortNameClick);
  // The number sits just under the fifth choice, in the second column.
  SpinEditPortName = new TSpinEdit(FirstOtherPort, LastPort, rgrPortName);
  SpinEditPortName->setObjectName("SpinEditPortName");
  SpinEditPortName->setFixedWidth(50);
  auto* grid = static_cast<QGridLayout*>(rgrPortName->layout());
  grid->addWidget(SpinEditPortName, 2, 1);
  layout->addWidget(rgrPortName);
  ButtonOK = new QPushButton("OK", panel);
  ButtonOK->setObjectName("ButtonOK");
  QFont bold = ButtonOK->font();
  bold.setBold(true);
  ButtonOK->setFont(bold);
  connect(ButtonOK, &QPushButton::clicked, this, &TFormPortName::ButtonOKClick);
  layout->addWidget(ButtonOK);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(panel);
  FormCreate();
}

// Shows the port number in force; a number no choice stands for (0, above 255) selects nothing.
void TFormPortName::FormCreate()
{
  const int port = Main.Port().PortNumber;
  if (port >= 1 && port < FirstOtherPort) {
    rgrPortName->SetItemIndex(port - 1);
    SpinEditPortName->setEnabled(false);
  } else if (port >= FirstOtherPort && port <= LastPort) {
    SpinEditPortName->setEnabled(true);
    rgrPortName->SetItemIndex(OtherItem);
    SpinEditPortName->SetValue(port);
  }
}

void TFormPortName::rgrPortNameClick()
{
  const int index = rgrPortName->ItemIndex();
  if (index >= 0)
    SpinEditPortName->setEnabled(index == OtherItem);
}

void TFormPortName::ButtonOKClick()
{
  const int index = rgrPortName->ItemIndex();
  if (index >= 0 && index < OtherItem) {
    Main.Port().SetPortNumber(index + 1);
  } else if (index == OtherItem) {
    const int port = SpinEditPortName->Value();
    if (port >= FirstOtherPort && port <= LastPort)
      Main.Port().SetPortNumber(port);
    else
      ShowMessage(std::string(Main.Texts().Slot(PortNumberMessageSlot)));
  }
  Main.BtnOpenPortClick();
  close();
}

#include "dialogs/FormAdress.h"

#include "dialogs/DialogHost.h"
#include "motor/ValueReader.h"
#include "protocol/CommonDatas.h"
#include "protocol/OzmCommands.h"
#include "widgets/ClassicFont.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TFormAdress::TFormAdress(TDialogHost& main) : QWidget(&main.Window(), Qt::Window), Main(main)
{
  setObjectName("FormAdress");
  setWindowTitle("Set new address (controller ID)");
  resize(303, 99);
  setFont(ClassicFont(8));
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);

  auto* row = new QHBoxLayout(this);
  auto* label = new QLabel("Enter new address:", this);
  label->setObjectName("Label1");
  EditAdress = new QLineEdit("$00", this);
  EditAdress->setObjectName("EditAdress");
  EditAdress->setFixedWidth(49);
  auto* button = new QPushButton("Set new address", this);
  button->setObjectName("BtnsetAdress");
  connect(button, &QPushButton::clicked, this, &TFormAdress::BtnsetAdressClick);
  row->addWidget(label);
  row->addWidget(EditAdress);
  row->addWidget(button);
}

void TFormAdress::BtnsetAdressClick()
{
  Main.BtnOpenPortClick(); // whether or not the Open port button is enabled
  double value = 0;
  if (!ReadValueInRange(EditAdress->text().toStdString(), 0, 254, value, Main))
    return;
  const auto address = static_cast<std::uint8_t>(value);
  EditAdress->setText(QString::fromStdString(TOzmCommands::HexAddress(address)));
  TCommonDatas& datas = Main.Record();
  datas.AddressSetStarted = true;
  datas.AddressSetFinished = false;
  datas.StatusPolling = false;
  datas.NewAddress = address;
  Main.SendBroadcast(CmdAddressSetBegin, address);
}

void TFormAdress::closeEvent(QCloseEvent* event)
{
  FormClose();
  event->accept(); // hidden, not freed
}

void TFormAdress::FormClose()
{
  TCommonDatas& datas = Main.Record();
  datas.AddressSetStarted = false;
  datas.AddressSetFinished = true;
  Main.SendBroadcast(CmdAddressSetEnd, datas.NewAddress);
}

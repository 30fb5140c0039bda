#include "FormByteLen.h"

#include "ClassicFont.h"
#include "ComPort.h"
#include "DialogHost.h"
#include "PanelParts.h"
#include "RadioGroup.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace {

constexpr int FiveDataBits = 0;
constexpr int TwoStopBitsItem = 1;

} // namespace

TFormByteLen::TFormByteLen(TDialogHost& main) : QWidget(&main.Window(), Qt::Window), Main(main)
{
  setObjectName("FormByteLen");
  setWindowTitle("Port parameters");
  setAttribute(Qt::WA_DeleteOnClose); // every close frees it
  resize(295, 306);
  setFont(ClassicFont(8, true));
  const QFont regular = ClassicFont(9);

  rgrDataLen = new TRadioGroup("Bits number:", {"5", "6", "7", "8"}, 2, this, 3);
  rgrDataLen->setObjectName("rgrDataLen");
  rgrStopBits = new TRadioGroup("Stop-bit:", {"1", "2 (1,5)"}, 1, this, 0);
  rgrStopBits->setObjectName("rgrStopBits");
  rgrParity = new TRadioGroup("Parity:", {"None", "Odd", "Even", "Const 1", "Const 0"}, 1, this, 0);
  rgrParity->setObjectName("rgrParity");
  auto* baudLabel = Named<QLabel>("StaticText4", this, "Baud rate:");
  for (QWidget* w : std::initializer_list<QWidget*>{rgrDataLen, rgrStopBits, rgrParity, baudLabel})
    w->setFont(regular);
  cbPortSpeed = new QComboBox(this);
  cbPortSpeed->setObjectName("cbPortSpeed");
  cbPortSpeed->setEditable(true);
  cbPortSpeed->setInsertPolicy(QComboBox::NoInsert);
  for (std::uint32_t rate : TComPort::BaudRates)
    cbPortSpeed->addItem(QString::number(rate));
  cbPortSpeed->setCurrentIndex(6);

  auto* ok = Named<QPushButton>("ButtonOK", this, "OK");
  connect(ok, &QPushButton::clicked, this, &TFormByteLen::ButtonOKClick);
  auto* cancel = Named<QPushButton>("Button1", this, "Cancel");
  connect(cancel, &QPushButton::clicked, this, &TFormByteLen::Button1Click);

  auto* grid = new QGridLayout(this);
  grid->addWidget(rgrDataLen, 0, 0);
  grid->addWidget(rgrStopBits, 1, 0);
  grid->addWidget(rgrParity, 0, 1, 2, 1);
  grid->addWidget(baudLabel, 2, 0);
  grid->addWidget(cbPortSpeed, 2, 1);
  auto* note = new QVBoxLayout; // three lines read together as one note
  note->setSpacing(0);
  note->addWidget(Named<QLabel>("StaticText1", this, "Default port parameters "));
  note->addWidget(Named<QLabel>("StaticText2", this, "are set according to  "));
  note->addWidget(Named<QLabel>("StaticText3", this, "communication data protocol"));
  grid->addLayout(note, 3, 0, 2, 1);
  grid->addWidget(ok, 3, 1);
  grid->addWidget(cancel, 4, 1);
  FormCreate();
}

// Shows the settings in force; 1.5 and 2 stop bits both show as the second choice.
void TFormByteLen::FormCreate()
{
  const TComPort& port = Main.Port();
  rgrDataLen->SetItemIndex(port.ByteSize);
  rgrParity->SetItemIndex(port.Parity);
  if (port.StopBits <= 2)
    rgrStopBits->SetItemIndex(port.StopBits == 0 ? 0 : TwoStopBitsItem);
  cbPortSpeed->setCurrentIndex(port.BaudIndex < TComPort::BaudRates.size() ? port.BaudIndex : -1);
}

void TFormByteLen::ButtonOKClick()
{
  TComPort& port = Main.Port();
  if (rgrDataLen->ItemIndex() >= 0)
    port.SetByteSize(static_cast<std::uint8_t>(rgrDataLen->ItemIndex()));
  ApplyStopBits();
  if (rgrParity->ItemIndex() >= 0)
    port.SetParity(static_cast<std::uint8_t>(rgrParity->ItemIndex()));
  ApplyBaudRate();
  close();
}

// The second choice means 1.5 stop bits with 5 data bits, as UARTs have it, and 2 otherwise.
void TFormByteLen::ApplyStopBits()
{
  const int item = rgrStopBits->ItemIndex();
  if (item < 0)
    return;
  const bool fiveBits = rgrDataLen->ItemIndex() == FiveDataBits;
  Main.Port().SetStopBits(item == 0 ? 0 : (fiveBits ? 1 : 2));
}

// A typed rate that is not in the list keeps the rate in force.
void TFormByteLen::ApplyBaudRate()
{
  const int index = cbPortSpeed->findText(cbPortSpeed->currentText(), Qt::MatchExactly);
  if (index >= 0)
    Main.Port().SetBaudIndex(static_cast<std::uint8_t>(index));
}

void TFormByteLen::Button1Click()
{
  close();
}

void TFormByteLen::DisableDataBits()
{
  rgrDataLen->setEnabled(false);
}

#include "dialogs/FormByteLen.h"

#include "dialogs/DialogHost.h"
#include "serial/ComPort.h"
#include "widgets/ClassicFont.h"
#include "widgets/OperatorSettings.h"
#include "widgets/PanelParts.h"
#include "widgets/RadioGroup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace {

constexpr int FiveDataBits = 0;
constexpr int TwoStopBitsItem = 1;
const char* const Rs485Key = "port/rs485";

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
  cbRs485 = Named<QCheckBox>("cbRs485", this, "RS-485 (RTS drives the direction)");
  cbRs485->setFont(regular);

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
  grid->addWidget(cbRs485, 3, 0, 1, 2);
  auto* note = new QVBoxLayout; // three lines read together as one note
  note->setSpacing(0);
  note->addWidget(Named<QLabel>("StaticText1", this, "Default port parameters "));
  note->addWidget(Named<QLabel>("StaticText2", this, "are set according to  "));
  note->addWidget(Named<QLabel>("StaticText3", this, "communication data protocol"));
  grid->addLayout(note, 4, 0, 2, 1);
  grid->addWidget(ok, 4, 1);
  grid->addWidget(cancel, 5, 1);
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
  cbRs485->setChecked(port.Rs485);
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
  ApplyRs485();
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

// Kept for the next start; on an open port the mode is set at once, and a device without it is said.
void TFormByteLen::ApplyRs485()
{
  TComPort& port = Main.Port();
  const bool on = cbRs485->isChecked();
  OperatorSettings().setValue(Rs485Key, on);
  if (on == port.Rs485)
    return;
  port.SetRs485(on);
  if (const std::string note = port.IsOpen() ? port.SettingsNote() : ""; !note.empty())
    Main.AppendLog(note, TLogColour::Blue, false);
}

bool TFormByteLen::StoredRs485()
{
  return OperatorSettings().value(Rs485Key, false).toBool();
}

void TFormByteLen::Button1Click()
{
  close();
}

void TFormByteLen::DisableDataBits()
{
  rgrDataLen->setEnabled(false);
}

#include "ConsoleFixture.h"
#include "dialogs/FormAdress.h"
#include "dialogs/FormByteLen.h"
#include "dialogs/FormPortName.h"
#include "dialogs/FormSerialDevices.h"
#include "protocol/CommonDatas.h"
#include "protocol/OzmCommands.h"
#include "serial/ComPort.h"
#include "widgets/RadioGroup.h"
#include "widgets/SpinEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

#include <algorithm>
#include <filesystem>

namespace {

using namespace std::chrono_literals;
using TBytes = std::vector<std::uint8_t>;

const std::string PanelCom(int port)
{
  return "port opened:   Com" + std::to_string(port) + ";  8 bit, stop-bit: 1;  parity: none;  ";
}

TBytes Broadcast(std::uint8_t command, std::uint8_t value)
{
  return {0xE6, 0xFF, command, value, TOzmCommands::Crc8(3, 0xFF, command, value)};
}

class DialogsTest : public ConsoleTest {
protected:
  // A fresh port number dialog, showing the port in force now.
  TFormPortName* OpenPortNumber()
  {
    if (Form->FormPortName)
      delete Form->FormPortName;
    Form->MmPortNumberClick();
    return Form->FormPortName;
  }

  TFormByteLen* OpenPortParameters()
  {
    if (Form->FormByteLen)
      delete Form->FormByteLen;
    Form->mmPortParamClick();
    return Form->FormByteLen;
  }

  template <class T>
  static T* In(QWidget* dialog, const char* name)
  {
    T* widget = dialog->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  bool Contains(const std::vector<TBytes>& frames, const TBytes& frame) const
  {
    return std::find(frames.begin(), frames.end(), frame) != frames.end();
  }

  bool LogHas(const std::string& line) const
  {
    const std::vector<std::string> log = LogLines();
    return std::find(log.begin(), log.end(), line) != log.end();
  }
};

// ---- Port number

TEST_F(DialogsTest, PortNumberShowsThePortInForce)
{
  const struct {
    int Port;
    int Item;
    bool SpinEnabled;
  } cases[] = {{3, 2, false}, {17, 4, true}, {1, 0, false}};
  for (const auto& c : cases) {
    Form->ComPort->SetPortNumber(c.Port);
    TFormPortName* dialog = OpenPortNumber();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(In<TRadioGroup>(dialog, "rgrPortName")->ItemIndex(), c.Item) << c.Port;
    EXPECT_EQ(In<TSpinEdit>(dialog, "SpinEditPortName")->isEnabled(), c.SpinEnabled) << c.Port;
    if (c.Item == 4) {
      EXPECT_EQ(In<TSpinEdit>(dialog, "SpinEditPortName")->Value(), c.Port);
    }
  }
}

TEST_F(DialogsTest, ChoosingComTwoReopensAndIsShownNextTime)
{
  Data.Link("COM2", Sim.DevicePath());
  TFormPortName* dialog = OpenPortNumber();
  EXPECT_EQ(Label("PanelPortProp"), "") << "the menu closed the port";
  ClickChoice(In<TRadioGroup>(dialog, "rgrPortName")->Item(1));
  In<QPushButton>(dialog, "ButtonOK")->click();
  EXPECT_EQ(Form->ComPort->PortNumber, 2);
  EXPECT_EQ(Label("PanelPortProp"), PanelCom(2));
  ASSERT_TRUE(WaitFor([&] { return Form->FormPortName.isNull(); })) << "OK closes and frees the dialog";
  Form->MmPortNumberClick();
  EXPECT_EQ(In<TRadioGroup>(Form->FormPortName, "rgrPortName")->ItemIndex(), 1);
}

TEST_F(DialogsTest, OtherPortTextThatIsNoIntegerReadsAsFive)
{
  Data.Link("COM5", Sim.DevicePath());
  for (const char* text : {"-", "7.5"}) {
    Form->ComPort->SetPortNumber(1);
    TFormPortName* dialog = OpenPortNumber();
    ClickChoice(In<TRadioGroup>(dialog, "rgrPortName")->Item(4));
    TSpinEdit* spin = In<TSpinEdit>(dialog, "SpinEditPortName");
    spin->SetText("");
    QTest::keyClicks(spin, text);
    In<QPushButton>(dialog, "ButtonOK")->click();
    EXPECT_EQ(Form->ComPort->PortNumber, 5) << text;
    EXPECT_EQ(Label("PanelPortProp"), PanelCom(5));
  }
  EXPECT_TRUE(Messages.empty());
}

TEST_F(DialogsTest, OtherPortOutsideTheRangeIsRefusedOrPulledIn)
{
  TFormPortName* dialog = OpenPortNumber();
  ClickChoice(In<TRadioGroup>(dialog, "rgrPortName")->Item(4));
  TSpinEdit* spin = In<TSpinEdit>(dialog, "SpinEditPortName");
  spin->SetText("");
  QSignalSpy beeps(spin, &TSpinEdit::Refused);
  QTest::keyClicks(spin, "30a0"); // the letter is refused
  EXPECT_EQ(spin->Text().toStdString(), "300");
  QTest::keyClick(spin, Qt::Key_Return);
  QTest::keyClick(spin, Qt::Key_Backspace);
  QTest::keyClick(spin, Qt::Key_0);
  EXPECT_EQ(beeps.count(), 2) << "the letter and Enter, not Backspace or a digit";
  In<QPushButton>(dialog, "ButtonOK")->click(); // while 300 still stands
  EXPECT_EQ(Messages, std::vector<std::string>{"Please, enter correct port number"});
  EXPECT_EQ(Form->ComPort->PortNumber, 1);
  EXPECT_EQ(Label("PanelPortProp"), PanelCom(1)) << "the old port is opened again";

  TSpinEdit leaving(5, 255);
  leaving.SetText("300");
  QFocusEvent focusOut(QEvent::FocusOut);
  QApplication::sendEvent(&leaving, &focusOut);
  EXPECT_EQ(leaving.Value(), 255);
  leaving.SetValue(2);
  EXPECT_EQ(leaving.Value(), 5);
}

// "MS Sans Serif" where the desktop has it, else the desktop's own face, at each dialog's size.
TEST_F(DialogsTest, DialogsKeepTheirPointSizes)
{
  TFormByteLen* parameters = OpenPortParameters();
  const struct {
    QWidget* Widget;
    int Points;
    bool Bold;
  } cases[] = {{OpenPortNumber(), 8, false},
               {Form->FormAdress, 8, false},
               {In<QPushButton>(Form->FormPortName, "ButtonOK"), 8, true},
               {parameters, 8, true},
               {In<QPushButton>(parameters, "ButtonOK"), 8, true},
               {In<TRadioGroup>(parameters, "rgrDataLen"), 9, false},
               {In<TRadioGroup>(parameters, "rgrStopBits"), 9, false},
               {In<TRadioGroup>(parameters, "rgrParity"), 9, false},
               {In<QWidget>(parameters, "StaticText4"), 9, false}};
  for (const auto& c : cases) {
    const QFont font = c.Widget->font();
    EXPECT_EQ(font.pointSize(), c.Points) << c.Widget->objectName().toStdString();
    EXPECT_EQ(font.bold(), c.Bold) << c.Widget->objectName().toStdString();
    EXPECT_EQ(font.families().value(0), "MS Sans Serif") << c.Widget->objectName().toStdString();
    EXPECT_GE(font.families().size(), 2) << "a fallback where the face is missing";
  }
}

TEST_F(DialogsTest, PortNumberCloseBoxLeavesThePortClosed)
{
  TFormPortName* dialog = OpenPortNumber();
  dialog->close();
  EXPECT_EQ(Label("PanelPortProp"), "");
  EXPECT_FALSE(Form->ComPort->IsOpen());
  EXPECT_TRUE(Find("BtnOpenPort")->isEnabled());
}

// ---- Port parameters

TEST_F(DialogsTest, StopBitsFollowTheDataBits)
{
  const struct {
    int DataItem;
    std::uint8_t StopBits;
  } cases[] = {{0, 1}, {3, 2}, {1, 2}};
  for (const auto& c : cases) {
    TFormByteLen* dialog = OpenPortParameters();
    In<TRadioGroup>(dialog, "rgrDataLen")->SetItemIndex(c.DataItem);
    In<TRadioGroup>(dialog, "rgrStopBits")->SetItemIndex(1);
    In<QPushButton>(dialog, "ButtonOK")->click();
    EXPECT_EQ(Form->ComPort->StopBits, c.StopBits);
    EXPECT_EQ(Form->ComPort->ByteSize, c.DataItem);
    EXPECT_EQ(In<TRadioGroup>(OpenPortParameters(), "rgrStopBits")->ItemIndex(), 1) << "shown as 2 (1,5)";
  }
}

TEST_F(DialogsTest, ParityAndBaudReachTheOpenPortAtOnce)
{
  TFormByteLen* dialog = OpenPortParameters();
  In<TRadioGroup>(dialog, "rgrParity")->SetItemIndex(3);
  In<QComboBox>(dialog, "cbPortSpeed")->setCurrentText("19200");
  In<QPushButton>(dialog, "ButtonOK")->click();
  EXPECT_EQ(Form->ComPort->Parity, 3) << "Const 1 is mark parity";
  TLineSettings line;
  ASSERT_TRUE(Form->ComPort->ReadBackSettings(line));
  EXPECT_EQ(line.Baud, 19200u);
  EXPECT_TRUE(Form->ComPort->IsOpen());

  Form.reset();
  StartWindow();
  EXPECT_EQ(Form->ComPort->BaudIndex, 6) << "a restart is at 9600 again";
}

TEST_F(DialogsTest, CancelAndUnknownBaudTextChangeNothing)
{
  TFormByteLen* dialog = OpenPortParameters();
  In<TRadioGroup>(dialog, "rgrDataLen")->SetItemIndex(0);
  In<TRadioGroup>(dialog, "rgrParity")->SetItemIndex(4);
  In<QComboBox>(dialog, "cbPortSpeed")->setCurrentText("19200");
  In<QPushButton>(dialog, "Button1")->click();
  EXPECT_EQ(Form->ComPort->ByteSize, 3);
  EXPECT_EQ(Form->ComPort->Parity, 0);
  EXPECT_EQ(Form->ComPort->BaudIndex, 6);

  dialog = OpenPortParameters();
  In<QComboBox>(dialog, "cbPortSpeed")->setCurrentText("12345");
  In<QPushButton>(dialog, "ButtonOK")->click();
  EXPECT_EQ(Form->ComPort->BaudIndex, 6);
}

// RS-485 mode by the checkbox: set on the open port at once, kept for the next start and taken at its
// open. A pty has none: said in the log as a note, and the port stays open. Off, nothing is said.
TEST_F(DialogsTest, Rs485ChoiceReachesThePortAndIsKept)
{
  const auto said = [this] {
    const std::vector<std::string> lines = LogLines();
    return std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
      return line.starts_with("RS-485 mode not set: /dev/pts/") && line.find("has none") != std::string::npos;
    });
  };
  for (const bool on : {true, false}) { // off last: the next test starts without it
    TFormByteLen* dialog = OpenPortParameters();
    In<QCheckBox>(dialog, "cbRs485")->setChecked(on);
    const auto before = said();
    In<QPushButton>(dialog, "ButtonOK")->click();
    EXPECT_EQ(Form->ComPort->Rs485, on);
    EXPECT_TRUE(Form->ComPort->IsOpen());
    EXPECT_EQ(said() - before, on ? 1 : 0) << "said at once on the open port";

    Form.reset();
    StartWindow();
    EXPECT_EQ(Form->ComPort->Rs485, on) << "kept for the next start";
    EXPECT_EQ(In<QCheckBox>(OpenPortParameters(), "cbRs485")->isChecked(), on);
    EXPECT_EQ(said(), on ? 1 : 0) << "said at the open";
  }
  Form.reset(); // it holds the port
  Form = std::make_unique<TForm1>(Data.Path(), nullptr, TStartChoice{{}, {}, true}); // ozmet --rs485
  EXPECT_TRUE(Form->ComPort->Rs485 && Form->ComPort->IsOpen());
  EXPECT_EQ(said(), 1);
  EXPECT_FALSE(TFormByteLen::StoredRs485()) << "for this run only";
}

TEST_F(DialogsTest, DataBitsGreyAfterAPortRefreshUntilAFreshInstance)
{
  Form->mmPortParamClick(); // the instance made at start-up
  EXPECT_TRUE(In<TRadioGroup>(Form->FormByteLen, "rgrDataLen")->isEnabled());
  Click("BtnClosePort");
  EXPECT_FALSE(In<TRadioGroup>(Form->FormByteLen, "rgrDataLen")->isEnabled());
  EXPECT_EQ(In<TRadioGroup>(Form->FormByteLen, "rgrDataLen")->ItemIndex(), 3) << "still shows the bits in force";
  EXPECT_TRUE(In<TRadioGroup>(OpenPortParameters(), "rgrDataLen")->isEnabled());
}

// ---- Address

TEST_F(DialogsTest, SetNewAddressBroadcastsTheBeginFrame)
{
  Form->MmSetNewAddressClick();
  TFormAdress* dialog = Form->FormAdress;
  ASSERT_TRUE(dialog->isVisible());
  QLineEdit* edit = In<QLineEdit>(dialog, "EditAdress");
  edit->setText("10");
  In<QPushButton>(dialog, "BtnsetAdress")->click();
  EXPECT_EQ(edit->text().toStdString(), "$0A");
  EXPECT_EQ(Label("PanelPortProp"), PanelCom(1)) << "the button opened the port";
  const TBytes begin = Broadcast(0xA0, 0x0A);
  EXPECT_EQ(MemoLines(), std::vector<std::string>{"E6FFA00A" + TOzmCommands::HexByte(begin[4])});
  ASSERT_TRUE(WaitFor([&] { return LogHas("To save new address press the button on the controller."); }));
  const auto noticed = std::chrono::steady_clock::now();
  EXPECT_TRUE(Contains(FramesSeen(), begin));
  // The notice stands for the silence: it comes once the answer timeout has passed, not before.
  const std::vector<TSimTraffic> traffic = Sim.Traffic();
  const auto sent = std::find_if(traffic.begin(), traffic.end(), [&](const TSimTraffic& t) { return t.Bytes == begin; });
  ASSERT_NE(sent, traffic.end());
  EXPECT_GE(noticed - sent->Time, 250ms);
  EXPECT_EQ(Form->Datas->NewAddress, 10);
}

TEST_F(DialogsTest, ClosingWithoutSettingBroadcastsTheEndForAddressZero)
{
  Form->MmSetNewAddressClick(); // closes the port
  Click("BtnOpenPort");
  Form->FormAdress->close();
  ASSERT_TRUE(WaitFor([&] { return LogHas("New address setting is completed!"); }));
  EXPECT_TRUE(Contains(FramesSeen(), Broadcast(0xA1, 0)));
}

TEST_F(DialogsTest, AddressEntriesAreCheckedBeforeAnythingIsQueued)
{
  Form->MmSetNewAddressClick();
  TFormAdress* dialog = Form->FormAdress;
  QLineEdit* edit = In<QLineEdit>(dialog, "EditAdress");
  const struct {
    const char* Text;
    std::vector<std::string> Messages;
    bool Queued;
  } cases[] = {{"$FF", {"Please, set correct value from 0 to 254!"}, false},
               {"abc", {"Please, set correct value from 0 to 254!"}, false},
               {"$FE", {}, true}};
  for (const auto& c : cases) {
    Messages.clear();
    Form->ClearMemoAndQueue();
    edit->setText(c.Text);
    In<QPushButton>(dialog, "BtnsetAdress")->click();
    EXPECT_EQ(Messages, c.Messages) << c.Text;
    EXPECT_EQ(!MemoLines().empty(), c.Queued) << c.Text;
  }
  EXPECT_EQ(edit->text().toStdString(), "$FE");
}

TEST_F(DialogsTest, AddressProcedureEndToEndMovesTheController)
{
  Form->MmSetNewAddressClick();
  TFormAdress* dialog = Form->FormAdress;
  In<QLineEdit>(dialog, "EditAdress")->setText("5");
  In<QPushButton>(dialog, "BtnsetAdress")->click();
  ASSERT_TRUE(WaitFor([&] { return LogHas("To save new address press the button on the controller."); }));
  ASSERT_TRUE(Sim.PressButton());
  dialog->close();
  EXPECT_FALSE(dialog->isVisible());
  ASSERT_TRUE(WaitFor([&] { return LogHas("New address setting is completed!"); }));
  EXPECT_TRUE(Contains(FramesSeen(), Broadcast(0xA1, 5)));
  ASSERT_TRUE(WaitFor([&] { return !Form->Datas->AddressSetFinished; })) << "the procedure is over";

  // The controller now answers at 5; the old address 0 stays silent and is reported as such.
  Type("EditMotorAddress", "5");
  Click("BtnMotorApply");
  ASSERT_TRUE(WaitFor([&] { return Sim.FramesReceived() >= 4; }));
  Type("EditMotorAddress", "0");
  Click("BtnMotorApply");
  ASSERT_TRUE(WaitFor([&] { return LogHas("Command transferred. There is not answer from the controller!"); }));
  EXPECT_EQ(Sim.Controllers().at(0).Address(), 5);

  Form->MmSetNewAddressClick();
  EXPECT_EQ(In<QLineEdit>(Form->FormAdress, "EditAdress")->text().toStdString(), "$05") << "it keeps its text";
}

struct TNetworkAssignCase {
  const char* Name;
  const char* Typed;
  const char* Message; // empty: linked as typed
};

class SerialDevicesNetwork : public DialogsTest, public ::testing::WithParamInterface<TNetworkAssignCase> {};

// A serial device server's address is linked as it was typed, shown as a network line, and one that
// is no address is refused with the forms it may take.
TEST_P(SerialDevicesNetwork, AssignsATypedAddress)
{
  const TNetworkAssignCase& c = GetParam();
  Form->MmSerialDevicesClick();
  TFormSerialDevices* dialog = Form->FormSerialDevices;
  ASSERT_NE(dialog, nullptr);
  In<QLineEdit>(dialog, "EditNetworkLine")->setText(c.Typed);
  In<QSpinBox>(dialog, "SpinPortNumber")->setValue(9);
  dialog->BtnAssignClick();
  std::error_code error;
  const std::string link = std::filesystem::read_symlink(Data.Path() + "/COM9", error).string();
  if (*c.Message) {
    EXPECT_EQ(Messages, std::vector<std::string>{c.Message});
    EXPECT_EQ(link, "");
    return;
  }
  EXPECT_EQ(Messages, std::vector<std::string>{});
  EXPECT_EQ(link, c.Typed);
  auto* ports = In<QTableWidget>(dialog, "TablePorts");
  const auto rows = ports->findItems(c.Typed, Qt::MatchExactly);
  ASSERT_EQ(rows.size(), 1);
  EXPECT_EQ(ports->item(rows.front()->row(), 2)->text(), "network");
}

const TNetworkAssignCase NetworkAssignCases[] = {
    {"Rfc2217", "rfc2217://bench-7:3001", ""},
    {"RawTcp", "tcp://[fd00::7]:3000", ""},
    {"NoPort", "tcp://bench-7", "tcp://bench-7 is no network line: write tcp://HOST:PORT or rfc2217://HOST:PORT."},
};

INSTANTIATE_TEST_SUITE_P(Typed, SerialDevicesNetwork, ::testing::ValuesIn(NetworkAssignCases),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace

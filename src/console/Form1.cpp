#include "console/Form1.h"

#include "console/BusPoller.h"
#include "console/CommandSequence.h"
#include "console/LinkCountersView.h"
#include "console/LogPanel.h"
#include "console/LongTimer.h"
#include "console/MotorPanel.h"
#include "console/OperationPanel.h"
#include "console/OperatorExtras.h"
#include "console/PortStrip.h"
#include "console/WorkPanel.h"
#include "dialogs/FormAdress.h"
#include "dialogs/FormByteLen.h"
#include "dialogs/FormPortName.h"
#include "dialogs/FormSerialDevices.h"
#include "dialogs/Langs.h"
#include "motor/MotorParameters.h"
#include "motor/StatusDisplay.h"
#include "motor/WorkParameters.h"
#include "protocol/CommonDatas.h"
#include "protocol/OzmCommands.h"
#include "serial/ComPort.h"
#include "serial/Exchange.h"
#include "serial/PortButtons.h"
#include "serial/PortSettings.h"
#include "serial/Synchronizer.h"
#include "widgets/ClassicFont.h"
#include "widgets/MessageBox.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QLabel>
#include <QTimer>

#include <chrono>
#include <cstdio>

TForm1::TForm1(std::string dataFolder, QWidget* parent, TStartChoice choice) : QMainWindow(parent)
{
  setObjectName("Form1");
  setWindowTitle(Caption);
  BuildWindow();
  resize(613, 488);
  FormCreate(dataFolder, choice);
  // As the program starts: the dialogs after the window, hidden, each seeing the settings just loaded.
  FormByteLen = new TFormByteLen(*this);
  FormPortName = new TFormPortName(*this);
  FormAdress = new TFormAdress(*this);
  CreateExtras();
}

// Beside the Parts' controls: they need the shared record, so they come after it.
void TForm1::CreateExtras()
{
  LinkCounters = new TLinkCountersView(Datas->Counters, centralWidget());
  BottomLine->addWidget(LinkCounters);
  Extras = new TOperatorExtras(*this, *LinkCounters);
}

void TForm1::RestoreSettings()
{
  Extras->RestoreSettings();
}

TForm1::~TForm1()
{
  FormClose(std::chrono::steady_clock::time_point::max());
}

void TForm1::closeEvent(QCloseEvent* event)
{
  FormClose(std::chrono::steady_clock::time_point::max());
  event->accept();
}

void TForm1::FormCreate(const std::string& dataFolder, const TStartChoice& choice)
{
  WidthBeforeCollapse = width();
  IsExpanded = true;
  // Background threads reach this window through its event loop.
  TSynchronizer& sync = TSynchronizer::Instance();
  sync.SetMainThread(std::this_thread::get_id());
  sync.SetWaker([this] {
    QMetaObject::invokeMethod(this, [] { TSynchronizer::Instance().ProcessPending(); }, Qt::QueuedConnection);
  });
  Datas = std::make_unique<TCommonDatas>();
  Langs = std::make_unique<TLangs>();
  ComPort = std::make_unique<TComPort>();
  ComPort->DataFolder = dataFolder;
  ComPort->OnRead = [this](std::uint64_t epoch) { return OzmCommands->BlockRead(epoch); };
  ComPort->OnReceive = [this](const std::uint8_t* data, std::int32_t count, std::uint32_t errors,
                              std::uint32_t claim) { PortDataReceived(data, count, errors, claim); };
  PortSettings = std::make_unique<TPortSettings>(*ComPort, *this);
  PortSettings->LoadPortSettings();
  OzmCommands = std::make_unique<TOzmCommands>(*Datas, *this);
  PortButtons = std::make_unique<TPortButtons>(*ComPort, *this);
  Exchange = std::make_unique<TExchange>(*Datas, *ComPort, *PortButtons, *this);
  MotorParameters = std::make_unique<TMotorParameters>(*Datas, *OzmCommands, *this);
  WorkParameters = std::make_unique<TWorkParameters>(*Datas, *OzmCommands, *this);
  PortSettings->ChooseForThisRun(choice.Port, choice.Device);
  ComPort->Rs485 = choice.Rs485 || TFormByteLen::StoredRs485(); // before the first open
  BtnOpenPortClick();
}

// Stops everything that could still call in before the objects go: the timers, the worker, the
// receive thread (closing the port), and only then frees them. A worker that has not ended by the
// deadline waits for this thread below us: its objects are left to the ending process.
void TForm1::FormClose(std::chrono::steady_clock::time_point workerDeadline)
{
  if (Closed)
    return;
  Closed = true;
  // Hidden without their close steps: the address dialog would otherwise start an exchange now.
  for (QWidget* dialog : std::initializer_list<QWidget*>{FormByteLen, FormPortName, FormAdress, FormSerialDevices})
    if (dialog)
      dialog->hide();
  PortSettings->SaveAtClose();
  Extras->FormClosing();
  delete LinkCounters; // its refresh reads the record, which goes below
  LinkCounters = nullptr;
  TimerGetMotorState->stop();
  TmrStopMotor->SetEnabled(false);
  if (!Exchange->WaitForWorker(workerDeadline)) {
    std::fputs("ozmet: the exchange under way did not end; its port is left to the system\n", stderr);
    return;
  }
  ComPort->Close();
  WorkParameters.reset();
  MotorParameters.reset();
  Exchange.reset();
  PortButtons.reset();
  PortSettings.reset();
  ComPort.reset();
  Langs.reset();
  Datas.reset();
  OzmCommands.reset();
  TSynchronizer::Instance().SetWaker(nullptr);
}

void TForm1::BuildWindow()
{
  setFont(ClassicFont());
  const TMainLayout layout(*this);
  PanelMotorData = layout.Motor;
  PanelWorkData = layout.Work;
  PanelOperation = layout.Operation;
  PortStrip = layout.Strip;
  LogColumn = layout.Log;
  PanelPortProp = layout.PortProp;
  BottomLine = layout.BottomLine;
  layout.Connect(*this);
  layout.BuildMenu(*this);
  BuildTimers();
}

void TForm1::BuildTimers()
{
  TimerGetMotorState = new QTimer(this);
  TimerGetMotorState->setObjectName("TimerGetMotorState");
  TimerGetMotorState->setInterval(500);
  TimerGetMotorState->setTimerType(Qt::PreciseTimer); // a coarse timer may fire up to 5 % early
  connect(TimerGetMotorState, &QTimer::timeout, this, &TForm1::TimerGetMotorStateTimer);
  TmrStopMotor = new TLongTimer(this);
  TmrStopMotor->setObjectName("TmrStopMotor");
  connect(TmrStopMotor, &TLongTimer::Timeout, this, &TForm1::TmrStopMotorTimer);
  Commands = std::make_unique<TCommandSequence>(*this, *TimerGetMotorState);
}

// ---- The window as the system reaches it

void TForm1::AppendLog(const std::string& text, TLogColour colour, bool bold)
{
  LogColumn->AppendLog(text, colour, bold);
}

bool TForm1::ScrollLogToEnd()
{
  LogColumn->ScrollToEnd();
  return true;
}

void TForm1::AppendMemo(const std::string& line)
{
  LogColumn->AppendMemo(line);
}

void TForm1::ShowMotorState()
{
  PanelOperation->ShowState(StatusTexts(*Datas, StatusWatch));
}

void TForm1::StatusDecoded()
{
  if (StatusWatch.Answered(Datas->CurrentSpeedRpm, std::chrono::system_clock::now()))
    ShowMotorState(); // shown before this answer counted as known
  Extras->StatusDecoded();
}

void TForm1::StatusUnknown()
{
  StatusWatch.Lost();
  ShowMotorState();
  if (Extras) // not yet while the window is being built
    Extras->StatusUnknown();
}

void TForm1::AddToBottomLine(QWidget* widget)
{
  BottomLine->addWidget(widget);
}

void TForm1::MotionSent(bool run, bool answered, long long msSinceEpoch)
{
  Extras->MotionSent(run, answered, msSinceEpoch);
  if (!run && answered)
    StopAnswered(Datas->MotorAddress);
}

// A Run is forgotten only once a Stop to its controller was answered: an unanswered one may not have reached it.
void TForm1::StopAnswered(std::uint8_t address)
{
  if (MayRunAt.erase(address))
    Extras->BusPoller().MayRunChanged(address);
}

void TForm1::DisablePollTimer()
{
  TimerGetMotorState->stop();
}

void TForm1::DisableStopMotorTimer()
{
  TmrStopMotor->SetEnabled(false);
}

void TForm1::AnswerReceived()
{
  Exchange->EventPortString.Set();
}

void TForm1::ShowMessage(const std::string& text)
{
  ::ShowMessage(text);
}

void TForm1::SetPortPanelText(const std::string& text)
{
  PanelPortProp->setText(QString::fromStdString(text));
}

void TForm1::ShowPortDevice(const std::string& device, const std::string& toolTip)
{
  setWindowTitle(QString(Caption) + (device.empty() ? "" : " - " + QString::fromStdString(device)));
  PanelPortProp->setToolTip(QString::fromStdString(toolTip));
}

void TForm1::UpdatePortButtons(bool portOpen)
{
  PortStrip->ShowPortOpen(portOpen);
  if (FormByteLen)
    FormByteLen->DisableDataBits();
  if (FormSerialDevices && FormSerialDevices->isVisible())
    FormSerialDevices->Refresh(); // its "open now" column
}

// ---- Port, log and window

void TForm1::BtnOpenPortClick()
{
  if (Extras && Extras->RefuseWhileLineTaken()) // no extras yet at the first open
    return;
  PortButtons->BtnOpenPortClick();
}

void TForm1::BtnClosePortClick()
{
  PortButtons->BtnClosePortClick();
}

void TForm1::BtnClearLogClick()
{
  LogColumn->ClearLog();
}

void TForm1::SpeedButton1Click()
{
  if (IsExpanded)
    WidthBeforeCollapse = width();
  IsExpanded = !IsExpanded;
  TMainLayout::Fold(*this, *LogColumn, !IsExpanded, WidthBeforeCollapse);
}

void TForm1::Button1Click()
{
  ShowMessage("a3: $" + TOzmCommands::HexByte(TOzmCommands::Crc8(3, 0x01, 0x52, 0x00)));
}

void TForm1::Raise(QWidget& dialog)
{
  dialog.show();
  dialog.raise();
  dialog.activateWindow();
}

template <class TDialog>
void TForm1::ShowDialog(QPointer<TDialog>& dialog)
{
  if (!dialog)
    dialog = new TDialog(*this);
  Raise(*dialog);
}

void TForm1::MmPortNumberClick()
{
  BtnClosePortClick();
  ShowDialog(FormPortName);
}

void TForm1::mmPortParamClick()
{
  ShowDialog(FormByteLen);
}

void TForm1::MmSerialDevicesClick()
{
  ShowDialog(FormSerialDevices);
}

void TForm1::MmSetNewAddressClick()
{
  if (Extras->RefuseWhileLineTaken())
    return;
  BtnClosePortClick(); // the handler itself: a button's click() does nothing while it is disabled
  if (TimerGetMotorState->isActive()) {
    ShowMessage("New address setting is possible when there is not data transferring.");
    return;
  }
  Raise(*FormAdress);
}

void TForm1::LangBtnClick()
{
  Langs->ApplyTexts(*this, *this);
}

void TForm1::PortDataReceived(const std::uint8_t* data, std::int32_t count, std::uint32_t errors,
                              std::uint32_t claim)
{
  OzmCommands->PortDataReceived(data, count, errors, claim);
}

// ---- Status polling and display

bool TForm1::DataTransferring() const
{
  return TimerGetMotorState->isActive() || Exchange->WorkerRunning() || Extras->SequenceRunning();
}

void TForm1::TimerGetMotorStateTimer()
{
  Datas->StatusPolling = true;
  OzmCommands->BuildStatusRequest();
  // An exchange still under way sends the request as its last frame: waiting here for it would hold
  // the window, and an Esc with it, for as long as a slow controller takes.
  if (Exchange->WorkerRunning())
    return;
  ClearMemoAndQueue();
  Exchange->StartExchange();
}

void TForm1::ShowDirection(std::uint8_t direction)
{
  PanelOperation->ShowDirection(direction);
}

void TForm1::ResetRevCounters()
{
  Datas->SetMotorRevCounter(0);
  PanelOperation->ShowCountersReset();
  Datas->CounterOverflow = false;
}

void TForm1::BtnResetClick()
{
  ResetRevCounters();
  ShowMotorState();
}

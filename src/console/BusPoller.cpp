#include "BusPoller.h"

#include "BusListFile.h"
#include "ComPort.h"
#include "CommandSequence.h"
#include "CommonDatas.h"
#include "Exchange.h"
#include "Form1.h"
#include "OzmCommands.h"

#include <QTimer>

#include <algorithm>

TBusPoller::TBusPoller(TForm1& form) : QObject(&form), Form(form)
{
  Timer = new QTimer(this);
  Timer->setObjectName("TimerBusPoll");
  Timer->setTimerType(Qt::PreciseTimer);
  connect(Timer, &QTimer::timeout, this, &TBusPoller::Tick);
  Form.OzmCommands->SetBusListener(this);
  Form.Exchange->Bus = this;
  Reload();
}

TBusPoller::~TBusPoller()
{
  if (Form.OzmCommands)
    Form.OzmCommands->SetBusListener(nullptr);
  if (Form.Exchange)
    Form.Exchange->Bus = nullptr;
}

void TBusPoller::Reload()
{
  const std::string line = Form.ComPort->DeviceName();
  if (line == Line)
    return;
  Line = line;
  Controllers = TBusListFile(Form.ComPort->DataFolder, Line).Load();
  emit Changed();
}

std::optional<std::string> TBusPoller::Save() const
{
  return TBusListFile(Form.ComPort->DataFolder, Line).Save(Controllers);
}

std::string TBusPoller::FilePath() const
{
  return TBusListFile(Form.ComPort->DataFolder, Line).Path();
}

void TBusPoller::SetPolling(bool on)
{
  if (!on) {
    Timer->stop();
    return;
  }
  // One status exchange: the pause, the request and its answer on the wire, and the controller's
  // own few milliseconds.
  const std::chrono::microseconds exchange =
      std::chrono::milliseconds(TComPort::WritePauseMs + 5) +
      std::chrono::duration_cast<std::chrono::microseconds>(Form.ComPort->TimeOnWire(TStatusRequest{}.size() + TFrame{}.size()));
  const auto tick = TBusRound::Tick(Controllers.Size(), exchange);
  Timer->start(static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(tick).count()));
}

bool TBusPoller::Polling() const
{
  return Timer->isActive();
}

void TBusPoller::Tick()
{
  if (!Form.ComPort->IsOpen() || Form.Exchange->WorkerRunning())
    return; // a command, a Stop or the panel's poll has the line: the turn waits
  const std::optional<std::uint8_t> next = Round.Next(Controllers.Addresses());
  if (!next || (*next == Form.Datas->MotorAddress && Form.DataTransferring()))
    return; // the panel's poll asks its controller itself
  Form.Exchange->StartBusStatus(*next);
}

bool TBusPoller::AnyMayRun() const
{
  return std::any_of(Controllers.Controllers().begin(), Controllers.Controllers().end(),
                     [](const TBusController& controller) { return controller.SpeedRpm() > 0; });
}

void TBusPoller::StopAll(bool panelFirst)
{
  std::vector<std::uint8_t> addresses = Controllers.Addresses();
  const std::uint8_t panel = Form.Datas->MotorAddress;
  if (panelFirst || !Controllers.Find(panel)) { // otherwise in its own place in the list
    std::erase(addresses, panel);
    addresses.insert(panelFirst ? addresses.begin() : addresses.end(), panel);
  }
  Form.CommandSteps().SendOvertaking(
      "Stop all",
      [this, &addresses] {
        Form.DisableStopMotorTimer();
        for (std::uint8_t address : addresses)
          Form.AppendMemo(TOzmCommands::MemoText(TOzmCommands::FrameFor(address, CmdStop, 0)));
        return true;
      },
      [this](bool ok) {
        if (ok)
          Form.Datas->MotorStopped = true;
      },
      [this, &addresses] { return Form.Exchange->StartStopAll(addresses); });
}

void TBusPoller::StatusAnswered(std::uint8_t address, std::span<const std::uint8_t> block)
{
  TBusController* controller = Controllers.Find(address);
  if (!controller)
    return;
  if (block.size() == TFrame{}.size()) {
    TFrame answer;
    std::copy(block.begin(), block.end(), answer.begin());
    controller->Answered(answer, Form.Datas->GearRatio, std::chrono::system_clock::now());
  } else {
    controller->Damaged();
  }
  emit Changed();
}

void TBusPoller::StatusMissing(std::uint8_t address)
{
  if (TBusController* controller = Controllers.Find(address)) {
    controller->Missing();
    emit Changed();
  }
}

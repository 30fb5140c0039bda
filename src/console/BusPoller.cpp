#include "console/BusPoller.h"

#include "bus/BusListFile.h"
#include "console/CommandSequence.h"
#include "console/Form1.h"
#include "protocol/CommonDatas.h"
#include "protocol/OzmCommands.h"
#include "serial/ComPort.h"
#include "serial/Exchange.h"

#include <QTimer>

#include <algorithm>

TBusPoller::TBusPoller(TForm1& form) : QObject(&form), Form(form)
{
  Timer = new QTimer(this);
  Timer->setObjectName("TimerBusPoll");
  Timer->setTimerType(Qt::PreciseTimer);
  Timer->setInterval(500); // the panel's own poll's rate
  connect(Timer, &QTimer::timeout, this, &TBusPoller::Tick);
  Form.OzmCommands->SetBusListener(this);
  Form.Exchange->SetBusListener(this);
  Reload();
}

void TBusPoller::Detach()
{
  SetPolling(false);
  Form.OzmCommands->SetBusListener(nullptr);
  Form.Exchange->SetBusListener(nullptr);
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
  RoundDue = false;
  if (!on)
    Timer->stop();
  else if (!Timer->isActive())
    Timer->start();
}

bool TBusPoller::Polling() const
{
  return Timer->isActive();
}

void TBusPoller::Tick()
{
  if (!Form.ComPort->IsOpen())
    return;
  Reload(); // the port may lead to another line since the last round
  if (Form.Exchange->WorkerRunning()) {
    RoundDue = true; // the round before, or a command: the next round follows it
    return;
  }
  RoundDue = false;
  if (std::vector<std::uint8_t> addresses = RoundAddresses(); !addresses.empty())
    Form.Exchange->StartBusRound(std::move(addresses));
}

std::vector<std::uint8_t> TBusPoller::RoundAddresses() const
{
  std::vector<std::uint8_t> addresses = Controllers.Addresses();
  if (Form.DataTransferring())
    std::erase(addresses, Form.Datas->MotorAddress);
  return addresses;
}

void TBusPoller::ExchangeEnded()
{
  if (RoundDue && Polling())
    QTimer::singleShot(0, this, &TBusPoller::Tick); // from the event loop, not from the worker's step
}

bool TBusPoller::AnyMayRun() const
{
  // One whose state is not known (silent, or not asked yet) may be turning as well as not.
  return std::any_of(Controllers.Controllers().begin(), Controllers.Controllers().end(),
                     [](const TBusController& controller) { return !controller.Known() || controller.SpeedRpm() > 0; });
}

std::size_t TBusPoller::StopCount() const
{
  return Controllers.Size() + 1 + Form.RunSentTo().size();
}

void TBusPoller::StopAll(bool panelFirst)
{
  std::vector<std::uint8_t> addresses = Controllers.Addresses();
  const std::uint8_t panel = Form.Datas->MotorAddress;
  if (panelFirst || !Controllers.Find(panel)) { // otherwise in its own place in the list
    std::erase(addresses, panel);
    addresses.insert(panelFirst ? addresses.begin() : addresses.end(), panel);
  }
  for (std::uint8_t address : Form.RunSentTo()) // the panel has moved on from them since their Run
    if (std::find(addresses.begin(), addresses.end(), address) == addresses.end())
      addresses.push_back(address);
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
          Form.MotorStopSent();
      },
      [this, &addresses] { return Form.Exchange->StartStopAll(addresses); });
}

void TBusPoller::StatusAnswered(std::uint8_t address, std::span<const std::uint8_t> block)
{
  TBusController* controller = Controllers.Find(address);
  if (!controller)
    return;
  const bool wasSilent = !controller->Known() && controller->AnswersMissing() > 0;
  const auto at = std::chrono::system_clock::now();
  if (block.size() == TFrame{}.size()) {
    TFrame answer;
    std::copy(block.begin(), block.end(), answer.begin());
    controller->Answered(answer, Form.Datas->GearRatio, at);
  } else {
    controller->Damaged();
  }
  if (wasSilent && controller->Known())
    Say(Named(*controller) + " answers again", TLogColour::Green);
  emit RowChanged(address);
  const bool answered = controller->LastAnswer() == at; // not when its checksum was bad: the row kept what it showed
  if (answered)
    emit SpeedDecoded(address, std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count(),
                      controller->SpeedRpm());
  emit StatusTold(address, answered);
}

void TBusPoller::StatusMissing(std::uint8_t address)
{
  TBusController* controller = Controllers.Find(address);
  if (!controller)
    return;
  // Said once when it falls silent, not at every round.
  if (controller->Known() || controller->AnswersMissing() == 0)
    Say(Named(*controller) + " does not answer its status request", TLogColour::Red);
  controller->Missing();
  emit RowChanged(address);
  emit StatusTold(address, false);
}

void TBusPoller::Say(const std::string& text, TLogColour colour)
{
  Form.AppendLog(text, colour, false);
  Form.ScrollLogToEnd();
}

std::string TBusPoller::Named(const TBusController& controller)
{
  const std::string label = controller.Label().empty() ? "" : " (" + controller.Label() + ")";
  return "Bus: " + TOzmCommands::HexAddress(controller.Address()) + label;
}

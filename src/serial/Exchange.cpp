#include "serial/Exchange.h"

#include "protocol/BusListener.h"
#include "protocol/CommonDatas.h"
#include "protocol/ConsoleView.h"
#include "protocol/OzmCommands.h"
#include "serial/ComPort.h"
#include "serial/PortButtons.h"
#include "serial/PortDescription.h"
#include "serial/Synchronizer.h"

#include <chrono>

TExchange::TExchange(TCommonDatas& datas, TComPort& port, TPortButtons& portButtons, TConsoleView& view)
    : Datas(datas), Port(port), PortButtons(portButtons), View(view)
{
}

TExchange::~TExchange()
{
  WaitForWorker();
}

bool TExchange::StartExchange()
{
  return Start({});
}

bool TExchange::StartBusRound(std::vector<std::uint8_t> addresses)
{
  TExchangeJob job;
  job.BusRound = std::move(addresses);
  return Start(job);
}

bool TExchange::StartStopAll(std::vector<std::uint8_t> addresses)
{
  TExchangeJob job;
  job.StopAll = std::move(addresses);
  job.PanelAddress = Datas.MotorAddress;
  return Start(job);
}

bool TExchange::Start(TExchangeJob job)
{
  // A bus round gives way to anything else after the frame on the wire: the panels go first.
  if (RoundUnderWay && WorkerRunning())
    CurrentWorker.Overtake();
  // Numbered before the wait: the previous worker may end the address procedure while we wait.
  const std::uint64_t number = ++ExchangesAsked;
  if (Datas.AddressSetFinished)
    job.AddressSettingEnd = LastAddressSettingEnd = number;
  WaitForWorker();
  if (!EventRWAllowed.WaitFor(std::chrono::milliseconds(Datas.AnswerTimeout)))
    return false;
  EventRWAllowed.Reset();
  if (job.StopAll.empty() && job.BusRound.empty()) {
    job.Queue = Datas.CommandQueue;
    job.Count = Datas.QueueCount;
    Datas.QueueCount = 0; // the frames now belong to the worker
  }
  job.HandedOver = std::chrono::steady_clock::now();
  RoundUnderWay = !job.BusRound.empty();
  CurrentWorker.Start(job);
  return true;
}

bool TExchange::WaitForWorker(std::chrono::steady_clock::time_point deadline)
{
  return TSynchronizer::Instance().WaitUntil(deadline, [this] { return CurrentWorker.Finished(); });
}

bool TExchange::WorkerRunning() const
{
  return !CurrentWorker.Finished();
}

void TExchange::AddressSettingExchangeEnded(std::uint64_t exchange)
{
  if (exchange == LastAddressSettingEnd) // later silence is a missing answer again
    Datas.AddressSetFinished = false;
}

void TExchange::LogProgress(const std::string& text)
{
  View.AppendLog(text, TLogColour::Green, false);
  View.ScrollLogToEnd();
}

void TExchange::LogNoAnswer()
{
  View.AppendLog(NoAnswerText, TLogColour::Red, false);
  View.ScrollLogToEnd();
}

void TExchange::LogStale(const std::vector<std::uint8_t>& bytes)
{
  TOzmCommands::ReportStale(Datas, View, bytes);
}

void TExchange::LogSilence(std::uint8_t address)
{
  View.AppendLog("No answer from address $" + TOzmCommands::HexByte(address) + " at " +
                     ShortLineSettings(Port.LineSettings()) +
                     ": the controller must have this address and these line settings.",
                 TLogColour::Red, false);
  View.ScrollLogToEnd();
}

void TExchange::LogAddressNotice()
{
  if (Datas.AddressSetStarted)
    View.AppendLog(PressButtonText, TLogColour::Blue, false);
  if (Datas.AddressSetFinished)
    View.AppendLog(AddressDoneText, TLogColour::Blue, false);
}

void TExchange::StatusLost()
{
  View.AppendLog("Stop", TLogColour::Red, false);
  View.ScrollLogToEnd();
  Datas.StatusPolling = false;
  View.StatusUnknown();
  // A line that hung up is first seen as silence: a device that will not open again is a port failure.
  StopTimersAndReopen([this] { ++Datas.Counters.PortFailures; });
}

void TExchange::MotionSent(bool run, bool answered, long long msSinceEpoch)
{
  View.MotionSent(run, answered, msSinceEpoch);
}

void TExchange::PortFailure()
{
  ++Datas.Counters.PortFailures;
  View.AppendLog(PortErrorText, TLogColour::Red, true);
  if (const std::string reason = Port.FailureReason(); !reason.empty())
    View.AppendLog(reason, TLogColour::Red, false);
  View.ScrollLogToEnd();
  Datas.StatusPolling = false;
  View.StatusUnknown();
  StopTimersAndReopen({}); // already counted
  EventRWAllowed.Set();
}

void TExchange::BusStatusMissing(std::uint8_t address)
{
  if (Bus)
    Bus->StatusMissing(address);
}

void TExchange::ExchangeEnded()
{
  if (Bus)
    Bus->ExchangeEnded();
}

void TExchange::StopSent(std::uint8_t address, bool answered)
{
  const std::string text = "Stop $" + TOzmCommands::HexByte(address) + (answered ? ": answered" : ": no answer");
  View.AppendLog(text, answered ? TLogColour::Green : TLogColour::Red, false);
  View.ScrollLogToEnd();
  if (answered)
    View.StopAnswered(address);
}

void TExchange::StopTimersAndReopen(const std::function<void()>& reopenFailed)
{
  View.DisablePollTimer();
  View.DisableStopMotorTimer();
  PortButtons.BtnClosePortClick();
  PortButtons.BtnOpenPortClick(reopenFailed);
}

#include "Exchange.h"

#include "CommonDatas.h"
#include "ConsoleView.h"
#include "PortButtons.h"
#include "Synchronizer.h"

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
  WaitForWorker();
  if (!EventRWAllowed.WaitFor(std::chrono::milliseconds(Datas.AnswerTimeout)))
    return false;
  EventRWAllowed.Reset();
  const TExchangeJob job{Datas.CommandQueue, Datas.QueueCount, Datas.StatusRequest, Datas.AddressSetFinished};
  Datas.QueueCount = 0; // the frames now belong to the worker
  CurrentWorker = std::make_unique<TRWThread>(*this, job);
  return true;
}

void TExchange::WaitForWorker()
{
  if (!CurrentWorker)
    return;
  TSynchronizer::Instance().WaitUntil(TSynchronizer::TClock::time_point::max(),
                                      [this] { return CurrentWorker->Finished(); });
  CurrentWorker.reset();
}

bool TExchange::WorkerRunning() const
{
  return CurrentWorker && !CurrentWorker->Finished();
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
  StopTimersAndReopen();
}

void TExchange::PortFailure()
{
  View.AppendLog(PortErrorText, TLogColour::Red, true);
  View.ScrollLogToEnd();
  Datas.StatusPolling = false;
  StopTimersAndReopen();
  EventRWAllowed.Set();
}

void TExchange::StopTimersAndReopen()
{
  View.DisablePollTimer();
  View.DisableStopMotorTimer();
  PortButtons.BtnClosePortClick();
  PortButtons.BtnOpenPortClick();
}

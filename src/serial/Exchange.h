#pragma once

#include "serial/Event.h"
#include "serial/RWThread.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TBusListener;
class TComPort;
class TConsoleView;
class TCommonDatas;
class TPortButtons;

// Admits one exchange with the controller at a time and carries the steps its worker runs on the
// window's thread: the log lines and the recovery from a silent or failed line.
class TExchange {
public:
  static constexpr const char* NoAnswerText = "Command transferred. There is not answer from the controller!";
  static constexpr const char* PressButtonText = "To save new address press the button on the controller.";
  static constexpr const char* AddressDoneText = "New address setting is completed!";
  static constexpr const char* PortErrorText = "Port connection error";

  TExchange(TCommonDatas& datas, TComPort& port, TPortButtons& portButtons, TConsoleView& view);
  TExchange(const TExchange&) = delete;
  TExchange& operator=(const TExchange&) = delete;
  ~TExchange();

  // Waits for the previous worker, then hands the queued frames to a new one. False when the
  // exchange is not allowed within the answer timeout; the queue then stays filled.
  bool StartExchange();
  // The bus round: a status request to each of `addresses` in turn for the bus view; the queue stays.
  bool StartBusRound(std::vector<std::uint8_t> addresses);
  // A Stop to each address in turn, then one more to each that did not answer; the queue stays.
  bool StartStopAll(std::vector<std::uint8_t> addresses);
  // Waits until the current worker has ended, running its window steps meanwhile; false when the
  // deadline came first.
  bool WaitForWorker(std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());
  bool WorkerRunning() const;
  // A Stop is coming: the exchange under way ends after the frame on the wire.
  void Overtake() { CurrentWorker.Overtake(); }

  // Window's thread steps of the worker.
  void LogProgress(const std::string& text);
  void LogNoAnswer();
  void LogStale(const std::vector<std::uint8_t>& bytes);
  // After a missing answer: silence has many causes, and the line settings and the address in force
  // are the ones the operator can check (a controller at another rate hears only garbage).
  void LogSilence(std::uint8_t address);
  void LogAddressNotice();
  void StatusLost();
  void MotionSent(bool run, bool answered, long long msSinceEpoch);
  void PortFailure();
  void BusStatusMissing(std::uint8_t address);
  void ExchangeEnded();
  void StopSent(std::uint8_t address, bool answered);
  // The address procedure is over once its last exchange has ended, unless a later exchange that
  // also ends it was asked for meanwhile: that one's silence must still read as the procedure's.
  void AddressSettingExchangeEnded(std::uint64_t exchange);

  // The bus view, told of the bus round's silences and of Stop all's answers; none while it is not there.
  void SetBusListener(TBusListener* listener) { Bus = listener; }

  TEvent EventRWAllowed{true};
  TEvent EventPortString{false};
  TCommonDatas& Datas;
  TComPort& Port;

private:
  bool Start(TExchangeJob job);
  void StopTimersAndReopen(const std::function<void()>& reopenFailed);

  TPortButtons& PortButtons;
  TBusListener* Bus = nullptr;
  TConsoleView& View;
  TRWThread CurrentWorker{*this};
  bool RoundUnderWay = false; // window's thread: the worker's job is a bus round
  // Window's thread: numbers the exchanges asked for, and the last one that ends the address procedure.
  std::uint64_t ExchangesAsked = 0;
  std::uint64_t LastAddressSettingEnd = 0;
};

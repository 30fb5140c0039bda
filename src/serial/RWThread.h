#pragma once

#include "CommonDatas.h"

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <thread>

class TExchange;

// What one exchange sends, copied when it starts: later actions refill the record's queue freely.
struct TExchangeJob {
  TCommandQueue Queue{};
  std::uint8_t Count = 0;
  TStatusRequest StatusRequest{};
  // Sends the end of the address procedure, which is over once this exchange has ended.
  bool EndsAddressSetting = false;
};

// The worker of one exchange: sends the queued frames one by one, waits for each answer, ends with
// the status request while polling, and reports every step on the window's thread.
class TRWThread {
public:
  enum class TAnswer { Answered, AddressSetting, NoAnswer };

  TRWThread(TExchange& owner, const TExchangeJob& job);
  TRWThread(const TRWThread&) = delete;
  TRWThread& operator=(const TRWThread&) = delete;
  ~TRWThread();

  bool Finished() const { return Done; }

private:
  void Execute();
  // The pause, the progress line, the write. False when the port has failed: nothing was written.
  bool SendFrame(std::span<const std::uint8_t> bytes, const std::string& progress);
  TAnswer WaitAnswer();
  void LogProgress(const std::string& text);
  void Finish();

  TExchange& Owner;
  const TExchangeJob Job;
  std::atomic<bool> Done{false};
  std::thread Thread;
};

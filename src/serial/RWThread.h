#pragma once

#include "protocol/CommonDatas.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

class TExchange;

// What one exchange sends, copied when it starts: later actions refill the record's queue freely.
// The status request is not in it: the one in force is read when it is sent.
struct TExchangeJob {
  TCommandQueue Queue{};
  std::uint8_t Count = 0;
  std::chrono::steady_clock::time_point HandedOver{};
  // Set for the exchange that ends the address procedure: its number, so that only it ends it.
  std::optional<std::uint64_t> AddressSettingEnd;
  // The bus round: a status request to each of these in turn, their answers for the bus view, their
  // silence no failure of the line. Any other exchange overtakes it.
  std::vector<std::uint8_t> BusRound;
  // Stop all: a Stop to each of these in turn, whatever the one before answered, then one more to
  // each that did not answer; nothing overtakes it. The queue is not sent.
  std::vector<std::uint8_t> StopAll;
  // The panel's controller, whose Stop the chart marks.
  std::uint8_t PanelAddress = 0;
};

// The exchange worker: one thread for the life of the exchange, waiting for jobs. For each it sends
// the queued frames one by one, waits for each answer, ends with the status request while polling,
// and reports every step on the window's thread. A thread is not created for every exchange, so
// the first frame leaves as soon as its pause is over.
class TRWThread {
public:
  enum class TAnswer { Answered, AddressSetting, NoAnswer };

  explicit TRWThread(TExchange& owner);
  TRWThread(const TRWThread&) = delete;
  TRWThread& operator=(const TRWThread&) = delete;
  // The job must have finished: an idle worker never waits for the window, so the join cannot hang.
  ~TRWThread();

  // Window's thread, only while Finished().
  void Start(const TExchangeJob& job);
  // Window's thread: a Stop is coming. The frame on the wire still gets its answer or its timeout
  // (the line is half duplex); the frames not yet sent are dropped, so that the Stop goes next.
  void Overtake();
  // Window's thread: true once the job's last window step has run.
  bool Finished() const { return Done; }

private:
  void Run();
  void Execute(const TExchangeJob& job);
  // The pause, the progress line, the write. False when the port has failed: nothing was written.
  // The answer gate awaits the kind of answer the frame asks for from right before the write.
  bool SendFrame(std::span<const std::uint8_t> bytes, const std::string& progress, TAnswerGate::TBlock awaited);
  bool SendStatusRequest();
  bool SendBusStatusRequest(std::uint8_t address);
  void StopAll(const TExchangeJob& job);
  // Stops each of `addresses` in turn: the ones that did not answer. Empty when the port failed.
  std::optional<std::vector<std::uint8_t>> StopEach(const std::vector<std::uint8_t>& addresses, std::uint8_t panel);
  // Sleeps out the pause before a frame; false when a Stop overtakes meanwhile (if it may).
  bool Pause(bool overtakable = true);
  // Says which of the queue's frames a Stop overtook (from `next` on) and releases the exchange.
  void LogOvertaken(const TExchangeJob& job, std::uint8_t next);
  // The answer timeout runs from when the frame has left and allows for the answer on the wire:
  // at slow rates the two frames alone take longer than the controller's own time to answer.
  TAnswer WaitAnswer(std::size_t frameBytes);
  // Hands the line over without waiting: it runs before any later answer, which waits behind it.
  void LogProgress(std::string text);
  // A Run or a Stop is marked on the chart once its answer came or its time ran out.
  void ReportMotion(std::uint8_t code, TAnswer answer);
  void Finish(const TExchangeJob& job);

  TExchange& Owner;
  // Worker's own: when the last frame left, on the wall clock, for the chart's marks.
  long long SentAtMs = 0;
  // Worker's own: the line has been silent for us since then, and the next frame's pause counts from it.
  std::chrono::steady_clock::time_point SilentSince{};
  // Guarded by the synchronizer's mutex.
  std::optional<TExchangeJob> Pending;
  bool Stopping = false;
  // Set under the synchronizer's mutex, so that a pause wakes at once; read by the worker anywhere.
  std::atomic<bool> Overtaken{false};
  // Window's thread only.
  bool Done = true;
  std::thread Thread;
};

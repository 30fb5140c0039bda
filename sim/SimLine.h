#pragma once

#include "SimController.h"
#include "SimFaults.h"
#include "SimFrameParser.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// One frame received or one answer sent, as it went over the line.
struct TSimTraffic {
  enum class TDirection { Received, Sent };
  TDirection Direction;
  std::chrono::steady_clock::time_point Time;
  std::vector<std::uint8_t> Bytes;
};

// A serial line with its controllers, on a pseudo-terminal whose slave side the console opens.
// A thread of its own waits on the line, hands the frames to the controllers and writes their answers,
// with the faults applied. Every public call may come from any thread.
class TSimLine {
public:
  using TTrafficCallback = std::function<void(const TSimTraffic&)>;
  using TEndCallback = std::function<void()>;

  explicit TSimLine(const std::vector<std::uint8_t>& addresses);
  ~TSimLine();
  TSimLine(const TSimLine&) = delete;
  TSimLine& operator=(const TSimLine&) = delete;

  // Creates the pseudo-terminal and starts the line's thread; throws std::system_error on failure.
  void Open();
  // Runs the line on the master side of a pseudo-terminal made elsewhere (a test bed's device
  // node), through a descriptor of its own.
  void Adopt(int masterFd);
  // Stops the thread and closes the pseudo-terminal. Never call it from a callback.
  void Close();
  // The slave side, /dev/pts/N, for the console to open.
  std::string DevicePath() const;
  // True once the line hung up by a fault or lost its pseudo-terminal.
  bool HungUp() const;

  void SetFaults(const TSimFaults& faults);
  TSimFaults Faults() const;
  // Presses the button of the controller at that address, or without one of the first one waiting for
  // it. False when no controller took it.
  bool PressButton(std::optional<std::uint8_t> address = std::nullopt);
  // Copies of the controllers, their motion brought up to now.
  std::vector<TSimController> Controllers() const;

  // The latest traffic, oldest first; the record keeps a bounded number of entries.
  std::vector<TSimTraffic> Traffic() const;
  std::size_t FramesReceived() const;
  // Waits until `count` frames were received in all; false when the time ran out first.
  bool WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const;

  // Both run on the line's thread, outside its lock.
  void SetTrafficCallback(TTrafficCallback callback);
  void SetEndCallback(TEndCallback callback);

private:
  using TTime = std::chrono::steady_clock::time_point;
  struct TPendingAnswer {
    TTime Due;
    std::vector<std::uint8_t> Bytes;
  };

  void Run(std::stop_token stop);
  int PollTimeoutMs() const;
  void ReadFrames();
  void HandleFrame(const std::vector<std::uint8_t>& frame, TTime now);
  void Dispatch(const std::vector<std::uint8_t>& frame, TTime now);
  bool ShouldAnswer(std::uint8_t command) const;
  void QueueAnswer(const TFrame& answer, TTime now, bool corrupt);
  void SendDueAnswers();
  bool WriteAll(std::vector<std::uint8_t>& bytes);
  void Remember(const TSimTraffic& traffic);
  void Notify(const TSimTraffic& traffic);
  void EndLine();
  void CloseDescriptors();

  mutable std::mutex Mutex;
  mutable std::condition_variable FrameArrived;
  std::vector<TSimController> Devices;
  TSimFaults ActiveFaults;
  unsigned FramesSinceFaults = 0;
  unsigned AnswersSinceFaults = 0;
  std::deque<TSimTraffic> History;
  std::size_t FramesTotal = 0;
  bool LineHungUp = false;
  TTrafficCallback OnTraffic;
  TEndCallback OnEnd;

  // Set by Open() before the thread starts, then owned by the thread until Close() joins it.
  std::string Device;
  void Start();

  int MasterFd = -1;
  int SlaveFd = -1;
  int WakeFd = -1;
  TSimFrameParser Parser;
  std::deque<TPendingAnswer> Pending;
  std::jthread Thread;
};

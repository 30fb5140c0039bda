#pragma once

#include "SimController.h"
#include "SimFaults.h"
#include "SimFrameParser.h"
#include "SimLineSettings.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

// One frame received or one answer sent, as it went over the line, or bytes the controllers could not
// make out because the console's line settings differ from theirs.
struct TSimTraffic {
  enum class TDirection { Received, Sent, Garbled };
  TDirection Direction;
  // Received: when the frame's last byte was through the wire; Sent: when the last byte left.
  std::chrono::steady_clock::time_point Time;
  std::vector<std::uint8_t> Bytes;
  std::string Note{}; // why bytes were garbled
};

// A serial line with its controllers, on a pseudo-terminal whose slave side the console opens.
// A thread of its own waits on the line, hands the frames to the controllers and writes their answers,
// with the faults applied. Every public call may come from any thread.
// Bytes take their wire time both ways, as over a UART: a frame counts as received once its last byte
// would be through at the console's rate, and an answer leaves byte by byte at the controllers' own rate.
// The controllers hear nothing but garbage while the console's settings on the pty differ from theirs.
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

  // The controllers' own line (default 9600 8N1). Open() and Adopt() also start the pty at it, so a
  // console that sets nothing is heard.
  void SetLineSettings(const TSimLineSettings& settings);
  TSimLineSettings LineSettings() const;

  void SetFaults(const TSimFaults& faults);
  TSimFaults Faults() const;
  // What every controller now at that address does wrong on top of the line's faults; it stays with
  // them if their address changes. False when no controller is there.
  bool SetControllerFaults(std::uint8_t address, const TSimControllerFaults& faults);
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
  // A frame, or garbage, still on its way in: it is heard once its last byte is through.
  struct THeard {
    TTime Due;
    std::vector<std::uint8_t> Bytes;
    std::string Garbled; // why the controllers could not make these bytes out; empty for a frame
  };
  // Bytes to send once due, after whatever is on the wire before them.
  struct TTransmission {
    TTime Due;
    std::vector<std::uint8_t> Bytes;
    bool StrayAfter = false; // a stray byte follows this answer
  };
  // The transmission under way: its bytes leave one by one, each once its wire time is over.
  struct TOnWire {
    TTransmission What;
    TTime Start;
    std::chrono::nanoseconds ByteTime;
    std::size_t Next = 0;
    std::vector<std::uint8_t> Written{};
    TTime NextByteDue() const { return Start + ByteTime * static_cast<std::int64_t>(Next + 1); }
  };
  enum class TWrite { Written, Lost, LineGone };

  void Run(std::stop_token stop);
  std::optional<TTime> NextEvent() const;
  void ReadBytes();
  void HandleHeard(TTime now);
  void HandleFrame(const std::vector<std::uint8_t>& frame, TTime now);
  void Dispatch(const std::vector<std::uint8_t>& frame, TTime now);
  bool ShouldAnswer(const TSimController& device, std::uint8_t command) const;
  void QueueAnswer(const TFrame& answer, TTime now, TSimController& device, std::uint8_t command);
  void Schedule(TTransmission transmission);
  void SendDue(TTime now);
  void FinishTransmission(TTime lastByteDue);
  TWrite WriteByte(std::uint8_t byte);
  void Record(const TSimTraffic& traffic);
  void Remember(const TSimTraffic& traffic);
  void Notify(const TSimTraffic& traffic);
  void EndLine();
  void CloseDescriptors();

  mutable std::mutex Mutex;
  mutable std::condition_variable FrameArrived;
  std::vector<TSimController> Devices;
  TSimLineSettings OwnLine;
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
  std::deque<THeard> Heard;
  TTime InWireFree{}; // when the console's latest byte is through the wire
  std::deque<TTransmission> Pending; // by due time
  std::optional<TOnWire> Sending;
  TTime OutWireFree{}; // when the controllers' latest byte left
  std::mt19937 Random{std::random_device{}()};
  std::jthread Thread;
};

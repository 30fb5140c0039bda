#pragma once

#include "protocol/AnswerGate.h"
#include "protocol/LinkCounters.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

// A five-byte command frame or controller answer, and the four-byte status request.
using TFrame = std::array<std::uint8_t, 5>;
using TStatusRequest = std::array<std::uint8_t, 4>;

inline constexpr std::size_t QueueSlots = 7;
using TCommandQueue = std::array<TFrame, QueueSlots>;

// The one record of what several parts of the console share: the parameters in force, the command
// queue, the decoded drive status and the flags that steer polling and address setting.
// Fields the exchange worker reads while the window's thread may write them are atomics; the queue
// and the status request are handed to the worker as a copy when an exchange starts.
class TCommonDatas {
public:
  TCommonDatas();
  TCommonDatas(const TCommonDatas&) = delete;
  TCommonDatas& operator=(const TCommonDatas&) = delete;

  // Empties the queue: the marker of every slot becomes 0; only the count decides what is sent.
  void ClearQueue();
  void SetMotorRevCounter(std::int32_t value);
  void SetGearRatio(double value);

  // Communication
  static constexpr std::int32_t AnswerTimeout = 300; // ms, for an answer and for EventRWAllowed
  // ms past a missing or damaged answer before the line carries the next frame: a controller's late answer (up to
  // twice the answer time) then comes as stale in the pause, never as the next frame's answer.
  static constexpr std::int32_t LateAnswerGrace = 300;
  // After a lost line, how long every way out goes on sending its Stops, the line opened again every ReopenPause.
  static constexpr std::chrono::seconds LostLineStops{5};
  static constexpr std::chrono::milliseconds ReopenPause{100};
  std::uint8_t MotorAddress = 0;
  TCommandQueue CommandQueue{};
  std::atomic<std::uint8_t> QueueCount{0};
  // Rebuilt by the poll tick while a worker may be about to send it: the worker reads it whole.
  std::atomic<TStatusRequest> StatusRequest{TStatusRequest{0xE6, 0x00, 0x50, 0x00}};
  std::atomic<bool> StatusPolling{false};
  // Which block answers which frame: only the answer to the status request is decoded.
  TAnswerGate Answers;
  TLinkCounters Counters;

  // Motor parameters in force
  std::uint8_t EncoderPulses = 2;
  std::uint8_t MaxSpeedRps = 67;
  double GearRatio = 1.0;

  // Operation parameters in force
  std::uint8_t WorkSpeedRps = 16;
  std::uint8_t Acceleration = 24;
  std::uint8_t Deceleration = 24;
  std::uint8_t WorkDirection = 0;
  std::uint8_t MotionType = 0;
  std::uint32_t MotionTimeMs = 10000;

  // Drive status, from the controller's answers
  bool FeedbackOn = false;
  bool CounterOverflow = false;
  std::uint8_t ActualDirection = 0;
  std::int8_t DirectionSign = +1;
  std::int32_t MotorRevCounter = 0;
  double CurrentSpeedRpm = 0.0;
  bool MotorStopped = true;

  // Address setting
  std::uint8_t NewAddress = 0;
  std::atomic<bool> AddressSetStarted{false};
  std::atomic<bool> AddressSetFinished{false};
};

#pragma once

#include "motor/StatusDisplay.h"
#include "protocol/CommonDatas.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// One controller of the bus as the bus view shows it: its address, the operator's label for it,
// its live state decoded exactly as the operation panel decodes the panel's own, and its own link
// counters (answers, missing, bad checksums).
class TBusController {
public:
  using TClock = std::chrono::system_clock;

  explicit TBusController(std::uint8_t address, std::string label = {});

  std::uint8_t Address() const { return Addr; }
  const std::string& Label() const { return Name; }
  // Tabs and line ends would break the list's file: they become blanks.
  void SetLabel(std::string label);

  // A five-byte block answered this controller's status request; gearRatio is the one in force.
  void Answered(const TFrame& answer, double gearRatio, TClock::time_point at);
  // The answer was short, long or damaged: counted, the state shown stays.
  void Damaged();
  // No answer within the time: shown unknown from now on, until the next answer.
  void Missing();

  TStatusTexts Texts() const { return StatusTexts(*Record, Watch); }
  bool Known() const { return !Watch.Unknown(); }
  std::optional<TClock::time_point> LastAnswer() const { return LastAt; }
  double SpeedRpm() const { return Record->CurrentSpeedRpm; }
  const TCommonDatas& Datas() const { return *Record; }
  std::uint64_t Answers() const { return Record->Counters.AnswersReceived; }
  std::uint64_t AnswersMissing() const { return Record->Counters.AnswersMissing; }
  std::uint64_t ChecksumFailures() const { return Record->Counters.ChecksumFailures; }

private:
  std::uint8_t Addr;
  std::string Name;
  // The same record the panel decodes into, one per controller; behind a pointer as it holds atomics.
  std::unique_ptr<TCommonDatas> Record = std::make_unique<TCommonDatas>();
  TStatusWatch Watch;
  std::optional<TClock::time_point> LastAt;
};

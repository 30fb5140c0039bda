#pragma once

#include "files/JsonText.h"
#include "sequence/SequenceResult.h"

#include <chrono>
#include <cstdint>
#include <string>

struct TCommonDatas;

// The payloads a bench publishes, one JSON object a line, as dist/mqtt-*.schema.json describe them.
class TTelemetryJson {
public:
  using TTime = std::chrono::system_clock::time_point;

  // A status answer: speed, direction, counters, feedback, when it came; live false for a request that went
  // unanswered (the values are then the last known).
  static std::string State(std::uint8_t address, const TCommonDatas& datas, bool live, TTime at);
  // A test sequence's status request, as its run measured it.
  static std::string State(const TSample& sample, TTime at);
  // The step under way, how long it may last from now, and the checks decided so far in the run.
  static std::string Sequence(const TRunResult& run, const std::string& step, const std::string& text,
                              double secondsLeft, const TJsonText::TValue& checks);
  // A check decided, for the list that Sequence carries.
  static TJsonText::TValue Check(std::uint8_t address, const std::string& step, const TCheckResult& check);
  // One unit's verdict at the end of a run.
  static std::string Verdict(const TRunResult& run, const TControllerResult& controller);
};

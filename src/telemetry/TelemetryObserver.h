#pragma once

#include "files/JsonText.h"
#include "sequence/SequenceObserver.h"

class TMqttPublisher;

// A test sequence's run told to the plant as it goes: each status request as its controller's state, the step
// under way with its time left and the checks decided so far, each unit's verdict at the end. On the runner's
// thread: it only queues.
class TTelemetryObserver : public TSequenceObserver {
public:
  explicit TTelemetryObserver(TMqttPublisher& publisher);

  void RunBegun(const TRunResult& run) override;
  void StepBegun(const std::string& path, const std::string& text, TClock::time_point planned, double seconds) override;
  void Sample(const TSample& sample) override;
  void CheckDecided(std::uint8_t address, const std::string& path, const TCheckResult& check) override;
  void RunEnded(const TRunResult& run) override;

private:
  void TellStep();

  TMqttPublisher& Publisher;
  TRunResult Header;
  std::string Step, Text;
  TClock::time_point Ends;
  TJsonText::TValue Checks = TJsonText::TValue::array();
};

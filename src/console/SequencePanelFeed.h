#pragma once

#include "sequence/SequenceObserver.h"

class TFormSequence;

// Hands a copy of each event of the run to the sequence panel, queued on the window's thread: the
// runner never waits for the window. A call still queued when the panel goes is dropped with it.
class TSequencePanelFeed : public TSequenceObserver {
public:
  explicit TSequencePanelFeed(TFormSequence& panel) : Panel(panel) {}

  void RunBegun(const TRunResult& run) override;
  void StepBegun(const std::string& path, const std::string& text, TClock::time_point planned, double seconds) override;
  void Sample(const TSample& sample) override;
  void CheckDecided(std::uint8_t address, const std::string& path, const TCheckResult& check) override;
  void StepEnded(std::uint8_t address, const TStepResult& step) override;
  void RunEnded(const TRunResult& run) override;

private:
  template <class TShow>
  void Post(TShow show);

  TFormSequence& Panel;
};

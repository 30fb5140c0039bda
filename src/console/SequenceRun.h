#pragma once

#include "records/StoreWriter.h"
#include "sequence/Sequence.h"
#include "sequence/SequenceResult.h"
#include "sequence/SequenceRunner.h"
#include "telemetry/TelemetryObserver.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

class TSequenceLineLink;
class TSequenceObserver;
class TSequenceRecord;

// One run of a test sequence on a thread of its own, with the line and the records it owns. The
// runner's thread never waits for the window, so the window may wait for it.
class TSequenceRun {
public:
  // Each unit's record, by the address of the controller that drives it.
  using TRecords = std::map<std::uint8_t, std::unique_ptr<TSequenceRecord>>;

  // `ended` runs on the runner's thread once the run is over, every controller stopped or tried.
  // store: the records store the run goes into once it ends.
  // telemetry: the plant's publisher, which outlives the run; none when off.
  TSequenceRun(const TSequence& sequence, std::unique_ptr<TSequenceLineLink> link, TRecords records,
               const std::string& store, TSequenceObserver& watcher, TMqttPublisher* telemetry,
               const TUnitSerials& units, std::function<void()> ended);
  // Aborts a run still going and waits for it: the objects it tells go with us.
  ~TSequenceRun();

  // From any thread: waits are cut short, only Stops go out from now on.
  void Abort(const std::string& reason);
  void Join();
  // Once joined.
  const TRunResult& Result() const { return Outcome; }
  // The record of a controller of the sequence.
  const TSequenceRecord& Record(std::uint8_t address) const { return *Records.at(address); }
  // Once joined: why the run could not go into the records store; empty when it went.
  const std::string& StoreFailure() const { return Stored.Failure(); }

private:
  const TSequence Sequence; // a copy: the operator may open another file once this one has ended
  std::unique_ptr<TSequenceLineLink> Link;
  TRecords Records;
  TStoreWriter Stored;
  std::optional<TTelemetryObserver> Published;
  TSequenceRunner Runner;
  TRunResult Outcome; // the runner's thread's until joined
  std::thread Thread; // last: started once everything it uses is there
};

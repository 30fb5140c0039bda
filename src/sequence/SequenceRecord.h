#pragma once

#include "files/SyncedFile.h"
#include "sequence/SequenceObserver.h"

#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

// One unit's record of a run in a folder: the unit is the one that the controller at an address
// drives, and the record keeps that controller's steps, samples, checks and verdict, with the run's
// id that its other units' records share. It is written as the run goes so that a crash or a power
// loss keeps every finished step: <stem>.jsonl (a line when the run begins, one a step, one at the
// end, each put on disk at once) and <stem>.csv (a row a status request), then at the end <stem>.json
// (the whole record) and <stem>.html (the report). The stem, "<UTC start>-<unit serial>-<sequence
// name>", is never one that a file in the folder has.
// One record for one run. Once the run has begun nothing is thrown: the runner must still stop the
// motors. Failure() says what could not be written.
class TSequenceRecord : public TSequenceObserver {
public:
  // Makes the folder with its parents. Throws std::runtime_error "Cannot write records to
  // <folder>: <reason>" when it cannot be made or written in, so that the run is refused before
  // anything is sent.
  TSequenceRecord(const std::string& folder, std::uint8_t address);
  // $XDG_DATA_HOME/ozmet/records, else ~/.local/share/ozmet/records.
  static std::string DefaultFolder();

  void RunBegun(const TRunResult& run) override;
  void Sample(const TSample& sample) override;
  void StepEnded(std::uint8_t address, const TStepResult& step) override;
  void RunEnded(const TRunResult& run) override;

  // Empty until the run has begun, and when no file could be made.
  std::string LinesPath() const { return Path(".jsonl"); }
  std::string SamplesPath() const { return Path(".csv"); }
  std::string RecordPath() const { return Path(".json"); }
  std::string ReportPath() const { return Path(".html"); }
  // The first write that failed, "Cannot write <path>: <reason>"; empty while all went well.
  std::string Failure() const { return FirstFailure; }

private:
  // The record's controller in the run: its address and serial as the run begins, its results at
  // the end.
  TControllerResult Controller(const TRunResult& run) const;
  std::string Path(const char* extension) const;
  void Claim(const std::string& name);
  bool Taken() const;
  void WriteLine(const std::string& json);
  void Remember(std::error_code error, const char* extension);
  void Remember(const std::optional<std::string>& failure);

  std::string Folder;
  std::uint8_t Address;
  std::string Stem; // with the folder
  TSyncedFile Lines, Rows;
  std::vector<TSample> Samples; // for the report's charts
  std::string FirstFailure;
};

#pragma once

#include "records/RecordsStore.h"
#include "sequence/SequenceObserver.h"

#include <cstdint>
#include <functional>
#include <string>

// Puts each run that ends into the records store, every unit in one transaction. The runner calls
// RunEnded once every controller is stopped or tried, so the Stops never wait for the store; a store
// that cannot be written costs the run nothing (its files are kept) and is said by Failure(). A plant's
// server out of reach leaves the run in the local store, sent with the next run or by records sync.
class TStoreWriter : public TSequenceObserver {
public:
  // recordPath: the .json of the unit at an address, known once the records have begun.
  TStoreWriter(std::string storePath, std::function<std::string(std::uint8_t)> recordPath);

  void RunEnded(const TRunResult& run) override;

  // "Cannot store the run in <store>: <reason>", or where it waits for the server; empty when all went well.
  const std::string& Failure() const { return Problem; }
  const std::string& StorePath() const { return Store; }
  // The login name of the program's user, as a run's operator.
  static std::string LoginName();

private:
  void ToServer(const std::vector<TUnitRecord>& units);

  std::string Store;
  std::function<std::string(std::uint8_t)> RecordPath;
  std::string Problem;
};

#pragma once

#include "app/CtlCommand.h"
#include "sequence/Sequence.h"
#include "sequence/SequenceResult.h"

#include <map>
#include <memory>
#include <string>

class TCtlOptions;
class TCtlOutput;
class TCtlSession;
class TSequenceRecord;

// test: a test sequence file run on the line, each controller's verdict told and each unit's record
// of the run kept. The file, the addresses, the units' serials and the record's folder are all
// checked before anything is sent; the runner stops every controller it may have started on every
// way out, and the session's own way out stops whichever of them did not answer its Stop.
class TCtlSequenceCommand : public TCtlCommand {
public:
  TCtlSequenceCommand(const TCtlOptions& options, TCtlOutput& output, TCtlSession& session);
  ~TCtlSequenceCommand() override;

  void Prepare() override;
  void Execute() override;

private:
  // From --unit; throws a usage TCtlError for an item that names no controller of the test, or one
  // already named.
  TUnitSerials UnitSerials() const;
  // Throws for an interrupted run, one that did not pass, and a record left incomplete.
  void Conclude(const TRunResult& run) const;

  const TCtlOptions& Options;
  TCtlOutput& Output;
  TCtlSession& Session;
  TSequence Sequence;
  TUnitSerials Units;
  std::map<std::uint8_t, std::unique_ptr<TSequenceRecord>> Records; // each controller's unit's, by its address
};

#pragma once

#include "CtlCommand.h"
#include "Sequence.h"
#include "SequenceResult.h"

#include <memory>
#include <string>

class TCtlOptions;
class TCtlOutput;
class TCtlSession;
class TSequenceRecord;

// test: a test sequence file run on the line, each controller's verdict told and the run recorded.
// The file, the addresses and the record's folder are all checked before anything is sent; the
// runner stops every controller it may have started on every way out, and the session's own way out
// stops whichever of them did not answer its Stop.
class TCtlSequenceCommand : public TCtlCommand {
public:
  TCtlSequenceCommand(const TCtlOptions& options, TCtlOutput& output, TCtlSession& session);
  ~TCtlSequenceCommand() override;

  void Prepare() override;
  void Execute() override;

private:
  // Throws for an interrupted run, one that did not pass, and a record left incomplete.
  void Conclude(const TRunResult& run) const;

  const TCtlOptions& Options;
  TCtlOutput& Output;
  TCtlSession& Session;
  TSequence Sequence;
  std::unique_ptr<TSequenceRecord> Record;
};

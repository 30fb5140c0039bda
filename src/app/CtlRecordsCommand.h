#pragma once

#include "app/CtlCommand.h"
#include "records/RecordsStore.h"

#include <string>

class TCtlOptions;
class TCtlOutput;

// records: what the store holds, asked without opening a line. Every option is checked against what
// the asked report takes before the store opens.
class TCtlRecordsCommand : public TCtlCommand {
public:
  TCtlRecordsCommand(const TCtlOptions& options, TCtlOutput& output) : Options(options), Output(output) {}

  void Prepare() override;
  void Execute() override;

  // --store, else the store of the program's user; test and records agree on it.
  static std::string StorePath(const TCtlOptions& options);

private:
  void List(TRecordsStore& store);
  void Show(TRecordsStore& store);
  void Yield(TRecordsStore& store);
  void Cpk(TRecordsStore& store);
  void Import(TRecordsStore& store);
  void Sync();
  void Export(TRecordsStore& store);
  TRunFilter Filter() const;

  const TCtlOptions& Options;
  TCtlOutput& Output;
};

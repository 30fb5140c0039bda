#pragma once

#include <string>
#include <vector>

class TRecordsStore;

// Records written before the store (or on another bench) taken into it: every <stem>.json under a
// folder, each unit once however often the folder is imported.
class TRecordImport {
public:
  struct TCount {
    std::size_t Files = 0, Added = 0, Known = 0;
    std::vector<std::string> Refused; // "<path>: <why>" for a file that is no record of a run
  };

  static TCount Folder(TRecordsStore& store, const std::string& folder);
};

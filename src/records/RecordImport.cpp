#include "records/RecordImport.h"

#include "files/WholeFile.h"
#include "records/RecordsStore.h"

#include <algorithm>
#include <filesystem>

namespace {

// A record of 32 controllers' many steps stays far below this; a larger file is no record.
constexpr std::size_t MaxRecordBytes = 64 * 1024 * 1024;

std::vector<std::filesystem::path> RecordFiles(const std::string& folder)
{
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
    if (entry.is_regular_file() && entry.path().extension() == ".json")
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

} // namespace

TRecordImport::TCount TRecordImport::Folder(TRecordsStore& store, const std::string& folder)
{
  TCount count;
  for (const std::filesystem::path& file : RecordFiles(folder)) {
    ++count.Files;
    const std::string path = std::filesystem::absolute(file).string();
    std::string text;
    if (const auto failure = ReadWholeFile(path, MaxRecordBytes, "a record", text)) {
      count.Refused.push_back(*failure);
      continue;
    }
    TUnitRecord unit{TJsonText::TValue::parse(text, nullptr, false), path};
    if (unit.Record.is_discarded() || !unit.Record.is_object() || !unit.Record.contains("run_id")) {
      count.Refused.push_back(path + ": not a record of a run");
      continue;
    }
    try {
      (store.Store({unit}, "", "") == 1 ? count.Added : count.Known) += 1;
    } catch (const std::runtime_error& error) {
      count.Refused.push_back(path + ": " + error.what());
    }
  }
  return count;
}

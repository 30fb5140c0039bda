#include "records/StoreWriter.h"

#include "records/RecordsStore.h"
#include "sequence/RecordJson.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

TStoreWriter::TStoreWriter(std::string storePath, std::function<std::string(std::uint8_t)> recordPath)
    : Store(std::move(storePath)), RecordPath(std::move(recordPath))
{
}

void TStoreWriter::RunEnded(const TRunResult& run)
{
  std::vector<TUnitRecord> units;
  for (const TControllerResult& controller : run.Controllers) {
    const std::string path = RecordPath(controller.Address);
    // Absolute: the store is read from anywhere.
    units.push_back(
        {TRecordJson::WholeValue(run, controller), path.empty() ? path : std::filesystem::absolute(path).string()});
  }
  try {
    TRecordsStore(Store).Store(units, OZMET_VERSION, LoginName());
  } catch (const std::exception& error) {
    Problem = "Cannot store the run in " + Store + ": " + error.what();
  }
}

std::string TStoreWriter::LoginName()
{
  if (const passwd* user = getpwuid(geteuid()))
    return user->pw_name;
  const char* name = std::getenv("LOGNAME");
  return name ? name : "";
}

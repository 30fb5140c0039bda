#include "records/StoreWriter.h"

#include "records/PostgresDatabase.h"
#include "records/RecordsError.h"
#include "records/RecordsStore.h"
#include "sequence/RecordJson.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

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
    if (TPostgresDatabase::IsUrl(Store))
      ToServer(units);
    else
      TRecordsStore(Store).Store(units, OZMET_VERSION, LoginName());
  } catch (const std::exception& error) {
    Problem = "Cannot store the run in " + Store + ": " + error.what();
  }
}

void TStoreWriter::ToServer(const std::vector<TUnitRecord>& units)
{
  std::unique_ptr<TRecordsStore> server;
  try {
    server = std::make_unique<TRecordsStore>(Store);
    server->Store(units, OZMET_VERSION, LoginName());
  } catch (const TRecordsError& error) {
    TRecordsStore local(TRecordsStore::LocalPath());
    local.Store(units, OZMET_VERSION, LoginName());
    local.KeepForLater(units, OZMET_VERSION, LoginName());
    Problem = std::string(error.what()) + "; the run is kept in " + local.Path() +
              " and sent with the next run or by ozmetctl records sync";
    return;
  }
  try {
    TRecordsStore local(TRecordsStore::LocalPath());
    local.SendWaitingTo(*server);
  } catch (const std::exception& error) {
    Problem = "The run is stored in " + Store + "; runs waiting for it are not sent yet: " + error.what();
  }
}

// getpwuid_r: the runner's thread asks while the window's may look up a device's owner.
std::string TStoreWriter::LoginName()
{
  passwd entry{};
  passwd* user = nullptr;
  char buffer[4096];
  if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &user) == 0 && user)
    return user->pw_name;
  const char* name = std::getenv("LOGNAME");
  return name ? name : "";
}

#include "BenchFolder.h"

#include "serial/PortSettingsFile.h"

#include <filesystem>
#include <stdexcept>

TBenchFolder::TBenchFolder()
{
  std::filesystem::create_directory(DataPath());
  if (!TPortSettingsFile(DataPath() + "/portp.dat").Save(1))
    throw std::runtime_error("cannot write " + DataPath() + "/portp.dat");
}

void TBenchFolder::LinkPort(const std::string& device) const
{
  std::filesystem::remove(PortLink());
  std::filesystem::create_symlink(device, PortLink());
}

#include "BenchFolder.h"

#include "PortSettingsFile.h"

#include <filesystem>
#include <stdexcept>
#include <stdlib.h>

TBenchFolder::TBenchFolder()
{
  std::string pattern = "/tmp/ozmet-bench-XXXXXX";
  if (!::mkdtemp(pattern.data()))
    throw std::runtime_error("mkdtemp failed");
  Dir = pattern;
  std::filesystem::create_directory(DataPath());
  if (!TPortSettingsFile(DataPath() + "/portp.dat").Save(1))
    throw std::runtime_error("cannot write " + DataPath() + "/portp.dat");
}

TBenchFolder::~TBenchFolder()
{
  std::error_code ignored;
  std::filesystem::remove_all(Dir, ignored);
}

void TBenchFolder::LinkPort(const std::string& device) const
{
  std::filesystem::create_symlink(device, PortLink());
}

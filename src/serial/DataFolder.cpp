#include "serial/DataFolder.h"

#include "serial/PortSettingsFile.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

TDataFolder TDataFolder::Find(const std::string& programDir)
{
  return Find(programDir, std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}

TDataFolder TDataFolder::Find(const std::string& programDir, const char* configHome, const char* home)
{
  std::error_code error;
  const fs::path beside = fs::path(programDir) / "Data";
  if (fs::is_directory(beside, error))
    return {beside.string(), {}};

  // The XDG rule: an empty or relative XDG_CONFIG_HOME counts as unset.
  fs::path config;
  if (configHome && fs::path(configHome).is_absolute())
    config = configHome;
  else if (home && fs::path(home).is_absolute())
    config = fs::path(home) / ".config";
  else
    return {beside.string(), "neither XDG_CONFIG_HOME nor HOME names a folder for the Data folder"};

  const fs::path data = config / "ozmet" / "Data";
  const bool made = fs::create_directories(data, error);
  if (error)
    return {data.string(), "cannot create " + data.string() + ": " + error.message()};
  // Port 1, as the build writes beside the program: a first start shows no missing-folder message.
  if (made && !TPortSettingsFile((data / "portp.dat").string()).Save(1))
    return {data.string(), "cannot write " + (data / "portp.dat").string()};
  return {data.string(), {}};
}

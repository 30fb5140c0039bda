#pragma once

#include <cstdlib>
#include <string>
#include <unistd.h>

// The operator's settings and daily logs of the programs under test go to a folder of the run's
// own, never to the home folder; the programs started by a test inherit it.
inline void KeepSettingsAside()
{
  char folder[] = "/tmp/ozmet-test-home-XXXXXX";
  if (!::mkdtemp(folder))
    return;
  ::setenv("XDG_CONFIG_HOME", (std::string(folder) + "/config").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (std::string(folder) + "/data").c_str(), 1);
}

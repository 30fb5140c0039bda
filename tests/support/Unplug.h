#pragma once

#include <filesystem>
#include <string>

// An adapter unplugged: the device node its link names goes with it. A pseudo-terminal's number is handed to the
// next one opened, maybe another test's, so a link left to it could lead a reopening program to that test's line.
inline void Unplug(const std::string& link)
{
  std::filesystem::remove(link);
  std::filesystem::create_symlink(link + ".unplugged", link);
}

#pragma once

#include "TempDir.h"

#include <string>

// A fresh folder under /tmp laid out as beside the program: Data/portp.dat choosing port 1, so
// Data/COM1 names the line. Removed with everything in it at the end.
class TBenchFolder {
public:
  TBenchFolder();

  const std::string& Path() const { return Folder.Path(); }
  std::string DataPath() const { return Path() + "/Data"; }
  // Where the line's link goes: the console opens it as port 1.
  std::string PortLink() const { return DataPath() + "/COM1"; }
  // Points port 1 at a device, or at a network line.
  void LinkPort(const std::string& device) const;

private:
  TTempDir Folder;
};

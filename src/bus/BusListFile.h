#pragma once

#include "BusList.h"

#include <optional>
#include <string>

// Where the list of a line's controllers is kept, so that the window and ozmetctl share it: a file
// per line in the Data folder's "bus" folder, named after the line (the device's own path, or the
// URL of a network line).
class TBusListFile {
public:
  TBusListFile(const std::string& dataFolder, const std::string& line);

  const std::string& Path() const { return FilePath; }
  // The list kept for this line; empty when none was kept.
  TBusList Load() const;
  // Nothing on success, otherwise why the list could not be written.
  std::optional<std::string> Save(const TBusList& list) const;

  // The line as both programs name it: a device by the path it resolves to (a COM<N> link and the
  // device itself are one line), a URL as written.
  static std::string LineName(const std::string& line);

private:
  std::string Folder;
  std::string FilePath;
};

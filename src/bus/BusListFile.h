#pragma once

#include "bus/BusList.h"

#include <optional>
#include <string>

// Where the list of a line's controllers is kept, so that the window and ozmetctl share it: a file
// per line in the Data folder's "bus" folder, named after the line as the operator names it (the port
// number's link, a by-id path, a URL), so that a re-plugged adapter or a re-pointed link keeps its list.
class TBusListFile {
public:
  TBusListFile(const std::string& dataFolder, const std::string& line);

  const std::string& Path() const { return FilePath; }
  // The list kept for this line, or under another name of the same device; empty when none was kept.
  TBusList Load() const;
  // Nothing on success, otherwise why the list could not be written.
  std::optional<std::string> Save(const TBusList& list) const;

private:
  std::string SourcePath() const;

  std::string DataFolder;
  std::string Line;
  std::string Folder;
  std::string FilePath;
};

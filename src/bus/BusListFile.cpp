#include "BusListFile.h"

#include "WholeFile.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

// A file name that stands for any line name: every byte but letters, digits, '.', '-' and '_' as %XX.
std::string FileName(const std::string& line)
{
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string name;
  for (unsigned char c : line) {
    if (std::isalnum(c) || c == '.' || c == '-' || c == '_')
      name += static_cast<char>(c);
    else
      name.append({'%', Hex[c >> 4], Hex[c & 0x0F]});
  }
  return name + ".list";
}

} // namespace

TBusListFile::TBusListFile(const std::string& dataFolder, const std::string& line)
    : Folder(dataFolder + "/bus"), FilePath(Folder + "/" + FileName(LineName(line)))
{
}

std::string TBusListFile::LineName(const std::string& line)
{
  if (line.find("://") != std::string::npos)
    return line;
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::canonical(line, error);
  return error ? line : resolved.string();
}

TBusList TBusListFile::Load() const
{
  std::ifstream file(FilePath);
  std::ostringstream text;
  text << file.rdbuf();
  return TBusList::FromText(text.str());
}

std::optional<std::string> TBusListFile::Save(const TBusList& list) const
{
  std::error_code error;
  std::filesystem::create_directories(Folder, error);
  if (error)
    return "Cannot write " + FilePath + ": " + error.message();
  return WriteWholeFile(FilePath, list.Text());
}

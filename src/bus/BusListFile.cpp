#include "bus/BusListFile.h"

#include "files/WholeFile.h"

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

// The line a list's file name stands for; none for a file that is no list.
std::optional<std::string> LineOfFile(std::string name)
{
  if (!name.ends_with(".list"))
    return std::nullopt;
  name.resize(name.size() - 5);
  std::string line;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] != '%') {
      line += name[i];
      continue;
    }
    if (i + 2 >= name.size() || !std::isxdigit(static_cast<unsigned char>(name[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(name[i + 2])))
      return std::nullopt;
    line += static_cast<char>(std::stoi(name.substr(i + 1, 2), nullptr, 16));
    i += 2;
  }
  return line;
}

// The device a line led to, as lists were named before they were kept by the operator's name.
std::string ResolvedName(const std::string& line)
{
  if (line.find("://") != std::string::npos)
    return line;
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::canonical(line, error);
  return error ? line : resolved.string();
}

// The line as both programs name it: the port number's link in the Data folder by its own name ("COM1"), any
// other path and a URL as written.
std::string LineName(const std::string& dataFolder, const std::string& line)
{
  const std::string inData = dataFolder + "/";
  if (!dataFolder.empty() && line.starts_with(inData) && line.find('/', inData.size()) == std::string::npos)
    return line.substr(inData.size());
  return line;
}

} // namespace

TBusListFile::TBusListFile(const std::string& dataFolder, const std::string& line)
    : DataFolder(dataFolder), Line(line), Folder(dataFolder + "/bus"),
      FilePath(Folder + "/" + FileName(LineName(dataFolder, line)))
{
}

TBusList TBusListFile::Load() const
{
  std::ifstream file(SourcePath());
  std::ostringstream text;
  text << file.rdbuf();
  return TBusList::FromText(text.str());
}

// A list kept under another name of the same device is this line's too (the window names the port number's link,
// ozmetctl may name the device): the one named after the device itself, as lists were named before, is taken over
// once; any other is read where it is.
std::string TBusListFile::SourcePath() const
{
  std::error_code error;
  if (std::filesystem::exists(FilePath, error))
    return FilePath;
  const std::string device = ResolvedName(Line);
  const std::string former = Folder + "/" + FileName(device);
  if (std::filesystem::exists(former, error)) {
    std::filesystem::rename(former, FilePath, error);
    return error ? former : FilePath; // a folder that cannot be written still reads
  }
  for (const auto& entry : std::filesystem::directory_iterator(Folder, error)) {
    const std::optional<std::string> other = LineOfFile(entry.path().filename().string());
    if (other && ResolvedName(other->find('/') == std::string::npos ? DataFolder + "/" + *other : *other) == device)
      return entry.path().string();
  }
  return FilePath;
}

std::optional<std::string> TBusListFile::Save(const TBusList& list) const
{
  std::error_code error;
  std::filesystem::create_directories(Folder, error);
  if (error)
    return "Cannot write " + FilePath + ": " + error.message();
  return WriteWholeFile(FilePath, list.Text());
}

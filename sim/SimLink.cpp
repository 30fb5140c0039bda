#include "SimLink.h"

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

TSimLink::TSimLink(std::string path, std::string target)
    : Path(std::move(path)), Target(std::move(target))
{
  const auto status = std::filesystem::symlink_status(Path);
  if (std::filesystem::exists(status) && !std::filesystem::is_symlink(status))
    throw std::runtime_error("refusing to replace " + Path + ": it is not a symbolic link");
  if (std::filesystem::is_symlink(status))
    std::filesystem::remove(Path);
  if (::symlink(Target.c_str(), Path.c_str()) != 0)
    throw std::system_error(errno, std::generic_category(), "cannot make the link " + Path);
}

TSimLink::~TSimLink()
{
  std::error_code error;
  if (std::filesystem::read_symlink(Path, error) == Target && !error)
    std::filesystem::remove(Path, error);
}

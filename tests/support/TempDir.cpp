#include "TempDir.h"

#include <filesystem>
#include <stdexcept>
#include <stdlib.h>

TTempDir::TTempDir()
{
  std::string pattern = "/tmp/ozmet-test-XXXXXX";
  if (!::mkdtemp(pattern.data()))
    throw std::runtime_error("mkdtemp failed");
  Dir = pattern;
}

TTempDir::~TTempDir()
{
  std::error_code ignored;
  std::filesystem::remove_all(Dir, ignored);
}

void TTempDir::Link(const std::string& name, const std::string& target) const
{
  std::filesystem::create_symlink(target, Dir + "/" + name);
}

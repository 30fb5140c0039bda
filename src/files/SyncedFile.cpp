#include "files/SyncedFile.h"

#include <cerrno>
#include <utility>

#include <unistd.h>

TSyncedFile::~TSyncedFile()
{
  Close();
}

std::error_code TSyncedFile::Create(const std::string& path)
{
  Close();
  File = std::fopen(path.c_str(), "wxe"); // x: O_EXCL, e: O_CLOEXEC
  return File ? std::error_code() : std::error_code(errno, std::generic_category());
}

std::error_code TSyncedFile::Write(const std::string& text)
{
  if (File && std::fwrite(text.data(), 1, text.size(), File) != text.size())
    return Failed();
  return {};
}

std::error_code TSyncedFile::Sync()
{
  if (File && (std::fflush(File) != 0 || ::fsync(::fileno(File)) != 0))
    return Failed();
  return {};
}

std::error_code TSyncedFile::Close()
{
  std::error_code error = Sync();
  if (File && std::fclose(std::exchange(File, nullptr)) != 0)
    error = std::error_code(errno, std::generic_category());
  return error;
}

std::error_code TSyncedFile::Failed()
{
  const std::error_code error(errno, std::generic_category());
  std::fclose(std::exchange(File, nullptr));
  return error;
}

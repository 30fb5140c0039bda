#pragma once

#include <cstdio>
#include <string>
#include <system_error>

// A file that grows as a run goes: what is written gathers in the stream's buffer, and Sync puts it
// on disk, so that a crash or a power loss keeps everything up to the last Sync. After a failure the
// file is closed and takes nothing more: it holds what was true up to there, with no holes.
class TSyncedFile {
public:
  TSyncedFile() = default;
  ~TSyncedFile();
  TSyncedFile(const TSyncedFile&) = delete;
  TSyncedFile& operator=(const TSyncedFile&) = delete;

  // Makes a new file: an error (file_exists among them) rather than replace one that is there.
  std::error_code Create(const std::string& path);
  std::error_code Write(const std::string& text);
  std::error_code Sync();
  std::error_code Close();

private:
  std::error_code Failed();

  std::FILE* File = nullptr;
};

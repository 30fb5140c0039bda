#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The file that keeps the port number between runs: the number in decimal and CR LF, every byte
// scrambled by TEncodedStream. The caller names the file, <program folder>/Data/portp.dat.
class TPortSettingsFile {
public:
  struct TLoadResult {
    // False: the Data folder or the file is missing or cannot be read; show DataFolderNotFoundText.
    bool Readable = false;
    // Set only when the file was read and its first line is a 32-bit decimal integer.
    std::optional<std::int32_t> PortNumber;
  };

  // Shown to the user word for word, misspelling included.
  static constexpr char DataFolderNotFoundText[] = "Data foulder not found";

  // The longest line Save writes is "-2147483648" CR LF, 13 bytes; Load reads no more than this,
  // so a huge file costs nothing, and a first line that does not end within it is not a number.
  static constexpr std::size_t MaxReadBytes = 64;

  explicit TPortSettingsFile(std::string path);

  TLoadResult Load() const;
  // Creates or empties the file; never creates the Data folder. False if anything fails.
  bool Save(std::int32_t portNumber) const;

private:
  std::string Path;
};

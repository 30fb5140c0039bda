#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// A file whose bytes are shifted by the sum of five key bytes on the way out and back on the way in,
// so that a settings file is not plain text. Opening never throws: ask IsOpen.
class TEncodedStream {
public:
  enum class TMode { Create, OpenRead };

  // A file is readable only by a build that uses the same constant.
  static constexpr std::uint8_t FileKey = 0x5A;

  TEncodedStream(const std::string& fileName, TMode mode, bool encode);
  ~TEncodedStream();
  TEncodedStream(const TEncodedStream&) = delete;
  TEncodedStream& operator=(const TEncodedStream&) = delete;

  bool IsOpen() const;
  // Both return the count of bytes the file took or gave, 0 on failure.
  std::size_t Write(const std::uint8_t* buffer, std::size_t count);
  std::size_t Read(std::uint8_t* buffer, std::size_t count);
  // 0 when the file is not open.
  std::uint64_t Size();

  std::array<std::uint8_t, 5> Key{};
  bool Encode;

private:
  static int OpenFile(const std::string& fileName, TMode mode);
  std::uint8_t KeySum() const;
  std::size_t WriteAll(const std::uint8_t* bytes, std::size_t count);
  std::size_t ReadAll(std::uint8_t* bytes, std::size_t count);

  int Fd;
};

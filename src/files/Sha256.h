#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// SHA-256 (FIPS 180-4), so that a record names the very bytes of the sequence it ran.
class TSha256 {
public:
  void Add(std::string_view bytes);
  // The digest of everything added so far, in lower-case hex; more may be added after.
  std::string Hex() const;

  static std::string Of(std::string_view bytes);

private:
  void Compress();

  std::array<std::uint32_t, 8> State{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::array<std::uint8_t, 64> Block{};
  std::size_t Filled = 0;   // bytes of Block waiting for the rest of it
  std::uint64_t Length = 0; // bytes added in all
};

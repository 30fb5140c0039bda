#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// The addresses of a list as the operator types it: "5", "1,2,5", "1-4", "1-4,9". Ranges are
// decimal; a single item stays text, so that its own reader says what is wrong with it.
class TBusAddresses {
public:
  static constexpr std::uint8_t LastAddress = 254; // 255 is the broadcast address

  // The items in the order given, ranges expanded to decimal texts, each once. Throws
  // std::invalid_argument with the reason for an empty item or a range that is not well formed.
  static std::vector<std::string> Items(const std::string& text);
  // Every address of the list, read as the address field reads one ("12", "$0C"); throws
  // std::invalid_argument naming the item that is no address.
  static std::vector<std::uint8_t> Parse(const std::string& text);
  // One item as the address field reads it (decimal, or hexadecimal after "$" or "0x"), within 0..254.
  static std::optional<std::uint8_t> Address(const std::string& item);
};

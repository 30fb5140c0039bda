#include "motor/ValueReader.h"

#include "protocol/ConsoleView.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace {

constexpr std::int64_t MagnitudeLimit = std::int64_t{1} << 31; // |INT32_MIN|

int DigitValue(char c)
{
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return 99; // above every base: not a digit
}

constexpr std::string_view HexPrefixes[] = {"$", "0x", "0X", "x", "X"};

int TakeBase(std::string_view& text)
{
  for (std::string_view prefix : HexPrefixes)
    if (text.starts_with(prefix)) {
      text.remove_prefix(prefix.size());
      return 16;
    }
  return 10;
}

// The magnitude of the digits, or nothing when there are none, a non-digit follows, or it passes 2^31.
// Stops at the first fault, so any length of text costs one pass at most.
std::optional<std::int64_t> Magnitude(std::string_view digits, int base)
{
  if (digits.empty())
    return std::nullopt;
  std::int64_t magnitude = 0;
  for (char c : digits) {
    const int digit = DigitValue(c);
    if (digit >= base)
      return std::nullopt;
    magnitude = magnitude * base + digit;
    if (magnitude > MagnitudeLimit)
      return std::nullopt;
  }
  return magnitude;
}

std::string RangeMessage(std::int32_t low, std::int32_t high)
{
  return "Please, set correct value from " + std::to_string(low) + " to " + std::to_string(high) + "!";
}

} // namespace

std::optional<std::int32_t> ParseValue(std::string_view text)
{
  text.remove_prefix(std::min(text.find_first_not_of(" \t"), text.size()));
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+'))
    text.remove_prefix(1);
  const int base = TakeBase(text);
  const std::optional<std::int64_t> magnitude = Magnitude(text, base);
  if (!magnitude)
    return std::nullopt;
  const std::int64_t signedValue = negative ? -*magnitude : *magnitude;
  if (signedValue >= MagnitudeLimit) // +2^31 fits only with the minus sign
    return std::nullopt;
  return static_cast<std::int32_t>(signedValue);
}

std::optional<TFieldFault> ValueFault(TField field, std::string_view text, std::int32_t low, std::int32_t high)
{
  const std::optional<std::int32_t> parsed = ParseValue(text);
  if (!parsed)
    return TFieldFault{field, RangeMessage(low, high), text.empty() ? "empty" : "not a whole number"};
  if (*parsed < low || high < *parsed)
    return TFieldFault{field, RangeMessage(low, high), "outside " + std::to_string(low) + ".." + std::to_string(high)};
  return std::nullopt;
}

bool ReadValueInRange(const std::string& text, std::int32_t low, std::int32_t high, double& value, TConsoleView& view)
{
  const std::optional<std::int32_t> parsed = ParseValue(text);
  if (parsed)
    value = *parsed;
  // A well-formed number outside the range is as wrong as a malformed one, and is told the same way.
  if (!parsed || *parsed < low || high < *parsed) {
    view.ShowMessage(RangeMessage(low, high));
    return false;
  }
  return true;
}

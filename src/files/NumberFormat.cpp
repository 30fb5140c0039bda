#include "files/NumberFormat.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string_view>

namespace {

std::string NonFiniteText(double value)
{
  if (std::isnan(value))
    return "NAN";
  return value < 0 ? "-INF" : "INF";
}

// to_chars ignores the locale, unlike printf under Qt's setlocale.
std::string Format(double value, std::chars_format format, int precision)
{
  if (!std::isfinite(value))
    return NonFiniteText(value);
  if (value == 0)
    value = 0.0;              // no "-0"
  std::array<char, 400> text; // a fixed form of the largest double has 309 digits before the point
  const auto result = std::to_chars(text.data(), text.data() + text.size(), value, format, precision);
  return {text.data(), result.ptr};
}

bool IsDigit(char c)
{
  return c >= '0' && c <= '9';
}

// Moves the leading digits of text to number and tells how many there were.
std::size_t TakeDigits(std::string_view& text, std::string& number)
{
  const std::size_t count = std::find_if_not(text.begin(), text.end(), IsDigit) - text.begin();
  number.append(text.substr(0, count));
  text.remove_prefix(count);
  return count;
}

// The first character of text when it is one of choices (and takes it), else '\0'.
char TakeOneOf(std::string_view& text, std::string_view choices)
{
  if (text.empty() || choices.find(text[0]) == std::string_view::npos)
    return '\0';
  const char taken = text[0];
  text.remove_prefix(1);
  return taken;
}

// Checks the form of the unsigned part and rewrites it for from_chars with "." as the separator.
// The check is ours because from_chars would also take "inf" and "nan".
bool UnsignedNumber(std::string_view text, std::string& number)
{
  std::size_t digits = TakeDigits(text, number);
  if (TakeOneOf(text, ".,")) {
    number += '.';
    digits += TakeDigits(text, number);
  }
  if (digits == 0)
    return false;
  if (TakeOneOf(text, "eE")) {
    number += 'e';
    if (const char sign = TakeOneOf(text, "+-"))
      number += sign;
    if (TakeDigits(text, number) == 0)
      return false;
  }
  return text.empty();
}

} // namespace

std::string FormatGeneral(double value)
{
  return Format(value, std::chars_format::general, 15);
}

std::string FormatFixed2(double value)
{
  constexpr int Significant = 10;
  if (!std::isfinite(value))
    return NonFiniteText(value);
  const std::string digits = Format(value, std::chars_format::scientific, Significant - 1);
  double rounded = value; // kept where rounding up passes the largest double
  std::from_chars(digits.data(), digits.data() + digits.size(), rounded);
  if (std::fabs(rounded) >= 1e10)
    return Format(rounded, std::chars_format::general, Significant);
  return Format(rounded, std::chars_format::fixed, 2);
}

bool ParseReal(const std::string& text, double& value)
{
  std::string_view rest(text);
  rest.remove_prefix(std::min(rest.find_first_not_of(" \t"), rest.size()));
  const bool negative = TakeOneOf(rest, "+-") == '-';
  std::string number;
  if (!UnsignedNumber(rest, number))
    return false;
  double magnitude = 0;
  const auto result = std::from_chars(number.data(), number.data() + number.size(), magnitude);
  if (result.ec != std::errc{} || result.ptr != number.data() + number.size())
    return false;
  value = negative ? -magnitude : magnitude;
  return true;
}

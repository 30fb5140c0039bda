#include "files/JsonText.h"

#include "files/NumberFormat.h"
#include "files/Utf8Text.h"

#include <cmath>

namespace {

// Below 2^53 every whole double is an exact integer.
constexpr double ExactWhole = 9007199254740992.0;

void AppendCodePoint(std::string& text, unsigned char byte)
{
  text += static_cast<char>(0xc0 | (byte >> 6));
  text += static_cast<char>(0x80 | (byte & 0x3f));
}

} // namespace

TJsonText::TValue TJsonText::Text(const std::string& text)
{
  std::string valid;
  valid.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8Length(text, i);
    if (length == 0)
      AppendCodePoint(valid, static_cast<unsigned char>(text[i]));
    else
      valid.append(text, i, length);
    i += length == 0 ? 1 : length;
  }
  return valid;
}

TJsonText::TValue TJsonText::Number(std::optional<double> value)
{
  if (!value || !std::isfinite(*value))
    return nullptr;
  double rounded = *value;
  ParseReal(FormatGeneral(*value), rounded);
  if (std::trunc(rounded) == rounded && std::abs(rounded) < ExactWhole)
    return static_cast<std::int64_t>(rounded);
  return rounded;
}

std::string TJsonText::Line(const TValue& json)
{
  return json.dump(-1, ' ', true);
}

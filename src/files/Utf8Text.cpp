#include "files/Utf8Text.h"

std::string Printable(std::string_view text)
{
  static constexpr char Hex[] = "0123456789abcdef";
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F)
      shown.append({'\\', 'x', Hex[byte >> 4], Hex[byte & 0x0F]});
    else
      shown += c;
  }
  return shown;
}

std::size_t Utf8Length(std::string_view text, std::size_t at)
{
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  const std::size_t length = lead < 0x80                    ? 1
                             : lead >= 0xC2 && lead <= 0xDF ? 2
                             : (lead & 0xF0) == 0xE0        ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
  if (length == 0 || at + length > text.size())
    return 0;
  for (std::size_t i = at + 1; i < at + length; ++i)
    if ((byte(i) & 0xC0) != 0x80)
      return 0;
  // No overlong forms, surrogates or code points past U+10FFFF.
  const unsigned char second = length > 1 ? byte(at + 1) : 0;
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) || (lead == 0xF0 && second < 0x90) ||
      (lead == 0xF4 && second >= 0x90))
    return 0;
  return length;
}

#include "files/HtmlText.h"

#include "files/Utf8Text.h"

#include <algorithm>
#include <cstdio>

namespace {

// One byte that is a character of its own (ASCII) or no UTF-8 at all.
std::string Escaped(unsigned char c, bool utf8)
{
  char reference[8];
  if (!utf8)
    return {reference, static_cast<std::size_t>(std::snprintf(reference, sizeof reference, "&#x%02X;", c))};
  switch (c) {
  case '&': return "&amp;";
  case '<': return "&lt;";
  case '>': return "&gt;";
  case '"': return "&quot;";
  case '\'': return "&#39;";
  default: break;
  }
  return c < 0x20 && c != '\t' && c != '\n' && c != '\r' ? "\xEF\xBF\xBD" : std::string(1, static_cast<char>(c));
}

} // namespace

std::string HtmlEscaped(const std::string& text)
{
  std::string escaped;
  escaped.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8Length(text, i);
    if (length > 1)
      escaped.append(text, i, length);
    else
      escaped += Escaped(static_cast<unsigned char>(text[i]), length == 1);
    i += std::max<std::size_t>(length, 1);
  }
  return escaped;
}

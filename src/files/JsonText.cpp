#include "files/JsonText.h"

#include "files/NumberFormat.h"
#include "files/Utf8Text.h"

#include <cmath>
#include <cstdio>

namespace {

std::string Escaped(unsigned code)
{
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
  return escaped;
}

} // namespace

std::string TJsonText::Quoted(const std::string& text)
{
  std::string quoted = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t length = Utf8Length(text, i);
    if (c == '"' || c == '\\')
      quoted.append(1, '\\').append(1, static_cast<char>(c));
    else if (c < 0x20 || length == 0)
      quoted += Escaped(c);
    else
      quoted.append(text, i, length);
    i += length == 0 ? 1 : length;
  }
  return quoted + "\"";
}

std::string TJsonText::NumberText(std::optional<double> value)
{
  return value && std::isfinite(*value) ? FormatGeneral(*value) : "null";
}

std::string TJsonText::Array(const std::vector<std::string>& items)
{
  std::string array;
  for (const std::string& item : items)
    array.append(array.empty() ? "" : ",").append(item);
  return "[" + array + "]";
}

TJsonText& TJsonText::Raw(const std::string& key, const std::string& json)
{
  Fields.append(Fields.empty() ? "" : ",").append(Quoted(key)).append(":").append(json);
  return *this;
}

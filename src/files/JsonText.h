#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

// JSON by nlohmann-json, with the rules of the records of test sequences and of ozmetctl's --json lines.
class TJsonText {
public:
  // Fields stay in the order they were added, as a reader of the file expects them.
  using TValue = nlohmann::ordered_json;

  // A string. Bytes that are no UTF-8 (a Latin-1 file name, a device path of any bytes) become the
  // characters of the same number, so that the text stays valid JSON and loses no byte.
  static TValue Text(const std::string& text);
  // null for nothing, and for what is not finite, which JSON cannot hold; otherwise the value to 15
  // significant digits, a whole one without a fraction ("600", not "600.0").
  static TValue Number(std::optional<double> value);
  // One line, every character beyond ASCII escaped: a line survives any terminal and locale.
  static std::string Line(const TValue& json);
};

#pragma once

#include <optional>
#include <string>
#include <vector>

// JSON written as text, an object a field at a time: the records of test sequences, and the strings
// of ozmetctl's --json lines.
class TJsonText {
public:
  // A JSON string. Bytes that are no UTF-8 (a Latin-1 file name, a device path of any bytes) are
  // written as the characters of the same number, so that the text stays valid JSON.
  static std::string Quoted(const std::string& text);
  // null for nothing, and for what is not finite, which JSON cannot hold.
  static std::string NumberText(std::optional<double> value);
  // Values already written.
  static std::string Array(const std::vector<std::string>& items);

  // `json` is a value already written.
  TJsonText& Raw(const std::string& key, const std::string& json);
  TJsonText& Text(const std::string& key, const std::string& text) { return Raw(key, Quoted(text)); }
  TJsonText& Number(const std::string& key, std::optional<double> value) { return Raw(key, NumberText(value)); }
  // The fields in the order they were added.
  std::string Object() const { return "{" + Fields + "}"; }

private:
  std::string Fields;
};

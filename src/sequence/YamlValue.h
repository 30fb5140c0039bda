#pragma once

#include "sequence/Sequence.h"

#include <yaml-cpp/yaml.h>

#include <string>
#include <string_view>
#include <vector>

// One value of a sequence file with the key it stands under and where it stands, so that every
// refusal names the file, the line, the column and the key.
class TYamlValue {
public:
  // key may be empty: the document itself, or a fault of the text.
  TYamlValue(std::string_view file, std::string key, YAML::Node node, const YAML::Mark& mark);

  // A value of the same file; one that is not there (no value) stands where its key does.
  TYamlValue At(std::string key, const YAML::Node& node, const YAML::Mark& keyMark) const;

  // "FILE:LINE:COLUMN: KEY: what".
  std::string Said(const std::string& what) const;
  // Throws TSequenceError with what Said says.
  [[noreturn]] void Refuse(const std::string& what) const;
  TSourcePlace Place() const;

  const std::string& Key() const { return Name; }
  const YAML::Node& Node() const { return Yaml; }
  // "a map", "a list", "no value", or the text in quotes: what stands where something else belongs.
  std::string Shape() const;
  // A scalar's text; refuses anything else.
  std::string Text() const;
  // A list's items, under this value's key; refuses anything else.
  std::vector<TYamlValue> Items() const;

private:
  std::string_view File;
  std::string Name;
  YAML::Node Yaml;
  YAML::Mark Mark;
};

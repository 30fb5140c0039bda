#pragma once

#include "sequence/YamlValue.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A map of a sequence file whose keys are checked as it is taken: each a word among those allowed,
// none twice (yaml-cpp keeps a second one).
class TYamlMap {
public:
  using TKeys = std::vector<std::string_view>;

  // No value counts as a map without keys: "reverse:" is "reverse: {}".
  TYamlMap(const TYamlValue& value, const TKeys& allowed);

  // Refuses the first of keys that is missing.
  void Require(const TKeys& keys) const;
  std::optional<TYamlValue> Find(std::string_view key) const;
  // Refuses a missing key.
  TYamlValue Get(std::string_view key) const;
  // In the file's order.
  const std::vector<TYamlValue>& Values() const { return Entries; }

  // "a, b, c", for the messages that say what is allowed.
  static std::string Listed(const TKeys& words);

private:
  TYamlValue Whole;
  std::vector<TYamlValue> Entries;
};

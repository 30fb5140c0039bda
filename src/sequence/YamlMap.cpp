#include "sequence/YamlMap.h"

#include <algorithm>

TYamlMap::TYamlMap(const TYamlValue& value, const TKeys& allowed) : Whole(value)
{
  const YAML::Node& node = value.Node();
  if (node.IsNull())
    return;
  const std::string allowedText = "; allowed: " + (allowed.empty() ? "none" : Listed(allowed));
  if (!node.IsMap())
    value.Refuse(value.Shape() + " where keys belong" + allowedText);
  const std::string in = value.Key().empty() ? "" : " in " + value.Key();
  for (const auto& entry : node) {
    const YAML::Node& key = entry.first;
    const TYamlValue keyValue = value.At(key.IsScalar() ? key.Scalar() : "", key, key.Mark());
    if (!key.IsScalar())
      keyValue.Refuse(keyValue.Shape() + " as a key" + allowedText);
    if (std::find(allowed.begin(), allowed.end(), key.Scalar()) == allowed.end())
      keyValue.Refuse("unknown key" + in + allowedText);
    if (Find(key.Scalar()))
      keyValue.Refuse("a second time" + in + "; each key once");
    Entries.push_back(value.At(key.Scalar(), entry.second, key.Mark()));
  }
}

void TYamlMap::Require(const TKeys& keys) const
{
  for (const std::string_view key : keys)
    Get(key);
}

std::optional<TYamlValue> TYamlMap::Find(std::string_view key) const
{
  const auto found =
      std::find_if(Entries.begin(), Entries.end(), [&](const TYamlValue& entry) { return entry.Key() == key; });
  if (found == Entries.end())
    return std::nullopt;
  return *found;
}

TYamlValue TYamlMap::Get(std::string_view key) const
{
  if (std::optional<TYamlValue> value = Find(key))
    return *value;
  Whole.Refuse("missing key \"" + std::string(key) + "\"");
}

std::string TYamlMap::Listed(const TKeys& words)
{
  std::string text;
  for (const std::string_view word : words)
    text.append(text.empty() ? "" : ", ").append(word);
  return text;
}

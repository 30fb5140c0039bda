#include "sequence/YamlValue.h"

#include "files/Utf8Text.h"
#include "sequence/SequenceFile.h"

#include <algorithm>
#include <utility>

TYamlValue::TYamlValue(std::string_view file, std::string key, YAML::Node node, const YAML::Mark& mark)
    : File(file), Name(std::move(key)), Yaml(std::move(node)), Mark(mark)
{
}

TYamlValue TYamlValue::At(std::string key, const YAML::Node& node, const YAML::Mark& keyMark) const
{
  return {File, std::move(key), node, node.IsNull() ? keyMark : node.Mark()};
}

std::string TYamlValue::Said(const std::string& what) const
{
  const TSourcePlace place = Place();
  return Printable(std::string(File) + ":" + std::to_string(place.Line) + ":" + std::to_string(place.Column) + ": " +
                   (Name.empty() ? "" : Name + ": ") + what);
}

void TYamlValue::Refuse(const std::string& what) const
{
  throw TSequenceError(Said(what));
}

// yaml-cpp counts from 0, and has no place (-1) for a document that is not there.
TSourcePlace TYamlValue::Place() const
{
  return {std::max(Mark.line, 0) + 1, std::max(Mark.column, 0) + 1};
}

std::string TYamlValue::Shape() const
{
  if (Yaml.IsMap())
    return "a map";
  if (Yaml.IsSequence())
    return "a list";
  if (Yaml.IsScalar())
    return "\"" + Yaml.Scalar() + "\"";
  return "no value";
}

std::string TYamlValue::Text() const
{
  if (!Yaml.IsScalar())
    Refuse(Shape() + " where a value belongs");
  return Yaml.Scalar();
}

std::vector<TYamlValue> TYamlValue::Items() const
{
  if (!Yaml.IsSequence())
    Refuse(Shape() + " where a list belongs");
  std::vector<TYamlValue> items;
  for (const YAML::Node& item : Yaml)
    items.push_back(At(Name, item, Mark));
  return items;
}

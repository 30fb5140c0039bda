#include "sequence/DocumentBounds.h"

#include "sequence/YamlValue.h"

#include <sstream>

#include <yaml-cpp/parser.h>

void TDocumentBounds::Check(const std::string& text, const std::string& path)
{
  TDocumentBounds bounds(path);
  bounds.CheckFlowDepth(text);
  std::istringstream stream(text);
  YAML::Parser parser(stream);
  while (parser.HandleNextDocument(bounds)) {
  }
}

void TDocumentBounds::CheckFlowDepth(const std::string& text) const
{
  YAML::Mark at;
  int depth = 0;
  char quote = 0;
  bool comment = false;
  for (std::size_t i = 0; i < text.size(); ++i, ++at.column) {
    const char c = text[i];
    if (c == '\n') {
      ++at.line;
      at.column = -1;
      comment = false;
    } else if (comment) {
    } else if (quote) {
      if (c == '\\' && quote == '"')
        ++i, ++at.column; // an escaped character, a quote among them
      else if (c == quote)
        quote = 0; // a doubled single quote opens again at once
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '#' && (i == 0 || text[i - 1] == ' ' || text[i - 1] == '\t' || text[i - 1] == '\n')) {
      comment = true;
    } else if ((c == '[' || c == '{') && ++depth > MaxDepth) {
      Refuse(at, "nested deeper than " + std::to_string(MaxDepth) + " levels: far deeper than a test sequence is");
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
}

void TDocumentBounds::OnAlias(const YAML::Mark& mark, YAML::anchor_t)
{
  Refuse(mark, "an alias (*): write the value out where it is wanted");
}

void TDocumentBounds::OnScalar(const YAML::Mark& mark, const std::string&, YAML::anchor_t, const std::string&)
{
  Value(mark);
}

void TDocumentBounds::OnSequenceStart(const YAML::Mark& mark, const std::string&, YAML::anchor_t,
                                      YAML::EmitterStyle::value)
{
  Nest(mark);
}

void TDocumentBounds::OnMapStart(const YAML::Mark& mark, const std::string&, YAML::anchor_t, YAML::EmitterStyle::value)
{
  Nest(mark);
}

void TDocumentBounds::Value(const YAML::Mark& mark)
{
  if (++Values > MaxValues)
    Refuse(mark, "more than " + std::to_string(MaxValues) + " values: far more than a test sequence holds");
}

void TDocumentBounds::Nest(const YAML::Mark& mark)
{
  Value(mark);
  if (++Depth > MaxDepth)
    Refuse(mark, "nested deeper than " + std::to_string(MaxDepth) + " levels: far deeper than a test sequence is");
}

void TDocumentBounds::Refuse(const YAML::Mark& mark, const std::string& why) const
{
  TYamlValue(Path, "", YAML::Node(), mark).Refuse(why);
}

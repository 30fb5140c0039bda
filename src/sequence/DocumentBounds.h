#pragma once

#include <string>

#include <yaml-cpp/eventhandler.h>

// What a sequence file may cost to read: a text is checked before any node is built, and refused (TSequenceError,
// with its line and column) when it holds an alias (a few lines of aliases nested in each other stand for gigabytes
// once read), nests deeper than MaxDepth or holds more than MaxValues values. Any text within the file's size limit is
// then read in a few megabytes.
class TDocumentBounds : public YAML::EventHandler {
public:
  static constexpr int MaxDepth = 32;
  static constexpr int MaxValues = 20000;

  // Throws TSequenceError for a text past the bounds, YAML::Exception for one that is not YAML.
  static void Check(const std::string& text, const std::string& path);

  void OnAlias(const YAML::Mark& mark, YAML::anchor_t) override;
  void OnDocumentStart(const YAML::Mark&) override {}
  void OnDocumentEnd() override {}
  void OnNull(const YAML::Mark& mark, YAML::anchor_t) override { Value(mark); }
  void OnScalar(const YAML::Mark& mark, const std::string&, YAML::anchor_t, const std::string&) override;
  void OnSequenceStart(const YAML::Mark& mark, const std::string&, YAML::anchor_t, YAML::EmitterStyle::value) override;
  void OnSequenceEnd() override { --Depth; }
  void OnMapStart(const YAML::Mark& mark, const std::string&, YAML::anchor_t, YAML::EmitterStyle::value) override;
  void OnMapEnd() override { --Depth; }

private:
  explicit TDocumentBounds(const std::string& path) : Path(path) {}

  // The parser's scanner reads a flow collection's brackets all ahead, a few hundred bytes each: they are counted
  // in the text first, outside quotes and comments.
  void CheckFlowDepth(const std::string& text) const;
  void Value(const YAML::Mark& mark);
  void Nest(const YAML::Mark& mark);
  [[noreturn]] void Refuse(const YAML::Mark& mark, const std::string& why) const;

  const std::string& Path;
  int Depth = 0;
  int Values = 0;
};

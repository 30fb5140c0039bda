#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <variant>
#include <vector>

class TCommonDatas;

// What ozmetctl tells: a short line per result on standard output, or with --json one JSON object a
// line; failures and the operator's prompts on standard error (failures as objects too with --json);
// the scan's progress as one line that rewrites itself, only on a terminal.
class TCtlOutput {
public:
  using TValue = std::variant<std::string, std::int64_t, double, bool>;
  struct TField {
    std::string Key;
    TValue Value;
  };

  explicit TCtlOutput(bool json);

  void Result(const std::string& kind, const std::string& text, const std::vector<TField>& fields);
  // A decoded status answer; count is the revolutions it reported, signed by their direction.
  void Status(std::uint8_t address, const TCommonDatas& datas, std::int32_t count);
  void Failure(const std::string& message, int exitStatus);
  void Note(const std::string& text);
  void Progress(const std::string& text);
  void EndProgress();

  // "$07": addresses as the window shows them.
  static std::string Address(std::uint8_t address);

private:
  static std::string Json(const std::string& kind, const std::vector<TField>& fields);
  static void Write(std::FILE* stream, const std::string& line);

  bool AsJson;
  bool ProgressShown = false;
};

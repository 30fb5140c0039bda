#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

class TCommonDatas;

// What ozmetctl tells: a short line per result on standard output, with --json one JSON object a line
// (each with its time), with --csv a header row then one row a status request (its answer in the
// last column); failures and the operator's
// prompts on standard error (failures as objects too with --json); the scan's progress as one line
// that rewrites itself, only on a terminal.
class TCtlOutput {
public:
  enum class TFormat { Text, Json, Csv };
  struct TField;
  using TObjects = std::vector<std::vector<TField>>; // an array of objects: a test step's checks
  using TValue = std::variant<std::string, std::int64_t, double, bool, std::vector<std::int64_t>, TObjects>;
  struct TField {
    std::string Key;
    TValue Value;
  };

  using TTime = std::chrono::system_clock::time_point;
  using TConcerns = std::optional<std::uint8_t>; // the controller a failure concerns, if one

  TCtlOutput(TFormat format, bool quiet, bool verbose);

  // A result without text is told only as JSON: a test's steps, which the progress shows on a terminal.
  // when: what the JSON object and the CSV row are stamped with, now unless the result is older.
  void Result(const std::string& kind, const std::string& text, const std::vector<TField>& fields,
              TTime when = std::chrono::system_clock::now());
  // Rows of a report: in text a header, then each row's cells in columns as wide as their widest; with
  // --json an object a row (fields), no header.
  void Table(const std::string& kind, const std::vector<std::string>& heads,
             const std::vector<std::vector<std::string>>& rows, const std::vector<std::vector<TField>>& fields);
  // A header row and the rows as comma-separated values (RFC 4180: a field with a comma, a quote or a line
  // end quoted).
  void CsvTable(const std::vector<std::string>& heads, const std::vector<std::vector<std::string>>& rows);
  // A decoded status answer; count is the revolutions it reported, signed by their direction; when:
  // the time it came.
  void Status(std::uint8_t address, const TCommonDatas& datas, std::int32_t count,
              TTime when = std::chrono::system_clock::now());
  // A status request that brought no sound answer: a row of its own in CSV, said elsewhere otherwise.
  void Unanswered(std::uint8_t address, const std::string& answer);
  // Before the first status of a watch: the CSV header, even when nothing answers.
  void BeginStatusRows();
  void Failure(const std::string& message, int exitStatus, TConcerns address = std::nullopt);
  // What went wrong without ending the command (a missed answer of a watch): on standard error, and
  // as an object on standard output with --json.
  void Warning(const std::string& kind, const std::string& message, TConcerns address = std::nullopt);
  // Something the operator should know; --quiet leaves it out.
  void Note(const std::string& text);
  // What the operator must do now: shown even with --quiet.
  void Prompt(const std::string& text);
  // A frame written, an answer read or stale bytes dropped, with the time: only with --verbose.
  void Trace(std::string_view what, std::span<const std::uint8_t> bytes);
  bool Verbose() const { return IsVerbose; }
  void Progress(const std::string& text);
  void EndProgress();

  // "$07": addresses as the window shows them.
  static std::string Address(std::uint8_t address);
  // The JSON object of a failure: for a command line refused before an output exists.
  static std::string FailureJson(const std::string& message, int exitStatus, TConcerns address = std::nullopt);

private:
  static std::string Json(const std::string& kind, const std::vector<TField>& fields,
                          TTime when = std::chrono::system_clock::now());
  // The fields of a failure: its message, then the address of the controller it concerns.
  static std::vector<TField> Concerning(const std::string& message, TConcerns address);
  static void Write(std::FILE* stream, const std::string& line);
  void WriteCsv(const std::vector<TField>& fields, const std::string& answer, TTime when);

  TFormat Format;
  bool Quiet;
  bool IsVerbose;
  bool ProgressShown = false;
  bool CsvHeaderShown = false;
};

#include "app/CtlRecordsCommand.h"

#include "app/CtlError.h"
#include "app/CtlOptions.h"
#include "app/CtlOutput.h"
#include "files/NumberFormat.h"
#include "records/PostgresDatabase.h"
#include "records/RecordImport.h"
#include "records/RecordsStore.h"
#include "sequence/SequenceResult.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>

namespace {

using TRowFields = std::vector<TCtlOutput::TField>;

// The options each report takes; any other is refused rather than ignored.
const std::map<std::string, std::vector<std::string>> Takes = {
    {"list", {"unit", "sequence", "station", "verdict", "since", "until", "limit"}},
    {"show", {}},
    {"yield", {"by", "sequence"}},
    {"cpk", {"sequence", "check"}},
    {"import", {}},
    {"export", {"unit", "sequence", "station", "verdict", "since", "until", "limit", "csv"}},
    {"sync", {}},
};
const char* const Filters[] = {"unit",  "sequence", "station", "verdict", "since",
                               "until", "limit",    "by",      "check",   "csv"};
constexpr std::string_view YieldGroups[] = {"sequence", "station", "day"};
const char* const ExportColumns[] = {"run_id", "start",   "sequence", "station", "operator",
                                     "unit",   "address", "verdict",  "why",     "record"};

std::optional<std::string> Given(const TCtlOptions& options, const char* name)
{
  return options.Has(name) ? std::optional(options.Text(name)) : std::nullopt;
}

std::optional<std::string> Day(const TCtlOptions& options, const char* name)
{
  const auto day = Given(options, name);
  const auto isDate = [](const std::string& text) { // YYYY-MM-DD
    for (std::size_t i = 0; i < text.size(); ++i)
      if ((i == 4 || i == 7) != (text[i] == '-') ||
          (i != 4 && i != 7 && !std::isdigit(static_cast<unsigned char>(text[i]))))
        return false;
    return text.size() == 10;
  };
  if (day && !isDate(*day))
    throw TCtlError(TCtlError::Usage, "--" + std::string(name) + ": \"" + *day + "\" is no date (YYYY-MM-DD)");
  return day;
}

std::string Limit(const std::optional<double>& limit)
{
  return limit ? FormatGeneral(*limit) : "-";
}

// A unit's run as list and show give it under --json.
TRowFields RunFields(const TUnitRun& run)
{
  return {{"start", run.Start},       {"unit", run.Unit},       {"address", run.Address},   {"verdict", run.Verdict},
          {"sequence", run.Sequence}, {"station", run.Station}, {"operator", run.Operator}, {"why", run.Why},
          {"run_id", run.RunId},      {"record", run.Record}};
}

} // namespace

std::string TCtlRecordsCommand::StorePath(const TCtlOptions& options)
{
  return options.Text("store", TRecordsStore::DefaultPath());
}

void TCtlRecordsCommand::Prepare()
{
  const auto takes = Takes.find(Options.Operand);
  if (takes == Takes.end())
    throw TCtlError(TCtlError::Usage,
                    "records: \"" + Options.Operand + "\" is none of list, show, yield, cpk, import, export, sync");
  if (Options.Operand == "export" && !Options.Has("csv") && !Options.Has("json"))
    throw TCtlError(TCtlError::Usage, "records export needs --csv or --json");
  const bool needsSubject = Options.Operand == "show" || Options.Operand == "import";
  if (needsSubject && Options.Subject.empty())
    throw TCtlError(TCtlError::Usage, "records " + Options.Operand + " needs " +
                                          (Options.Operand == "show" ? "a serial or a run id" : "a folder"));
  if (!needsSubject && !Options.Subject.empty())
    throw TCtlError(TCtlError::Usage, "unexpected argument \"" + Options.Subject + "\"");
  for (const char* option : Filters)
    if (Options.Has(option) && std::find(takes->second.begin(), takes->second.end(), option) == takes->second.end())
      throw TCtlError(TCtlError::Usage, "--" + std::string(option) + " does not apply to records " + Options.Operand);
  static constexpr std::string_view Verdicts[] = {"pass", "fail", "aborted"};
  (void)Options.Choice("verdict", Verdicts, 0);
  (void)Options.Choice("by", YieldGroups, 0);
  (void)Options.Whole("limit", 1, 1000000000, 1);
  Day(Options, "since");
  Day(Options, "until");
}

void TCtlRecordsCommand::Execute()
{
  try {
    if (Options.Operand == "sync")
      return Sync();
    TRecordsStore store(StorePath(Options));
    const std::string& report = Options.Operand;
    if (report == "list")
      List(store);
    else if (report == "show")
      Show(store);
    else if (report == "yield")
      Yield(store);
    else if (report == "cpk")
      Cpk(store);
    else if (report == "export")
      Export(store);
    else
      Import(store);
  } catch (const std::runtime_error& error) {
    if (dynamic_cast<const TCtlError*>(&error))
      throw;
    throw TCtlError(TCtlError::Failed, error.what(), false);
  }
}

TRunFilter TCtlRecordsCommand::Filter() const
{
  TRunFilter filter{Given(Options, "unit"),
                    Given(Options, "sequence"),
                    Given(Options, "station"),
                    std::nullopt,
                    Day(Options, "since"),
                    Day(Options, "until"),
                    std::nullopt};
  if (Options.Has("verdict")) {
    std::string verdict = Options.Text("verdict");
    std::transform(verdict.begin(), verdict.end(), verdict.begin(), ::toupper);
    filter.Verdict = verdict;
  }
  if (Options.Has("limit"))
    filter.Limit = Options.Whole("limit", 1, 1000000000, 1);
  return filter;
}

void TCtlRecordsCommand::List(TRecordsStore& store)
{
  std::vector<std::vector<std::string>> rows;
  std::vector<TRowFields> fields;
  for (const TUnitRun& run : store.List(Filter())) {
    rows.push_back({run.Start, run.Unit.empty() ? "-" : run.Unit,
                    TCtlOutput::Address(static_cast<std::uint8_t>(run.Address)), run.Verdict, run.Sequence, run.Station,
                    run.Why});
    fields.push_back(RunFields(run));
  }
  if (rows.empty())
    Output.Note("no runs in " + store.Path() + " match");
  Output.Table("run", {"start", "unit", "address", "verdict", "sequence", "station", "why"}, rows, fields);
}

void TCtlRecordsCommand::Show(TRecordsStore& store)
{
  const std::vector<TUnitRun> runs = store.History(Options.Subject);
  if (runs.empty())
    throw TCtlError(TCtlError::Failed, "no run of \"" + Options.Subject + "\" in " + store.Path(), false);
  for (const TUnitRun& run : runs) {
    std::string text = run.Start + "  " + (run.Unit.empty() ? "-" : run.Unit) + "  " +
                       TCtlOutput::Address(static_cast<std::uint8_t>(run.Address)) + "  " + run.Verdict + "  " +
                       run.Sequence + "  " + run.Station + "  run " + run.RunId + "\n  record " + run.Record;
    TCtlOutput::TObjects failed;
    for (const std::string& check : run.FailedChecks) {
      text += "\n  failed " + check;
      failed.push_back({{"check", check}});
    }
    TRowFields fields = RunFields(run);
    fields.push_back({"failed", failed});
    Output.Result("run", text, fields);
  }
}

void TCtlRecordsCommand::Yield(TRecordsStore& store)
{
  const auto by = static_cast<TRecordsStore::TYieldBy>(Options.Choice("by", YieldGroups, 0));
  const std::string group(YieldGroups[static_cast<std::size_t>(by)]);
  const auto percent = [](std::int64_t part, std::int64_t whole) {
    return whole ? NumberText(100.0 * static_cast<double>(part) / static_cast<double>(whole)) + " %" : "-";
  };
  std::vector<std::vector<std::string>> rows;
  std::vector<TRowFields> fields;
  for (const TYield& y : store.Yield(by, Given(Options, "sequence"))) {
    rows.push_back({y.Group, std::to_string(y.Units), std::to_string(y.FirstPassed), percent(y.FirstPassed, y.Units),
                    std::to_string(y.FinallyPassed), percent(y.FinallyPassed, y.Units)});
    fields.push_back(
        {{group, y.Group}, {"units", y.Units}, {"first_passed", y.FirstPassed}, {"final_passed", y.FinallyPassed}});
  }
  if (rows.empty())
    Output.Note("no units with a serial in " + store.Path());
  Output.Table("yield", {group, "units", "first pass", "first-pass yield", "last pass", "final yield"}, rows, fields);
}

void TCtlRecordsCommand::Cpk(TRecordsStore& store)
{
  std::vector<std::vector<std::string>> rows;
  std::vector<TRowFields> fields;
  for (const TCheckSpread& s : store.Spread(Given(Options, "sequence"), Given(Options, "check"))) {
    rows.push_back({s.Sequence, s.Check, std::to_string(s.N), NumberText(s.Mean), NumberText(s.Deviation),
                    NumberText(s.Min), NumberText(s.Max), Limit(s.Low), Limit(s.High), s.Measure,
                    s.Cpk ? NumberText(*s.Cpk) : "cannot be computed"});
    TRowFields object{{"sequence", s.Sequence}, {"check", s.Check}, {"n", s.N},     {"mean", s.Mean},
                      {"sd", s.Deviation},      {"min", s.Min},     {"max", s.Max}, {"unit", s.Measure}};
    if (s.Low)
      object.push_back({"low", *s.Low});
    if (s.High)
      object.push_back({"high", *s.High});
    if (s.Cpk)
      object.push_back({"cpk", *s.Cpk});
    fields.push_back(std::move(object));
  }
  if (rows.empty())
    Output.Note("no measured checks in " + store.Path() + " match");
  Output.Table("cpk", {"sequence", "check", "n", "mean", "sd", "min", "max", "low", "high", "unit", "Cpk"}, rows,
               fields);
}

void TCtlRecordsCommand::Import(TRecordsStore& store)
{
  if (!std::filesystem::is_directory(Options.Subject))
    throw TCtlError(TCtlError::Usage, "records import: \"" + Options.Subject + "\" is no folder", false);
  const TRecordImport::TCount count = TRecordImport::Folder(store, Options.Subject);
  for (const std::string& refused : count.Refused)
    Output.Warning("refused", refused);
  Output.Result("import",
                std::to_string(count.Files) + " records read: " + std::to_string(count.Added) + " units stored, " +
                    std::to_string(count.Known) + " already there, " + std::to_string(count.Refused.size()) +
                    " refused",
                {{"files", static_cast<std::int64_t>(count.Files)},
                 {"stored", static_cast<std::int64_t>(count.Added)},
                 {"known", static_cast<std::int64_t>(count.Known)},
                 {"refused", static_cast<std::int64_t>(count.Refused.size())}});
  if (!count.Refused.empty())
    throw TCtlError(TCtlError::Failed, std::to_string(count.Refused.size()) + " files were no records", false);
}

// The runs that the plant's server could not take when they ended, sent now, each once.
void TCtlRecordsCommand::Sync()
{
  const std::string server = StorePath(Options);
  if (!TPostgresDatabase::IsUrl(server))
    throw TCtlError(TCtlError::Usage, "records sync sends to a postgresql:// store: give --store or OZMET_STORE");
  TRecordsStore local(TRecordsStore::LocalPath());
  TRecordsStore remote(server);
  const std::size_t sent = local.SendWaitingTo(remote);
  Output.Result("sync", std::to_string(sent) + " units sent to " + remote.Path() + " from " + local.Path(),
                {{"sent", static_cast<std::int64_t>(sent)}, {"store", remote.Path()}, {"from", local.Path()}});
}

// The selection whole, for a spreadsheet or another system: every column, a row a unit's run.
void TCtlRecordsCommand::Export(TRecordsStore& store)
{
  if (!Options.Has("csv")) {
    List(store);
    return;
  }
  std::vector<std::vector<std::string>> rows;
  for (const TUnitRun& run : store.List(Filter()))
    rows.push_back({run.RunId, run.Start, run.Sequence, run.Station, run.Operator, run.Unit,
                    std::to_string(run.Address), run.Verdict, run.Why, run.Record});
  Output.CsvTable({std::begin(ExportColumns), std::end(ExportColumns)}, rows);
}

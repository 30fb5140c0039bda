#include "sequence/SequenceReport.h"

#include "files/HtmlText.h"
#include "files/NumberFormat.h"
#include "files/UtcTime.h"
#include "protocol/OzmCommands.h"
#include "sequence/SequenceJudge.h"
#include "sequence/SpeedChart.h"

#include <cctype>
#include <cmath>
#include <iterator>

namespace {

// What wrote the page: the same version as every program's --version.
const std::string Program = "Ozmet " OZMET_VERSION;

constexpr const char* Style = R"(
body { font-family: "DejaVu Sans", Arial, sans-serif; font-size: 10.5pt; color: #222; margin: 1.5em; }
h1 { font-size: 1.5em; margin: 0 0 .3em; }
h2 { font-size: 1.2em; margin: 1.2em 0 .3em; }
table { border-collapse: collapse; margin: .5em 0; }
th, td { border: 1px solid #bbb; padding: .15em .45em; text-align: left; vertical-align: top; white-space: nowrap; }
table.facts td { white-space: normal; overflow-wrap: anywhere; }
table.steps { width: 100%; }
.steps .what, .steps .reason { white-space: normal; }
.steps .number { text-align: right; font-variant-numeric: tabular-nums; }
.steps .name { white-space: nowrap; }
thead th { background: #eee; }
tr.step td { background: #f6f6f6; font-weight: bold; }
tr.check td:nth-child(2) { padding-left: 1.5em; }
.verdict { display: inline-block; padding: 0 .35em; border-radius: .2em; color: #fff; font-weight: bold; }
.verdict.pass { background: #1a7f37; }
.verdict.fail { background: #c62828; }
.verdict.aborted { background: #a15c00; }
p.verdict { font-size: 2.4em; margin: .1em 0 .3em; }
.why { color: #8b1a1a; }
svg.chart { display: block; width: 100%; max-width: 60em; height: auto; }
.chart .frame { fill: none; stroke: #888; }
.chart .grid { stroke: #e2e2e2; }
.chart .zero { stroke: #888; }
.chart line.step { stroke: #777; stroke-dasharray: 3 3; }
.chart text { font-size: 10px; fill: #333; }
.chart .tick.x, .chart .title.x { text-anchor: middle; }
.chart .tick.y { text-anchor: end; }
.chart .band.pass { fill: #1a7f37; fill-opacity: .16; }
.chart .band.fail { fill: #c62828; fill-opacity: .2; }
.chart .speed { fill: none; stroke: #1f5fbf; stroke-width: 1.6; stroke-linecap: round; stroke-linejoin: round; }
@page { size: A4; margin: 12mm; }
@media print {
  body { margin: 0; font-size: 9pt; }
  * { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
  section + section { break-before: page; }
  svg.chart, tr { break-inside: avoid; }
  thead { display: table-header-group; }
}
)";

std::string Verdict(TVerdict verdict, const char* tag = "span")
{
  std::string type = VerdictText(verdict);
  for (char& c : type)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return "<" + std::string(tag) + " class=\"verdict " + type + "\">" + VerdictText(verdict) + "</" + tag + ">";
}

std::string Why(const std::string& why)
{
  return why.empty() ? "" : "<p class=\"why\">" + HtmlEscaped(why) + "</p>\n";
}

// To the thousandth: what a person reads; the JSON record keeps every digit.
std::string Shown(std::optional<double> value)
{
  return value ? FormatGeneral(std::round(*value * 1000) / 1000) : "";
}

std::string Fact(const char* name, const std::string& value)
{
  return "<tr><th>" + std::string(name) + "</th><td>" + HtmlEscaped(value) + "</td></tr>\n";
}

// The steps table's columns: only the step's words and the why wrap, between words; numbers keep to the right.
struct TColumn {
  const char* Title;
  const char* Class;
};
constexpr TColumn Columns[] = {{"Step", ""},          {"What", "what"},       {"Start (s)", "number"},
                               {"End (s)", "number"}, {"Measured", "number"}, {"Low", "number"},
                               {"High", "number"},    {"Unit", ""},           {"Verdict", ""},
                               {"Why", "reason"}};

std::string Cell(const char* tag, std::size_t column, const std::string& html)
{
  const std::string type = Columns[column].Class;
  return "<" + std::string(tag) + (type.empty() ? "" : " class=\"" + type + "\"") + ">" + html + "</" + tag + ">";
}

// Cells already in HTML, one a column.
std::string Row(const char* type, const std::vector<std::string>& cells)
{
  std::string row = "<tr class=\"" + std::string(type) + "\">";
  for (std::size_t column = 0; column < cells.size(); ++column)
    row += Cell("td", column, cells[column]);
  return row + "</tr>\n";
}

std::string HeadRow()
{
  std::string row = "<thead><tr>";
  for (std::size_t column = 0; column < std::size(Columns); ++column)
    row += Cell("th", column, Columns[column].Title);
  return row + "</tr></thead>\n";
}

// A count says what it counted and of how many: "feedback (feedback off) | 0 of 24 | ... | samples". The words go
// where the text may wrap, so that the numbers' columns stay narrow.
bool Counts(const TCheckResult& check)
{
  return !TSequenceJudge::Counted(check).empty();
}

std::string WhatText(const TCheckResult& check)
{
  return "<span class=\"name\">" + HtmlEscaped(check.Name) + "</span> (" +
         (Counts(check) ? TSequenceJudge::CountedWhat(check.Kind) : CheckKindText(check.Kind)) + ")";
}

std::string MeasuredText(const TCheckResult& check)
{
  return Counts(check) ? Shown(check.Measured) + " of " + std::to_string(*check.Of) : Shown(check.Measured);
}

} // namespace

std::string TSequenceReport::Html(const TRunResult& run, const TControllerResult& controller,
                                  const std::vector<TSample>& samples)
{
  return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n<meta name=\"generator\" content=\"" +
         HtmlEscaped(Program) + "\"/>\n<title>" + HtmlEscaped(run.Name) + ": " + VerdictText(controller.Verdict) +
         "</title>\n<style>" + Style + "</style>\n</head>\n<body>\n" + Header(run, controller) +
         Controller(controller, run.Why, samples) + "</body>\n</html>\n";
}

// The unit's verdict, with the run's own reason (an interrupt, the line lost) when it has one.
std::string TSequenceReport::Header(const TRunResult& run, const TControllerResult& controller)
{
  const std::string line = run.Settings.empty() ? run.Line : run.Line + ", " + run.Settings;
  return "<header>\n<h1>" + HtmlEscaped(run.Name) + "</h1>\n" + Verdict(controller.Verdict, "p") + "\n" + Why(run.Why) +
         "<table class=\"facts\">\n" + Fact("File", run.File) + Fact("SHA-256", run.Sha256) +
         Fact("Unit", controller.Unit) + Fact("Run", run.Id) + Fact("Station", run.Station) + Fact("Program", Program) +
         Fact("Line", line) + Fact("Start (UTC)", UtcText(run.Start)) + Fact("End (UTC)", UtcText(run.End)) +
         "</table>\n</header>\n";
}

std::string TSequenceReport::Controller(const TControllerResult& controller, const std::string& runWhy,
                                        const std::vector<TSample>& samples)
{
  std::string section = "<section class=\"controller\">\n<h2>Controller " +
                        TOzmCommands::HexAddress(controller.Address) + " " + Verdict(controller.Verdict) + "</h2>\n" +
                        Why(WhyNotPassed(controller, runWhy)) + TSpeedChart::Svg(controller, samples) +
                        "<table class=\"steps\">\n" + HeadRow() + "<tbody>\n";
  for (const TStepResult& step : controller.Steps)
    section += StepRows(step);
  for (const TCheckResult& check : controller.Checks)
    section += CheckRow("whole run", check);
  return section + "</tbody>\n</table>\n</section>\n";
}

std::string TSequenceReport::StepRows(const TStepResult& step)
{
  std::string rows = Row("step", {HtmlEscaped(step.Path), HtmlEscaped(step.Text), Shown(step.Start), Shown(step.End),
                                  "", "", "", "",
                                  step.Skipped ? std::string(StepVerdictText(step)) : Verdict(step.Verdict),
                                  HtmlEscaped(step.Why)});
  for (const TCheckResult& check : step.Checks)
    rows += CheckRow("", check);
  return rows;
}

std::string TSequenceReport::CheckRow(const std::string& step, const TCheckResult& check)
{
  return Row("check", {step, WhatText(check), "", "", MeasuredText(check), Shown(check.Low), Shown(check.High),
                       HtmlEscaped(check.Unit), Verdict(check.Verdict), HtmlEscaped(check.Why)});
}

#include "sequence/SequenceRecord.h"
#include "CasePrinter.h"
#include "ChildProcess.h"
#include "TempDir.h"
#include "sequence/SequenceReport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include <unistd.h>

namespace {

using CasePrinter::PrintTo;

namespace fs = std::filesystem;
using namespace std::chrono;
using TState = TSample::TState;

// Markup, quotes and UTF-8 in the name (the run's file path holds a Latin-1 byte).
const std::string Name = "Pump \"A\" <B> & Gr\xC3\xB6\xC3\x9F" "e";
const std::string SafeName = "Pump--A---B----Gr----e";
const sys_time<milliseconds> Start = sys_days{2026y / 12 / 7} + 21h + 55min + 3s + 127ms;
const std::string Stamp = "20261207T215503Z-";
const std::string RunId = "0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9";
const std::string HeldTooFast = "steady: 112 rpm at 3.6 s is outside 95..105";

// Each sample with the row the .csv must hold for it.
const struct {
  TSample Sample;
  const char* Row;
} Samples[] = {
    {{0.5, 3, "1", TState::Answered, 48.25, 12, 0, true}, "0.5,3,1,answered,48.25,12,forward,on"},
    {{0.6, 7, "1", TState::Answered, 50, -3, 1, false}, "0.6,7,1,answered,50,-3,backward,off"},
    {{1.5, 3, "1", TState::Missing}, "1.5,3,1,missing,,,,"},
    {{1.6, 7, "1", TState::Answered, 99}, "1.6,7,1,answered,99,0,forward,off"},
    {{2.5, 3, "2", TState::Answered, 100.5}, "2.5,3,2,answered,100.5,0,forward,off"},
    {{2.6, 7, "2", TState::Damaged}, "2.6,7,2,damaged,,,,"},
    {{3.5, 3, "2", TState::Missing}, "3.5,3,2,missing,,,,"},
    {{3.6, 7, "2", TState::Answered, 112}, "3.6,7,2,answered,112,0,forward,off"},
    {{5.5, 3, "3.2.1", TState::Answered}, "5.5,3,3.2.1,answered,0,0,forward,off"},
};

// The runner keeps its own reasons in the controller's Why; a failed check is only in its check.
TControllerResult Controller(std::uint8_t address, double held, const std::string& unit)
{
  using TKind = TSequenceCheck::TKind;
  using TStep = TSequenceStep::TKind;
  const TVerdict pass = TVerdict::Pass, verdict = held > 105 ? TVerdict::Fail : pass;
  const std::string why = held > 105 ? "112 rpm at 3.6 s is outside 95..105" : "";
  const TCheckResult reach{"up", TKind::Reach, 1.2, std::nullopt, 3, "s", pass, ""};
  const TCheckResult steady{"steady", TKind::Speed, held, 95, 105, "rpm", verdict, why};
  const TCheckResult feedback{"encoder", TKind::Feedback, 0, 0, 0, "samples", pass, "", 24};
  return {address,
          verdict,
          "",
          {{"1", "run 100 rpm", TStep::Run, 0, 2, {reach}, pass, ""},
           {"2", "hold 3 s", TStep::Hold, 2, 5, {steady, feedback}, verdict, why},
           {"3.2.1", "wait 1 s", TStep::Wait, 5, 6, {}, pass, ""}},
          {{"few missing", TKind::Missing, 2, std::nullopt, 3, "answers", pass, ""}},
          unit};
}

// Controller $03 drives the unit `serial`, $07 the unit SN-7, which fails its hold.
TRunResult HandBuiltRun(const std::string& serial)
{
  TRunResult run;
  run.Name = Name;
  run.File = "/lines/b\xE9nch.yaml";
  run.Sha256 = std::string(64, 'a');
  run.Station = "bench-2";
  run.Line = "/dev/ttyUSB0";
  run.Settings = "9600 8N1";
  run.Start = Start;
  run.End = Start + 6s;
  run.Verdict = TVerdict::Fail;
  run.Controllers = {Controller(3, 100.5, serial), Controller(7, 112, "SN-7")};
  run.Id = RunId;
  return run;
}

// The calls a runner makes to each record, as far as `steps` steps and, with `end`, the end. As the
// run begins, its controllers have their addresses and serials, no results yet.
void Feed(const std::vector<TSequenceRecord*>& records, const TRunResult& run, std::size_t steps, bool end)
{
  TRunResult header = run;
  for (TControllerResult& controller : header.Controllers) {
    controller.Steps.clear();
    controller.Checks.clear();
  }
  for (TSequenceRecord* record : records)
    record->RunBegun(header);
  for (std::size_t k = 0; k < steps; ++k)
    for (TSequenceRecord* record : records) {
      const TStepResult& step = run.Controllers[0].Steps[k];
      record->StepBegun(step.Path, step.Text, steady_clock::now(), step.End - step.Start);
      for (const auto& row : Samples)
        if (row.Sample.Step == step.Path)
          record->Sample(row.Sample);
      for (const TControllerResult& controller : run.Controllers)
        record->StepEnded(controller.Address, controller.Steps[k]);
    }
  if (end)
    for (TSequenceRecord* record : records)
      record->RunEnded(run);
}

std::string Contents(const std::string& path)
{
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// Reads a record's file with Python's own parsers: each .jsonl line, the .json against the schema,
// the page as HTML (every tag closed, nothing to run or fetch) and as XML; prints what it found.
constexpr const char* Checks = R"(
import json, sys
from html.parser import HTMLParser
import xml.etree.ElementTree as ET
mode, path = sys.argv[1:3]
text = open(path, encoding='utf-8').read()
if mode == 'lines':
    for line in text.splitlines():
        r = json.loads(line)
        print(r['record'], r.get('address', ''), r.get('path', ''), r.get('run_id', ''),
              *[c['why'] for c in r.get('controllers', [])], sep='|')
elif mode == 'record':
    import jsonschema
    record = json.loads(text)
    jsonschema.Draft202012Validator(json.load(open(sys.argv[3]))).validate(record)
    print(record['name'], record['file'], record['unit'], record['run_id'], record['verdict'], sep='\n')
    for c in record['controllers']:
        print(c['address'], c['verdict'], *[s['path'] for s in c['steps']], len(c['checks']), c['why'], sep='|')
else:
    class Page(HTMLParser):
        open = []
        def handle_starttag(self, tag, attrs):
            assert tag != 'script' and all(n == 'xmlns' or 'http' not in (v or '') for n, v in attrs), (tag, attrs)
            self.open.append(tag)
        def handle_endtag(self, tag):
            assert self.open.pop() == tag, tag
    page = Page()
    page.feed(text)
    page.close()
    assert not page.open and 'url(' not in text and '@import' not in text, page.open
    svg = '{http://www.w3.org/2000/svg}'
    root = ET.fromstring(text)
    if mode == 'text':
        print(''.join(root.itertext()))
        sys.exit()
    print(root.find('.//h1').text)
    facts = {r.find('th').text: r.find('td').text for r in root.iter('tr') if r.find('td') is not None and r.find('th') is not None}
    print(facts['Unit'], facts['Run'], *[p.text for p in root.iter('p') if p.get('class') == 'why'], sep='|')
    print(facts['SHA-256'], facts['Program'], root.find('.//meta[@name="generator"]').get('content'))
    print(*[''.join(r[1].itertext()) + '=' + r[4].text for r in root.iter('tr') if r.get('class') == 'check'], sep='|')
    for chart in root.iter(svg + 'svg'):
        d = chart.find(svg + 'path').get('d')
        bands = [r for r in chart.iter(svg + 'rect') if r.get('class').startswith('band')]
        steps = [l for l in chart.iter(svg + 'line') if l.get('class') == 'step']
        ticks = [t.text for t in chart.iter(svg + 'text') if t.get('class') == 'tick y']
        print(d.count('M'), d.count('L'), len(bands), len(steps), ticks[0] + '..' + ticks[-1])
print('end')
)";

// What the checks printed; a failed check fails the test with Python's message.
std::string Checked(const std::vector<std::string>& arguments)
{
  std::vector<std::string> all = {"-c", Checks};
  all.insert(all.end(), arguments.begin(), arguments.end());
  TChildProcess python("/usr/bin/python3", all, {"PYTHONIOENCODING=utf-8"});
  python.WaitForOutput(0, std::string(1, '\0'), 30s);
  python.WaitForOutput(1, std::string(1, '\0'), 5s);
  EXPECT_EQ(python.WaitForExit(), 0) << python.Stderr();
  return python.Stdout();
}

// A run cut short keeps on disk every line and sample row up to its last finished step.
TEST(SequenceRecord, KeepsEveryFinishedStepAsTheRunGoes)
{
  const struct {
    const char* Name;
    std::size_t Steps;
    bool End;
  } cases[] = {{"cut at the start", 0, false}, {"cut after a step", 1, false}, {"cut after the last step", 3, false},
               {"ended", 3, true}};
  // Each controller's record holds its own steps and samples only, and its own why at the end.
  const std::pair<std::uint8_t, std::string> units[] = {{3, ""}, {7, HeldTooFast}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir folder;
    TSequenceRecord first(folder.Path(), 3), second(folder.Path(), 7);
    const TRunResult run = HandBuiltRun("SN-3");
    Feed({&first, &second}, run, c.Steps, c.End);
    for (const TSequenceRecord* record : {&first, &second}) {
      const auto& [address, why] = units[record == &second];
      std::string lines = "run|||" + RunId + "\n";
      std::string rows = "time_s,address,step,state,speed_rpm,counter,direction,feedback\n";
      for (std::size_t k = 0; k < c.Steps; ++k) {
        const std::string& path = run.Controllers[0].Steps[k].Path;
        lines += "step|" + std::to_string(address) + "|" + path + "|\n";
        for (const auto& row : Samples)
          rows += row.Sample.Step == path && row.Sample.Address == address ? row.Row + std::string("\n") : "";
      }
      EXPECT_EQ(Checked({"lines", record->LinesPath()}),
                lines + (c.End ? "end|||" + RunId + "|" + why + "\n" : "") + "end\n");
      EXPECT_EQ(Contents(record->SamplesPath()), rows);
      EXPECT_EQ(fs::exists(record->ReportPath()), c.End);
      EXPECT_EQ(record->Failure(), "");
    }
  }
}

// One run of two controllers: each unit's record set, named by its serial, holds its controller
// alone, its verdict and why, and the run's id.
TEST(SequenceRecord, EachUnitOfARunHasARecordSetOfItsOwn)
{
  TTempDir folder;
  TSequenceRecord first(folder.Path(), 3), second(folder.Path(), 7);
  Feed({&first, &second}, HandBuiltRun("SN-3"), 3, true);
  std::set<std::string> files, expected;
  for (const auto& entry : fs::directory_iterator(folder.Path()))
    files.insert(entry.path().filename());
  for (const char* serial : {"SN-3-", "SN-7-"})
    for (const char* extension : {".jsonl", ".csv", ".json", ".html"})
      expected.insert(Stamp + serial + SafeName + extension);
  EXPECT_EQ(files, expected);

  const std::string run = Name + "\n/lines/b\xC3\xA9nch.yaml\n";
  EXPECT_EQ(Checked({"record", first.RecordPath(), OZMET_RECORD_SCHEMA}),
            run + "SN-3\n" + RunId + "\nPASS\n3|PASS|1|2|3.2.1|1|\nend\n");
  EXPECT_EQ(Checked({"record", second.RecordPath(), OZMET_RECORD_SCHEMA}),
            run + "SN-7\n" + RunId + "\nFAIL\n7|FAIL|1|2|3.2.1|1|" + HeldTooFast + "\nend\n");
  // $03: three answers, each between missing ones, all forward; $07: a damaged answer splits four in two, and
  // its first answer, backward, is below zero. A count says what it counted and of how many.
  const std::string head = std::string(64, 'a') + " Ozmet " OZMET_VERSION " Ozmet " OZMET_VERSION "\n";
  const std::string checks = "up (reach)=1.2|steady (speed)=",
                    counted = "encoder (feedback off)=0 of 24|few missing (missing)=";
  EXPECT_EQ(Checked({"page", first.ReportPath()}),
            Name + "\nSN-3|" + RunId + "\n" + head + checks + "100.5|" + counted + "2\n3 3 1 4 0..150\nend\n");
  EXPECT_EQ(Checked({"page", second.ReportPath()}), Name + "\nSN-7|" + RunId + "|" + HeldTooFast + "\n" + head +
                                                        checks + "112|" + counted + "2\n2 3 1 4 -50..150\nend\n");
  EXPECT_EQ(first.Failure() + second.Failure(), "");
}

// $03's page of the hand-built run, written to `path` with `script` (a browser's) before its end.
void WriteReport(const std::string& path, const TRunResult& run, const std::string& script = "")
{
  std::vector<TSample> samples;
  for (const auto& row : Samples)
    samples.push_back(row.Sample);
  std::string page = TSequenceReport::Html(run, run.Controllers[0], samples);
  page.insert(page.rfind("</body>"), script);
  std::ofstream(path) << page;
}

// Texts from files, the command line and the controllers come out of the report as text, whatever markup they hold.
TEST(SequenceRecord, ReportShowsMarkupAsText)
{
  const std::string image = "<img src=x onerror=alert(1)>", prose = "a < b && \"c\" > 'd'";
  const struct {
    const char* Where;
    std::function<void(TRunResult&, const std::string&)> Plant;
    const std::string& Text;
  } cases[] = {
      {"a hold's check's name",
       [](TRunResult& run, const std::string& text) { run.Controllers[0].Steps[1].Checks[0].Name = text; }, image},
      {"a whole-run check's name",
       [](TRunResult& run, const std::string& text) { run.Controllers[0].Checks[0].Name = text; }, image},
      {"the sequence's name", [](TRunResult& run, const std::string& text) { run.Name = text; }, image},
      {"the unit's serial", [](TRunResult& run, const std::string& text) { run.Controllers[0].Unit = text; }, prose},
      {"a check's why",
       [](TRunResult& run, const std::string& text) { run.Controllers[0].Steps[1].Checks[0].Why = text; }, prose},
      {"a step's words", [](TRunResult& run, const std::string& text) { run.Controllers[0].Steps[0].Text = text; },
       image},
      {"the run's why", [](TRunResult& run, const std::string& text) { run.Why = text; }, prose},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Where);
    TTempDir folder;
    TRunResult run = HandBuiltRun("SN-3");
    c.Plant(run, c.Text);
    WriteReport(folder.Path() + "/report.html", run);
    EXPECT_NE(Checked({"text", folder.Path() + "/report.html"}).find(c.Text), std::string::npos);
  }
}

// In a real browser at a laptop's width: no text spills out of its cell, and no number, verdict or name is broken
// over two lines. The page's own script-free rule is kept: the check goes into a copy.
TEST(SequenceRecord, ReportCellsHoldTheirTextInABrowser)
{
  std::string browser;
  for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
    browser = browser.empty() && fs::exists(path) ? path : browser;
  if (browser.empty())
    GTEST_SKIP() << "no Chromium (/usr/bin/chromium or /usr/bin/chromium-browser) to lay the report out";
  // A text broken over two lines has two boxes; only the step's words, the why and the facts may wrap.
  constexpr const char* Script = R"(<script>
const spilt = [], range = document.createRange();
for (const cell of document.querySelectorAll('td, th')) {
  let broken = false;
  for (const texts = document.createTreeWalker(cell, NodeFilter.SHOW_TEXT); texts.nextNode();) {
    range.selectNodeContents(texts.currentNode);
    broken ||= !cell.matches('.what, .reason, .facts td') && range.getClientRects().length > 1;
  }
  if (broken || cell.scrollWidth > cell.clientWidth + 1)
    spilt.push(cell.textContent);
}
const out = document.createElement('pre');
out.textContent = 'spilt: ' + JSON.stringify(spilt);
document.body.append(out);
</script>
)";
  TTempDir folder;
  TRunResult run = HandBuiltRun("SN-3");
  run.Controllers[0].Steps[0].Text = "run 1500 rpm backward, acceleration 5, deceleration 5, then hold it longer";
  run.Controllers[0].Steps[1].Checks[0].Why = "1234.5 rpm at 52.304 s is outside 95..105 rpm, and at 53.1 s again";
  WriteReport(folder.Path() + "/report.html", run, Script);
  TChildProcess chromium(browser, {"--headless", "--disable-gpu", "--no-sandbox", "--window-size=1150,900",
                                   "--dump-dom", "file://" + folder.Path() + "/report.html"});
  ASSERT_TRUE(chromium.WaitForOutput(0, "</html>", 60s)) << chromium.Stderr();
  const std::string& page = chromium.Stdout();
  EXPECT_NE(page.find("spilt: []"), std::string::npos) << page.substr(std::min(page.find("spilt: "), page.size()));
}

// Files already in the folder, named by what follows the stem the run would have.
TEST(SequenceRecord, StemsNeverMeetFilesAlreadyThere)
{
  const struct {
    const char* Unit;
    std::vector<const char*> There;
    std::string Stem;
  } cases[] = {
      {"SN/0042", {}, Stamp + "SN-0042-" + SafeName},
      {"", {}, Stamp + "no-serial-" + SafeName},
      {"SN/0042", {".html"}, Stamp + "SN-0042-" + SafeName + "-2"},
      {"SN/0042", {".jsonl", "-2.csv"}, Stamp + "SN-0042-" + SafeName + "-3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Stem);
    TTempDir folder;
    const std::string base = folder.Path() + "/" + Stamp + (*c.Unit ? "SN-0042-" : "no-serial-") + SafeName;
    for (const char* there : c.There)
      std::ofstream(base + there) << "older";
    TSequenceRecord record(folder.Path(), 3);
    Feed({&record}, HandBuiltRun(c.Unit), 0, false);
    EXPECT_EQ(record.LinesPath(), folder.Path() + "/" + c.Stem + ".jsonl");
    for (const char* there : c.There)
      EXPECT_EQ(Contents(base + there), "older");
  }
}

// The folder went away while the run went on: the callbacks go on, and the end says what was lost.
TEST(SequenceRecord, WriteFailuresAreToldNotThrown)
{
  TTempDir folder;
  TSequenceRecord record(folder.Path() + "/records", 7);
  Feed({&record}, HandBuiltRun("SN1"), 1, false);
  fs::remove_all(folder.Path() + "/records");
  EXPECT_NO_THROW(record.RunEnded(HandBuiltRun("SN1")));
  EXPECT_EQ(record.Failure(), "Cannot write " + record.RecordPath() + ": No such file or directory");
}

std::optional<std::string> Variable(const char* name)
{
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

void SetVariable(const char* name, const std::optional<std::string>& value)
{
  value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
}

TEST(SequenceRecord, DefaultFolderFollowsXdgDataHome)
{
  const struct {
    std::optional<std::string> DataHome;
    const char* Folder;
  } cases[] = {{"/srv/data", "/srv/data/ozmet/records"},
               {std::nullopt, "/home/op/.local/share/ozmet/records"},
               {"relative/data", "/home/op/.local/share/ozmet/records"}};
  const auto home = Variable("HOME"), dataHome = Variable("XDG_DATA_HOME");
  SetVariable("HOME", "/home/op");
  for (const auto& c : cases) {
    SetVariable("XDG_DATA_HOME", c.DataHome);
    EXPECT_EQ(TSequenceRecord::DefaultFolder(), c.Folder);
  }
  SetVariable("HOME", home);
  SetVariable("XDG_DATA_HOME", dataHome);
}

// Folders a run cannot keep its record in, refused with the reason before anything is sent. In the
// temporary folder, "plain" is a file and "locked" a folder without write permission.
struct TRefusal {
  const char* Name;
  const char* Folder;
  const char* Reason;
};

class FolderRefusal : public ::testing::TestWithParam<TRefusal> {};

TEST_P(FolderRefusal, SaysWhy)
{
  const TRefusal& c = GetParam();
  if (std::string(c.Folder).starts_with("locked") && ::geteuid() == 0)
    GTEST_SKIP() << "root writes into any folder, so a folder it may not write in cannot be staged";
  TTempDir temporary;
  std::ofstream(temporary.Path() + "/plain") << "a file";
  fs::create_directory(temporary.Path() + "/locked");
  fs::permissions(temporary.Path() + "/locked", fs::perms::owner_read | fs::perms::owner_exec);
  const std::string folder = temporary.Path() + "/" + c.Folder;
  try {
    TSequenceRecord record(folder, 0);
    ADD_FAILURE() << "accepted";
  } catch (const std::runtime_error& refusal) {
    EXPECT_EQ(refusal.what(), "Cannot write records to " + folder + ": " + c.Reason);
  }
}

INSTANTIATE_TEST_SUITE_P(SequenceRecord, FolderRefusal,
                         ::testing::Values(TRefusal{"NotWritable", "locked", "Permission denied"},
                                           TRefusal{"ParentNotWritable", "locked/records", "Permission denied"},
                                           TRefusal{"AFileInItsPlace", "plain", "Not a directory"},
                                           TRefusal{"AFileAmongItsParents", "plain/records", "Not a directory"}),
                         [](const auto& info) { return info.param.Name; });

} // namespace

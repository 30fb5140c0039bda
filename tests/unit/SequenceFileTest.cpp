#include "sequence/SequenceFile.h"
#include "TempDir.h"
#include "files/Sha256.h"
#include "motor/ParameterFile.h"
#include "sequence/SequenceTiming.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

namespace {

using TStep = TSequenceStep::TKind;
using TCheck = TSequenceCheck::TKind;

// Lines 1 to 4; a file's steps start on line 5.
const std::string Head = "name: t\ncontrollers: 1\nmotor: {encoder: 2, max-speed: 3000, ratio: 10}\nsteps:\n";

// Why the file was refused, or "taken".
std::string Refusal(const std::function<void()>& read)
{
  try {
    read();
    return "taken";
  } catch (const TSequenceError& error) {
    return error.what();
  }
}

TEST(SequenceFile, TakesWhatTheFormatAllows)
{
  const struct {
    const char* Name;
    std::string Text;
    std::function<void(const TSequence&)> Expect;
  } cases[] = {
      {"the forms of a step",
       Head + "  - run: {speed: 200, direction: backward, acceleration: 5, checks: [reach: {within: 3}]}\n"
              "  - reverse: {}\n  - wait: 2\n  - wait: {seconds: 0.5}\n  - stop\n",
       [](const TSequence& s) {
         ASSERT_EQ(s.Steps.size(), 5u);
         const TSequenceStep& run = s.Steps[0];
         EXPECT_EQ(run.Kind, TStep::Run);
         EXPECT_EQ((std::vector<std::string>{run.Work.Speed, run.Work.Accel, run.Work.Decel}),
                   (std::vector<std::string>{"200", "5", "24"}));
         EXPECT_EQ(run.Work.Direction, 1);
         EXPECT_EQ((std::pair{run.Where.Line, run.Where.Column}), (std::pair{5, 5}));
         const TSequenceCheck& reach = run.Checks.at(0);
         EXPECT_EQ((std::tuple{reach.Name, reach.Within, reach.Tolerance, reach.Percent}),
                   (std::tuple{"reach", 3.0, 5.0, true}));
         EXPECT_EQ((std::vector{s.Steps[1].Kind, s.Steps[4].Kind}), (std::vector{TStep::Reverse, TStep::Stop}));
         EXPECT_EQ((std::pair{s.Steps[2].Seconds, s.Steps[3].Seconds}), (std::pair{2.0, 0.5}));
       }},
      {"control characters in names written out",
       "name: \"end\\e[31mof\\nline\"\ncontrollers: 1\nmotor: {encoder: 2, max-speed: 3000, ratio: 10}\nsteps:\n"
       "  - hold: {seconds: 1, checks: [feedback: {name: \"fb\\r\"}]}\n",
       [](const TSequence& s) {
         EXPECT_EQ(s.Name, "end\\x1b[31mof\\x0aline");
         EXPECT_EQ(s.Steps.at(0).Checks.at(0).Name, "fb\\x0d");
       }},
      {"a hold's checks",
       Head + "  - hold:\n      seconds: 5\n      checks:\n"
              "        - speed: {tolerance: 3%, settle: 1, of: mean, name: speed at 200}\n"
              "        - counter: {tolerance: 2.5}\n        - feedback\n        - direction: {settle: 4.9}\n"
              "        - missing: {max: 0}\n",
       [](const TSequence& s) {
         const std::vector<TSequenceCheck>& c = s.Steps.at(0).Checks;
         ASSERT_EQ(c.size(), 5u);
         EXPECT_EQ((std::tuple{c[0].Name, c[0].Tolerance, c[0].Percent, c[0].Settle, c[0].Mean}),
                   (std::tuple{"speed at 200", 3.0, true, 1.0, true}));
         EXPECT_EQ((std::pair{c[0].Where.Line, c[0].Where.Column}), (std::pair{8, 11}));
         EXPECT_EQ((std::tuple{c[1].Kind, c[1].Tolerance, c[1].Percent}), (std::tuple{TCheck::Counter, 2.5, false}));
         EXPECT_EQ((std::pair{c[2].Kind, c[2].Name}), (std::pair{TCheck::Feedback, std::string("feedback")}));
         EXPECT_EQ(c[3].Settle, 4.9);
         EXPECT_EQ((std::pair{c[4].Kind, c[4].Max}), (std::pair{TCheck::Missing, 0}));
       }},
      {"repeats within repeats, the whole run's checks",
       "name: r\ncontrollers: [1, $0A, 0x02, 1]\nmotor: {encoder: 2, max-speed: 3000, ratio: 1}\n"
       "checks: [missing: {max: 2, name: link}]\n"
       "steps:\n  - repeat: {times: 3, steps: [repeat: {times: 1000000, steps: [stop]}, reverse]}\n",
       [](const TSequence& s) {
         EXPECT_EQ(s.Addresses, (std::vector<std::uint8_t>{1, 10, 2}));
         EXPECT_EQ((std::tuple{s.Checks.at(0).Kind, s.Checks.at(0).Name, s.Checks.at(0).Max}),
                   (std::tuple{TCheck::Missing, "link", 2}));
         const TSequenceStep& outer = s.Steps.at(0);
         EXPECT_EQ((std::pair{outer.Times, outer.Steps.size()}), (std::pair{3, std::size_t{2}}));
         EXPECT_EQ(outer.Steps[0].Times, 1000000);
         EXPECT_EQ(outer.Steps[0].Steps.at(0).Kind, TStep::Stop);
       }},
      {"tolerances above 100 in rpm and revolutions are the values themselves",
       Head + "  - hold: {seconds: 5, checks: [speed: {tolerance: 120}, counter: {tolerance: 150}]}\n",
       [](const TSequence& s) {
         const std::vector<TSequenceCheck>& c = s.Steps.at(0).Checks;
         EXPECT_EQ((std::tuple{c.at(0).Tolerance, c.at(0).Percent, c.at(1).Tolerance, c.at(1).Percent}),
                   (std::tuple{120.0, false, 150.0, false}));
       }},
      {"a speed that the controller's step rounds is taken and said",
       Head + "  - run: {speed: 20}\n  - run: {speed: 30}\n",
       [](const TSequence& s) {
         EXPECT_EQ(s.Warnings, (std::vector<std::string>{"eol.yaml:5:18: speed: warning: 20 rpm asked, 18 rpm sent (the "
                                                         "controller's speed step is 6 rpm); the checks' limits are "
                                                         "around 20 rpm"}));
       }},
      {"a range of addresses as text, the sequence's own name and hash",
       "name: End-of-line\ncontrollers: \"1-3,9\"\nmotor: {encoder: 2, max-speed: 3000, ratio: 1}\nsteps: [stop]\n",
       [](const TSequence& s) {
         EXPECT_EQ(s.Addresses, (std::vector<std::uint8_t>{1, 2, 3, 9}));
         EXPECT_EQ((std::pair{s.Name, s.File}), (std::pair{std::string("End-of-line"), std::string("eol.yaml")}));
         EXPECT_EQ((std::vector{s.Motor.Address, s.Motor.Encoder, s.Motor.MaxSpeed, s.Motor.GearRatio}),
                   (std::vector<std::string>{"0", "2", "3000", "1"}));
         EXPECT_EQ(s.Sha256, "bfdbfe8d85677914115dac9e24bdcfd1a7b6995ed0710660624a60fd86be922b");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    try {
      c.Expect(TSequenceFile::Parse(c.Text, "eol.yaml"));
    } catch (const TSequenceError& error) {
      ADD_FAILURE() << error.what();
    }
  }
}

// Twelve levels of nine aliases each: a trillion items once read, were aliases followed.
std::string AliasBomb()
{
  std::string text = "a0: &a0 [x, x, x, x, x, x, x, x, x]\n";
  for (int level = 1; level < 12; ++level) {
    const std::string below = "*a" + std::to_string(level - 1);
    text += "a" + std::to_string(level) + ": &a" + std::to_string(level) + " [" + below;
    for (int i = 1; i < 9; ++i)
      text += ", " + below;
    text += "]\n";
  }
  return text + "name: *a11\ncontrollers: 1\nsteps: [stop]\n";
}

TEST(SequenceFile, RefusesNamingTheLineAndColumn)
{
  const std::string top = "steps: [stop]\nname: t\ncontrollers: 1\n"; // lines 1 to 3
  const auto step = [](const std::string& text) { return Head + "  - " + text + "\n"; };
  // The checks' items start at column 33.
  const auto holdChecks = [&](const std::string& items) { return step("hold: {seconds: 5, checks: [" + items + "]}"); };
  const struct {
    std::string Text;
    const char* Says;
  } cases[] = {
      {"name: [t\n", "eol.yaml:2:1: not YAML: end of sequence flow not found"},
      {"name: &n t\ncontrollers: 1\nsteps: [stop]\nmotor: {encoder: 2, max-speed: *n}\n",
       "eol.yaml:4:32: an alias (*): write the value out where it is wanted"},
      {AliasBomb(), "eol.yaml:2:10: an alias (*)"},
      // The file's whole size of brackets, or of keys: hundreds of megabytes once built, refused before.
      {std::string(TSequenceFile::MaxFileBytes - 1, '['), "eol.yaml:1:33: nested deeper than 32 levels"},
      {Head + "  - " + std::string(30, '[') + std::string(30, ']') + "\n", // 32 levels: past the bound, to the step
       "eol.yaml:5:5: steps: a list where a word or a map of one key belongs"},
      {[] {
         std::string keys;
         for (int key = 0; keys.size() < TSequenceFile::MaxFileBytes - 16; ++key)
           keys += "k" + std::to_string(key) + ": 1\n";
         return keys;
       }(),
       "eol.yaml:10000:8: more than 20000 values"},
      // Brackets in a comment or quoted are text, however many.
      {"# " + std::string(40, '[') + "\nname: '" + std::string(40, '{') + "'\ncontrollers: \"[[[[\\\"\" # " +
           std::string(40, '[') + "\n",
       "missing key \"steps\""},
      {"nme: t\n", "eol.yaml:1:1: nme: unknown key; allowed: name, controllers, motor, parameters, checks, steps"},
      {"n\x1b[2Jme: t\n", "eol.yaml:1:1: n\\x1b[2Jme: unknown key"},
      {step("stop") + "name: u\n", "eol.yaml:6:1: name: a second time; each key once"},
      {step("stop") + "---\nname: u\n", "eol.yaml:7:1: a second document"},
      {"name: t\n", "eol.yaml:1:1: missing key \"controllers\""},
      {step("stop") + "parameters: p.par\n", "eol.yaml:6:13: parameters: beside motor:"},
      {top, "eol.yaml:1:1: missing key \"motor\" or \"parameters\""},
      {"steps: [stop]\nname: \"\"\ncontrollers: 1\n", "eol.yaml:2:7: name: empty"},
      {"steps: [stop]\nname: [t]\ncontrollers: 1\n", "eol.yaml:2:7: name: a list where a value belongs"},
      {"steps: [stop]\nname: t\ncontrollers: []\n", "eol.yaml:3:14: controllers: an empty list"},
      {"steps: [stop]\nname: t\ncontrollers: [1, 255]\n", "eol.yaml:3:18: controllers: \"255\" is no address"},
      {top + "motor: {encoder: 300, max-speed: 3000, ratio: 1}\n",
       "eol.yaml:4:18: encoder: \"300\" refused by the motor panel: outside 0..255"},
      {top + "motor: 5\n", "eol.yaml:4:8: motor: \"5\" where keys belong; allowed: encoder,"},
      {top + "parameters: none.par\n", "eol.yaml:4:13: parameters: \"none.par\": Cannot open none.par"},
      {Head, "eol.yaml:4:1: steps: no value where a list belongs"},
      {Head + "  []\n", "eol.yaml:5:3: steps: an empty list; write one step or more"},
      {step("jump"), "eol.yaml:5:5: jump: unknown step; the steps are run, stop, reverse, wait, hold, repeat"},
      {step("{run: {speed: 1}, stop: {}}"), "eol.yaml:5:5: steps: a map where a word or a map of one key"},
      {step("run"), "eol.yaml:5:5: run: missing key \"speed\""},
      {step("run: {sped: 1}"), "eol.yaml:5:11: sped: unknown key in run; allowed: speed, direction,"},
      {step("reverse: {x: 1}"), "eol.yaml:5:15: x: unknown key in reverse; allowed: none"},
      {step("run: {speed: 2000}"),
       "eol.yaml:5:18: speed: \"2000\" refused by the operation panel: motor speed 20000 rpm outside 0..15000 at "
       "ratio 10"},
      {step("run: {speed: 20, deceleration: 25}"), "eol.yaml:5:36: deceleration: \"25\" refused by the"},
      {step("run: {speed: 20, direction: left}"), "eol.yaml:5:33: direction: \"left\" is not allowed; write"},
      {step("wait: 0"), "eol.yaml:5:11: wait: \"0\" is not allowed; write seconds above 0, at most"},
      {step("hold: {seconds: 86401}"), "eol.yaml:5:21: seconds: \"86401\" is not allowed"},
      {step("hold: {seconds: soon}"), "eol.yaml:5:21: seconds: \"soon\" is not a number"},
      {step("repeat: {times: 0, steps: [stop]}"),
       "eol.yaml:5:21: times: \"0\" is not allowed; write a whole number 1.."},
      {step("repeat: {times: 1000001, steps: [stop]}"), "eol.yaml:5:21: times: \"1000001\" is not allowed"},
      {step("repeat: {times: 2, steps: [stop, {hold: {}}]}"), "eol.yaml:5:45: hold: missing key \"seconds\""},
      {step("run: {speed: 20, checks: [standstill: {within: 3}]}"),
       "eol.yaml:5:31: standstill: only in a stop's checks; a run's checks are reach"},
      {step("stop") + "checks: [speed: {tolerance: 1}]\n",
       "eol.yaml:6:10: speed: only in a hold's checks; the sequence's checks are missing"},
      {holdChecks("heat"), "eol.yaml:5:33: heat: unknown check; a hold's checks are speed, counter,"},
      {holdChecks("speed"), "eol.yaml:5:33: speed: missing key \"tolerance\""},
      {holdChecks("speed: {tolerance: -1}"), "eol.yaml:5:52: tolerance: \"-1\" is not allowed; write rpm from 0"},
      {holdChecks("counter: {tolerance: 101%}"), "eol.yaml:5:54: tolerance: \"101%\" is not allowed; write rev"},
      {step("hold: {checks: [feedback: {settle: 5}], seconds: 5}"),
       "eol.yaml:5:40: settle: \"5\" is not allowed; write seconds from 0, below the hold's 5"},
      {holdChecks("speed: {tolerance: 1, of: median}"), "eol.yaml:5:59: of: \"median\" is not allowed; write every"},
      {step("stop: {checks: [standstill: {within: 0}]}"), "eol.yaml:5:42: within: \"0\" is not allowed"},
      {step("stop: {checks: [standstill: {within: 3601}]}"), "eol.yaml:5:42: within: \"3601\" is not allowed"},
      {holdChecks("missing: {max: -1}"), "eol.yaml:5:48: max: \"-1\" is not allowed; write a whole number"},
      {holdChecks("missing: {max: 1.5}"), "eol.yaml:5:48: max: \"1.5\" is not allowed"},
      {step("run: {speed: 310}"),
       "eol.yaml:5:18: speed: 310 rpm is above the motor's maximum, 300 rpm behind its gearhead (max-speed 3000, "
       "ratio 10)"},
      {step("run: {speed: 1}"), "eol.yaml:5:18: speed: 1 rpm would send no motion: the controller's speed step is 6"},
      {top + "motor: {encoder: 2, max-speed: 3000, ratio: 1e-310}\n",
       "eol.yaml:4:45: ratio: \"1e-310\" refused by the motor panel: too small"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text.substr(0, 200)); // a file-sized text told by its start
    const std::string refusal = Refusal([&] { TSequenceFile::Parse(c.Text, "eol.yaml"); });
    EXPECT_NE(refusal.find(c.Says), std::string::npos) << refusal;
  }
}

// A bus gives each controller an answer every max(0.5 s, a round): holds and limits too short for it are refused
// before anything is sent, with the shortest that works.
TEST(SequenceFile, RefusesWhatItsBusCannotMeasure)
{
  const std::string counter = Head + "  - hold: {seconds: 1.5, checks: [counter: {tolerance: 5%}]}\n";
  const std::string direction = Head + "  - hold: {seconds: 2, checks: [direction: {settle: 1}]}\n";
  const std::string reach = Head + "  - run: {speed: 60, checks: [reach: {within: 1.2}]}\n";
  const std::string standstill = Head + "  - stop: {checks: [standstill: {within: 1.9}]}\n";
  const struct {
    const std::string& Text;
    std::size_t Controllers;
    const char* Says;
  } cases[] = {
      {counter, 1, "taken"},
      {counter, 8, "taken"},
      {counter, 12, "taken"},
      {counter, 13, "eol.yaml:5:5: hold: 1.5 s leaves the counter check too few answers on a bus of 13 controllers, "
                    "each asked every 0.8109 s: the shortest hold that works is 1.7 s"},
      {counter, 20, "the shortest hold that works is 2.5 s"},
      {direction, 2, "taken"},
      {direction, 9, "eol.yaml:5:5: hold: 2 s leaves the direction check too few answers on a bus of 9"},
      {reach, 19, "taken"},
      {reach, 20, "eol.yaml:5:31: reach: within 1.2 s cannot be measured on a bus of 20 controllers: the limit must "
                  "be at least 1.3 s"},
      {standstill, 30, "taken"},
      {standstill, 32, "eol.yaml:5:21: standstill: within 1.9 s cannot be measured on a bus of 32 controllers"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text + " on " + std::to_string(c.Controllers));
    const TSequence sequence = TSequenceFile::Parse(c.Text, "eol.yaml");
    const std::optional<std::string> refusal = TSequenceTiming(c.Controllers, {}).Refusal(sequence);
    EXPECT_NE(refusal.value_or("taken").find(c.Says), std::string::npos) << refusal.value_or("taken");
  }
}

// The motor from a parameter file beside the sequence; the file's bytes hashed as read.
TEST(SequenceFile, LoadsAFileAndTheParametersBesideIt)
{
  TTempDir folder;
  ASSERT_EQ(TParameterFile::Save(folder.Path() + "/bench.par", {"$05", "100", "2400", "12.5"}, TWorkFields{}),
            std::nullopt);
  const std::string path = folder.Path() + "/eol.yaml";
  const std::string text = "name: t\ncontrollers: 3\nparameters: bench.par\nsteps: [stop]\n";
  std::ofstream(path) << text;
  const TSequence sequence = TSequenceFile::Load(path);
  const TMotorFields& motor = sequence.Motor;
  EXPECT_EQ((std::vector{motor.Address, motor.Encoder, motor.MaxSpeed, motor.GearRatio}),
            (std::vector<std::string>{"0", "100", "2400", "12.5"}));
  EXPECT_EQ((std::pair{sequence.File, sequence.Sha256}), (std::pair{path, TSha256::Of(text)}));

  std::ofstream(path, std::ios::app) << std::string(TSequenceFile::MaxFileBytes, '#');
  EXPECT_EQ(Refusal([&] { TSequenceFile::Load(path); }),
            "Cannot read " + path + ": over 1024 KiB, not a test sequence");
  EXPECT_EQ(Refusal([&] { TSequenceFile::Load(folder.Path()); }), "Cannot read " + folder.Path() + ": Is a directory");
}

TEST(SequenceFile, TakesTheExamples)
{
  for (const char* name : {"end-of-line.yaml", "endurance.yaml"}) {
    SCOPED_TRACE(name);
    EXPECT_NO_THROW(TSequenceFile::Load(std::string(OZMET_SOURCE_DIR "/examples/") + name));
  }
}

} // namespace

#include "OzmetCtlFixture.h"
#include "Unplug.h"

#include <thread>

namespace {

struct TCutCase {
  const char* Name;
  int Signal;
  std::vector<std::string> Simulator; // its faults
  const char* After;                  // the simulator's line that the signal waits for
  bool RunWent;                       // the Run reached the controller before the signal
  std::vector<std::string> Extra{};   // more options of the run
  const char* Says = "";              // on standard output or error
  const char* Script = nullptr;       // the script run instead, from standard input
  bool Timed = true;                  // the run has --for
  std::vector<std::string> Instead{}; // another command line than the run's
};

// The simulator's options for a bus of controllers 1 to `last`.
std::vector<std::string> BusOf(int last)
{
  std::vector<std::string> options;
  for (int address = 1; address <= last; ++address)
    options.insert(options.end(), {"--address", std::to_string(address)});
  return options;
}

void PrintTo(const TCutCase& c, std::ostream* out)
{
  *out << c.Name;
}

class OzmetCtlCut : public OzmetCtl, public ::testing::WithParamInterface<TCutCase> {};

// A timed Run cut short the way a script's run is (Ctrl+C, kill, an SSH session that drops, a reader
// that went away), at each phase: the frames not yet sent stay unsent, and once the Run went, the
// motor is stopped before ozmetctl ends, never left running. The exit status names the signal.
TEST_P(OzmetCtlCut, NeverLeavesTheMotorRunning)
{
  const TCutCase& c = GetParam();
  StartSim(c.Simulator);
  std::vector<std::string> arguments{"run", "--speed", "600"};
  if (c.Timed)
    arguments.insert(arguments.end(), {"--for", "10"});
  arguments.insert(arguments.end(), c.Extra.begin(), c.Extra.end());
  if (c.Script)
    arguments = {"script", "-"};
  auto ctl = Ctl(c.Instead.empty() ? arguments : c.Instead);
  if (c.Script) {
    ASSERT_TRUE(ctl->WriteStdin(c.Script));
    ctl->CloseStdin();
  }
  ASSERT_TRUE(Sim->WaitForOutput(1, c.After, 60s)) << Sim->Stderr(); // sixty controllers' commands take a while
  ctl->Signal(c.Signal);
  EXPECT_EQ(ctl->WaitForExit(), 128 + c.Signal);
  ctl->WaitForOutput(0, Never);
  ctl->WaitForOutput(1, Never);
  EXPECT_NE((ctl->Stdout() + ctl->Stderr()).find(c.Says), std::string::npos) << ctl->Stdout() << ctl->Stderr();
  const std::vector<std::string> frames = FramesReceived();
  const std::vector<std::string> codes = Codes(frames);
  EXPECT_EQ(StopFollowsRun(codes), c.RunWent) << ctl->Stderr();
  EXPECT_TRUE(EveryRunStopped(frames)) << ctl->Stderr();
  if (!c.RunWent) {
    EXPECT_EQ(std::count(codes.begin(), codes.end(), "51"), 0) << "the frames after the interrupt were not sent";
  }
}

const TCutCase CutCases[] = {
    {"SigintWhileSending", SIGINT, {"--delay", "200"}, "rx E6 00 A5", false},
    {"SigtermWhileSending", SIGTERM, {"--delay", "200"}, "rx E6 00 A6", false},
    {"SigintWhileRunning", SIGINT, {}, "rx E6 00 51", true},
    {"SigtermWhileRunning", SIGTERM, {}, "rx E6 00 51", true},
    {"SighupWhileRunning", SIGHUP, {}, "rx E6 00 51", true},
    {"SigpipeWhileRunning", SIGPIPE, {}, "rx E6 00 51", true},
    {"SighupWhileTheRunIsAnswered", SIGHUP, {"--late-once", "51:250"}, "rx E6 00 51", true},
    {"SigintWhileTheRunIsAnswered", SIGINT, {"--delay", "200"}, "rx E6 00 51", true},
    {"SigtermWhileTheRunIsAnswered", SIGTERM, {"--delay", "200"}, "rx E6 00 51", true},
    {"SigintWhileAnUntimedRunIsAnswered", SIGINT, {"--delay", "200"}, "rx E6 00 51", true, {}, "", nullptr, false},
    // The speed's answer leaves the controller: the signal lands in the pause before the Run.
    {"SigintInThePauseBeforeTheRun", SIGINT, {}, "tx 00 A3", false},
    {"SigintAndTheStopUnanswered", SIGINT, {"--late-once", "52:600"}, "rx E6 00 51", true, {"--retries", "0"},
     "sent once: the motor may still run"},
    {"SigintWhileAListRuns", SIGINT, {"--address", "0", "--address", "7"}, "rx E6 07 51", true,
     {"--address", "0,7"}, "$07: stopped"},
    {"SigintInAScriptsWatchAfterItsRun", SIGINT, {}, "rx E6 00 50", true, {}, "the script was cut short",
     "run --speed 600\nwatch --interval 50\n"},
    // A test's hold cut short: each controller is ABORTED and stopped.
    {"SigintDuringATestsHold", SIGINT, {"--address", "0", "--address", "7"}, "rx E6 07 50", true, {}, "$07: ABORTED",
     nullptr, true, {"test", "{folder}/long.yaml", "--address", "0,7"}},
    {"SigtermDuringATestsHold", SIGTERM, {"--address", "0", "--address", "7"}, "rx E6 07 50", true, {},
     "$00: ABORTED", nullptr, true, {"test", "{folder}/long.yaml", "--address", "0,7"}},
    {"SighupDuringATestsHold", SIGHUP, {"--address", "0", "--address", "7"}, "rx E6 07 50", true, {},
     "Long: ABORTED: hung up (SIGHUP)", nullptr, true, {"test", "{folder}/long.yaml", "--address", "0,7"}},
    {"SigtermDuringATestOfSixty", SIGTERM, BusOf(60), "rx E6 3C 51", true, {}, "$3C: ABORTED", nullptr, true,
     {"test", "{folder}/long.yaml", "--address", "1-60"}},
};

INSTANTIATE_TEST_SUITE_P(Phases, OzmetCtlCut, testing::ValuesIn(CutCases),
                         [](const testing::TestParamInfo<TCutCase>& info) { return info.param.Name; });

struct TFaultCase {
  const char* Name;
  std::vector<std::string> Simulator;
  std::vector<std::string> Arguments;
  int Exit;
  std::size_t Stops; // Stop frames received
  const char* Says;
  const char* Recorded = ""; // in the record of a test, with --record {folder}/records
};

void PrintTo(const TFaultCase& c, std::ostream* out)
{
  *out << c.Name;
}

class OzmetCtlFaults : public OzmetCtl, public ::testing::WithParamInterface<TFaultCase> {};

// A Run whose answer went missing or came damaged may still have reached the controller: Stop goes
// out, and again while it is not answered.
TEST_P(OzmetCtlFaults, StopsAfterARunThatMayHaveReachedTheController)
{
  const TFaultCase& c = GetParam();
  StartSim(c.Simulator);
  auto ctl = Ctl(c.Arguments);
  EXPECT_EQ(ctl->WaitForExit(20s), c.Exit);
  ctl->WaitForOutput(0, Never);
  ctl->WaitForOutput(1, Never);
  EXPECT_NE((ctl->Stdout() + ctl->Stderr()).find(c.Says), std::string::npos) << ctl->Stdout() << ctl->Stderr();
  EXPECT_NE(RecordWritten().find(c.Recorded), std::string::npos) << RecordWritten();
  const std::vector<std::string> codes = Codes(FramesReceived());
  EXPECT_EQ(static_cast<std::size_t>(std::count(codes.begin(), codes.end(), "52")), c.Stops);
  if (c.Stops > 0) {
    EXPECT_TRUE(StopFollowsRun(codes));
  }
}

const TFaultCase FaultCases[] = {
    {"RunAnswerMissing", {"--late-once", "51:600"}, {"run", "--speed", "600", "--for", "1"}, 1, 1,
     "no answer to run (51)"},
    {"RunAnswerDamaged", {"--drop-byte", "5"}, {"run", "--speed", "600"}, 1, 1, "bad checksum in the answer to run"},
    {"StopAnsweredAtTheSecondTry", {"--late-once", "52:600"}, {"run", "--speed", "600", "--for", "1"}, 0, 2,
     "no answer to stop (52) from $00 on "},
    // The answer's wire time counts as the request's: 300 baud and a controller that takes 250 ms.
    {"SlowLineAndSlowController", {"--baud", "300", "--delay", "250"}, {"status", "--baud", "300"}, 0, 0, ""},
    // Only failures in a row end a watch.
    {"WatchPastScatteredBadAnswers", {"--corrupt-every", "2"},
     {"watch", "--count", "6", "--interval", "1", "--max-failures", "2"}, 0, 0, "(3 missed)"},
    {"StopNeverAnswered", {"--late-once", "52:600"}, {"run", "--speed", "600", "--for", "1", "--retries", "0"}, 1, 1,
     "sent once: the motor may still run"},
    // Once every controller has failed, the steps left are skipped and the motor is stopped at once, once.
    {"TestOfAMotorThatStaysSlow", {"--address", "0:max-rps=2"},
     {"--json", "test", "{folder}/hold.yaml", "--record", "{folder}/records"}, 1, 1,
     "\"why\":\"not within 30 rpm of 600 rpm (last 120 rpm), limit 2 s\"}]}",
     "\"verdict\":\"SKIPPED\",\"why\":\"skipped: every controller had failed\""},
    // Each controller its own verdict: a slow one, a sound one, one that does not answer.
    {"TestOfThreeControllers", {"--address", "0:max-rps=2", "--address", "7"},
     {"test", "{folder}/hold.yaml", "--address", "0,7,8"}, 1, 2,
     "is outside 582..618 rpm\n$07: PASS\n$08: FAIL: no answer to set encoder pulses (A2) from $08\n"},
};

INSTANTIATE_TEST_SUITE_P(Faults, OzmetCtlFaults, testing::ValuesIn(FaultCases),
                         [](const testing::TestParamInfo<TFaultCase>& info) { return info.param.Name; });

// A timed run waits its time before the Stop and then for standstill: the last state told is speed 0.
TEST_F(OzmetCtl, TimedRunStopsAfterItsTimeAndEndsAtStandstill)
{
  StartSim({});
  auto ctl = Ctl({"run", "--speed", "600", "--for", "1", "--json"});
  ASSERT_EQ(ctl->WaitForExit(20s), 0);
  ctl->WaitForOutput(0, Never);
  const std::vector<std::string> lines = Lines(ctl->Stdout());
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("\"output_speed_rpm\":0,"), std::string::npos) << lines.back();
  FramesReceived();
  // The simulator logs "HH:MM:SS.mmm rx ...": the Stop leaves at least a second after the Run.
  const auto timeOf = [&](const std::string& frame) {
    const std::string& log = Sim->Stderr();
    const std::size_t at = log.rfind('\n', log.find(" rx " + frame)) + 1;
    return std::stod(log.substr(at + 6, 6)) + 60 * std::stod(log.substr(at + 3, 2));
  };
  EXPECT_GE(timeOf(Hex(Command(0, CmdStop, 0))) - timeOf(Hex(Command(0, CmdRun, 0))), 1.0);
}

// A reader of the output that goes away mid-run cuts the run at once, as the SIGPIPE of the next write
// would: the motor is stopped and the status is a closed output's.
TEST_F(OzmetCtl, ClosedOutputCutsATimedRunAtOnce)
{
  StartSim({});
  TChildProcess pipeline("/bin/bash", {"-c", "set -o pipefail; '" + Program +
                                                 "' run --speed 600 --for 20 | head -c 1 >/dev/null"});
  EXPECT_EQ(pipeline.WaitForExit(), 128 + SIGPIPE) << pipeline.Stderr();
  EXPECT_TRUE(StopFollowsRun(Codes(FramesReceived())));
}

// A bench held by a timed run is stopped from a second terminal: the run is asked to end (it stops
// the motor on that way out), then the second ozmetctl sends its own Stop and says both.
TEST_F(OzmetCtl, StopTakesOverTheLineFromARunningOzmetctl)
{
  StartSim({});
  auto run = Ctl({"run", "--speed", "600", "--for", "3600"});
  ASSERT_TRUE(Sim->WaitForOutput(1, "rx " + Hex(Command(0, CmdRun, 0))));
  auto stop = Ctl({"stop"});
  EXPECT_EQ(stop->WaitForExit(), 0) << stop->Stderr();
  EXPECT_EQ(run->WaitForExit(), 128 + SIGTERM);
  stop->WaitForOutput(0, Never);
  EXPECT_NE(stop->Stdout().find("ozmetctl (pid "), std::string::npos) << stop->Stdout();
  EXPECT_NE(stop->Stdout().find("was asked to end and ended; $00: stopped, Stop answered"), std::string::npos);
  const std::vector<std::string> codes = Codes(FramesReceived());
  EXPECT_EQ(std::count(codes.begin(), codes.end(), "52"), 2) << "the run's own Stop and the second one";
}

// The line gone under a timed run is said at once, not at the run's end; the line that comes back
// (the simulator again behind the same link, as an adapter plugged in again) gets the Stop.
TEST_F(OzmetCtl, LineLostUnderATimedRunIsSaidAndGetsItsStopWhenItComesBack)
{
  StartSim({});
  auto run = Ctl({"run", "--speed", "600", "--for", "20"});
  ASSERT_TRUE(Sim->WaitForOutput(1, "rx " + Hex(Status(0))));
  Unplug(Data + "/COM1");
  Sim = nullptr;
  ASSERT_TRUE(run->WaitForOutput(1, "the motor may still be running")) << run->Stderr();
  StartSim({});
  EXPECT_EQ(run->WaitForExit(), 1);
  run->WaitForOutput(1, Never);
  EXPECT_NE(run->Stderr().find("the Stop was answered once the line was open again"), std::string::npos)
      << run->Stderr();
  EXPECT_EQ(FramesReceived(), std::vector<std::string>{Hex(Command(0, CmdStop, 0))});
}

// The line gone under a script's watch, after its run: the way out opens it again until it comes back (an adapter
// plugged in again 0.3 s later) and gets its Stop answered, rather than giving up at the first write that fails.
TEST_F(OzmetCtl, LineLostUnderAScriptGetsTheWayOutsStopWhenItComesBack)
{
  StartSim({});
  auto script = Ctl({"script", "-"});
  ASSERT_TRUE(script->WriteStdin("run --speed 600\nwatch --interval 50\n"));
  script->CloseStdin();
  ASSERT_TRUE(Sim->WaitForOutput(1, "rx " + Hex(Status(0))));
  Unplug(Data + "/COM1");
  Sim = nullptr;
  std::this_thread::sleep_for(300ms); // the stimulus: the device is away this long
  StartSim({});
  EXPECT_EQ(script->WaitForExit(), 1);
  script->WaitForOutput(0, Never);
  script->WaitForOutput(1, Never);
  EXPECT_NE(script->Stdout().find("$00: stopped"), std::string::npos) << script->Stdout() << script->Stderr();
  EXPECT_EQ(script->Stderr().find("may still run"), std::string::npos) << script->Stderr();
  EXPECT_EQ(FramesReceived(), std::vector<std::string>{Hex(Command(0, CmdStop, 0))});
}

// Another program reading the same device takes answers away: said before anything else, the
// simulator (the far end of the pseudo-terminal) never named.
TEST_F(OzmetCtl, ADeviceSharedWithAnotherProgramIsSaid)
{
  StartSim({});
  auto status = Ctl({"status", "--json"});
  EXPECT_EQ(status->WaitForExit(), 0);
  status->WaitForOutput(1, Never);
  EXPECT_EQ(status->Stderr(), "");
  TChildProcess other("/bin/sh", {"-c", "exec 3<>" + Device + "; echo held; exec sleep 30"});
  ASSERT_TRUE(other.WaitForOutput(0, "held"));
  auto shared = Ctl({"status", "--json"});
  shared->WaitForExit();
  shared->WaitForOutput(0, Never);
  EXPECT_NE(shared->Stdout().find("{\"kind\":\"shared\""), std::string::npos) << shared->Stdout();
  EXPECT_NE(shared->Stdout().find("is also open in sleep (pid "), std::string::npos) << shared->Stdout();
}

} // namespace

#include "OzmetCtlFixture.h"

namespace {

// A --json object's "time" as milliseconds of its day.
std::int64_t MillisecondsOf(const std::string& object)
{
  static const std::regex Time(R"("time":"[0-9-]+T(\d\d):(\d\d):(\d\d)\.(\d{3})Z")");
  std::smatch match;
  if (!std::regex_search(object, match, Time))
    return -1;
  return ((std::stoll(match[1]) * 60 + std::stoll(match[2])) * 60 + std::stoll(match[3])) * 1000 + std::stoll(match[4]);
}

// The whole bus: the sound controllers at both ends and between, and one whose answers are corrupted,
// listed as such. Each that answered is asked once more before it is listed. The timeout leaves a
// loaded machine some margin; standard error is no terminal, so no progress line is written there.
TEST_F(OzmetCtl, ScanFindsExactlyTheSoundControllers)
{
  StartSim({"--address", "0", "--address", "7", "--address", "254", "--address", "9", "--corrupt-address", "9"});
  auto ctl = Ctl({"scan", "--json", "--timeout-ms", "50"});
  ASSERT_EQ(ctl->WaitForExit(60s), 0);
  ctl->WaitForOutput(0, Never);
  ctl->WaitForOutput(1, Never);
  EXPECT_EQ(ctl->Stderr(), "");
  EXPECT_EQ(StatusAddresses(ctl->Stdout()), (std::set<int>{0, 7, 254}));
  // Each controller stamped with the time of its own answer: 254 answered seconds after 0.
  std::map<int, std::int64_t> answered;
  for (const std::string& line : Lines(ctl->Stdout()))
    if (line.starts_with(R"({"kind":"status")"))
      answered[*StatusAddresses(line).begin()] = MillisecondsOf(line);
  EXPECT_GT((answered[254] - answered[0] + 86'400'000) % 86'400'000, 5000) << ctl->Stdout();
  EXPECT_NE(ctl->Stdout().find(R"("from":0,"to":254,"found":[0,7,254],"bad_checksum":[9],"interrupted":false})"),
            std::string::npos)
      << ctl->Stdout();
  std::vector<std::string> expected;
  for (int address = 0; address <= 254; ++address)
    for (int times = 0; times < (address == 0 || address == 7 || address == 9 || address == 254 ? 2 : 1); ++times)
      expected.push_back(Hex(Status(static_cast<std::uint8_t>(address))));
  EXPECT_EQ(FramesReceived(), expected);
}

struct TLateScanCase {
  const char* Name;
  std::vector<std::string> Simulator;
  std::vector<std::string> Scan;
  std::set<int> Found;
};

void PrintTo(const TLateScanCase& c, std::ostream* out)
{
  *out << c.Name;
}

class OzmetCtlLateScan : public OzmetCtl, public ::testing::WithParamInterface<TLateScanCase> {};

// Answers carry no address: a late answer taken for the next address's is no controller there, and
// the address that owed it is asked again, so every controller that answers within the protocol's
// time is found once, with no phantom beside it.
TEST_P(OzmetCtlLateScan, FindsEachLateControllerWhereItIs)
{
  const TLateScanCase& c = GetParam();
  StartSim(c.Simulator);
  std::vector<std::string> arguments{"scan", "--json"};
  arguments.insert(arguments.end(), c.Scan.begin(), c.Scan.end());
  auto ctl = Ctl(arguments);
  ASSERT_EQ(ctl->WaitForExit(60s), 0) << ctl->Stderr();
  ctl->WaitForOutput(0, Never);
  EXPECT_EQ(StatusAddresses(ctl->Stdout()), c.Found) << ctl->Stdout();
}

const TLateScanCase LateScanCases[] = {
    {"TwoLatePastAShortWait",
     {"--address", "1", "--address", "2", "--delay", "95"},
     {"--from", "0", "--to", "4", "--timeout-ms", "30"},
     {1, 2}},
    {"OneAnswering100msLate", {"--address", "5", "--delay", "100"}, {"--from", "0", "--to", "10"}, {5}},
    {"OneAnswering100msLatePastAShortWait",
     {"--address", "5", "--delay", "100"},
     {"--from", "0", "--to", "10", "--timeout-ms", "20"},
     {5}},
    {"OneAnswering290msLate", {"--address", "9", "--delay", "290"}, {"--from", "0", "--to", "15"}, {9}},
    {"MixedBus",
     {"--address", "5:delay=100", "--address", "6", "--address", "9:delay=290", "--address", "200:jitter=250"},
     {"--from", "0", "--to", "210"},
     {5, 6, 9, 200}},
    {"MixedBusPastAShortWait",
     {"--address", "5:delay=100", "--address", "6", "--address", "9:delay=290", "--address", "200:jitter=250"},
     {"--from", "0", "--to", "210", "--timeout-ms", "25"},
     {5, 6, 9, 200}},
};

INSTANTIATE_TEST_SUITE_P(Scans, OzmetCtlLateScan, testing::ValuesIn(LateScanCases),
                         [](const testing::TestParamInfo<TLateScanCase>& info) { return info.param.Name; });

// Cut short, a scan says the range it covered, marks itself so, and exits with the signal's status;
// what it found is no list of the bus, so none is saved.
TEST_F(OzmetCtl, InterruptedScanTellsWhatItCovered)
{
  StartSim({"--address", "3"});
  auto ctl = Ctl({"scan", "--json", "--save"});
  ASSERT_TRUE(Sim->WaitForOutput(1, "rx " + Hex(Status(20))));
  ctl->Signal(SIGINT);
  EXPECT_EQ(ctl->WaitForExit(), 130);
  ctl->WaitForOutput(0, Never);
  const std::vector<std::string> frames = FramesReceived();
  ASSERT_FALSE(frames.empty());
  const int last = std::stoi(frames.back().substr(3, 2), nullptr, 16);
  EXPECT_NE(ctl->Stdout().find(R"("from":0,"to":)" + std::to_string(last) +
                               R"(,"found":[3],"bad_checksum":[],)"
                               R"("interrupted":true})"),
            std::string::npos)
      << ctl->Stdout();
  ctl->WaitForOutput(1, Never);
  EXPECT_NE(ctl->Stderr().find("only; the bus list was not saved"), std::string::npos) << ctl->Stderr();
  EXPECT_FALSE(std::filesystem::exists(BusListPath()));
}

// The Stop frames among the frames received, in order.
std::vector<std::string> Stops(const std::vector<std::string>& frames)
{
  std::vector<std::string> stops;
  std::copy_if(frames.begin(), frames.end(), std::back_inserter(stops),
               [](const std::string& frame) { return frame.substr(6, 2) == "52"; });
  return stops;
}

// The bench's story: a scan keeps the controllers that answered as the line's list (the labels the
// window gave them kept, the one that went silent dropped), and stop --all-found stops that list; a
// controller added back by hand that stays silent gets its Stop once more after the others.
TEST_F(OzmetCtl, ScanSavesTheBusListThatStopAllFoundStops)
{
  StartSim({"--address", "1", "--address", "2:silent", "--address", "3"});
  std::filesystem::create_directories(Data);
  std::ofstream(Data + "/bus") << "a file where the folder belongs";
  auto refused = Ctl({"scan", "--to", "4", "--save", "--json"});
  EXPECT_EQ(refused->WaitForExit(), 1);
  refused->WaitForOutput(1, Never);
  EXPECT_NE(refused->Stderr().find("the bus list was not saved: Cannot write " + BusListPath()), std::string::npos)
      << refused->Stderr();
  std::filesystem::remove(Data + "/bus");

  KeepBusList("3\tpump\n2\tfan\n");
  auto scan = Ctl({"scan", "--to", "4", "--save", "--json"});
  ASSERT_EQ(scan->WaitForExit(), 0) << scan->Stderr();
  scan->WaitForOutput(0, Never);
  scan->WaitForOutput(1, Never);
  EXPECT_NE(scan->Stderr().find("bus list saved: 2 controllers in " + BusListPath()), std::string::npos)
      << scan->Stderr();
  EXPECT_NE(scan->Stdout().find(R"("found":[1,3],"bad_checksum":[],"interrupted":false,"bus_list":")" + BusListPath() +
                                "\"}"),
            std::string::npos)
      << scan->Stdout();
  EXPECT_EQ(TBusListFile(Data, Device).Load().Text(), "# The controllers of this line: address, tab, label.\n"
                                                      "1\t\n3\tpump\n");

  EXPECT_EQ(Ctl({"stop", "--all-found"})->WaitForExit(), 0);
  std::ofstream(BusListPath(), std::ios::app) << "2\tfan\n";
  auto stop = Ctl({"stop", "--all-found"});
  EXPECT_EQ(stop->WaitForExit(), 1);
  stop->WaitForOutput(0, Never);
  EXPECT_EQ(stop->Stdout(), "$01: stopped\n$03: stopped\n");
  EXPECT_EQ(Stops(FramesReceived()),
            (std::vector<std::string>{Hex(Command(1, CmdStop, 0)), Hex(Command(3, CmdStop, 0)),
                                      Hex(Command(1, CmdStop, 0)), Hex(Command(3, CmdStop, 0)),
                                      Hex(Command(2, CmdStop, 0)), Hex(Command(2, CmdStop, 0))}));
}

// Two controllers, each driving a unit of its own: a record set for each, named by its serial and
// holding its controller alone, both with the run's id.
TEST_F(OzmetCtl, TestOfTwoUnitsRecordsEachOnItsOwn)
{
  StartSim({"--address", "1", "--address", "2"});
  auto ctl = Ctl({"test", "{folder}/short.yaml", "--address", "1,2", "--unit", "1=SN-A", "--unit", "$02=SN-B",
                  "--record", "{folder}/records", "--store", "{folder}/records.sqlite"});
  ASSERT_EQ(ctl->WaitForExit(30s), 0) << ctl->Stderr();
  ctl->WaitForOutput(0, Never);
  EXPECT_NE(ctl->Stdout().find("$01 (SN-A): PASS\n$02 (SN-B): PASS\nShort: PASS\n$01 record: "), std::string::npos)
      << ctl->Stdout();
  EXPECT_NE(ctl->Stdout().find("-SN-B-Short.html\n$02 lines: "), std::string::npos) << ctl->Stdout();

  const std::map<std::string, std::string> records = RecordsWritten();
  ASSERT_EQ(records.size(), 2u);
  std::set<std::string> ids;
  for (const auto& [address, serial] : {std::pair{1, "SN-A"}, std::pair{2, "SN-B"}}) {
    const auto found = std::find_if(records.begin(), records.end(), [&](const auto& r) {
      return r.first.ends_with("-" + std::string(serial) + "-Short.json");
    });
    ASSERT_NE(found, records.end()) << serial;
    const std::string& record = found->second;
    EXPECT_NE(record.find("\"unit\":\"" + std::string(serial) + "\","), std::string::npos) << record;
    EXPECT_NE(record.find("\"controllers\":[{\"address\":" + std::to_string(address) + ","), std::string::npos);
    EXPECT_EQ(record.find("\"address\":" + std::to_string(3 - address) + ","), std::string::npos) << record;
    std::smatch id;
    ASSERT_TRUE(std::regex_search(record, id, std::regex(R"re("run_id":"([0-9a-f-]{36})")re"))) << record;
    ids.insert(id[1]);
  }
  EXPECT_EQ(ids.size(), 1u) << "one run, one id";
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(Folder.Path() + "/records"))
    ++files;
  EXPECT_EQ(files, 8u) << "a .jsonl, .csv, .json and .html for each unit";

  // The store holds the run once, each unit with its record; importing the records again adds nothing.
  auto show = Ctl({"records", "show", "SN-B", "--store", "{folder}/records.sqlite", "--json"});
  ASSERT_EQ(show->WaitForExit(10s), 0) << show->Stderr();
  show->WaitForOutput(0, Never);
  EXPECT_NE(show->Stdout().find("\"unit\":\"SN-B\",\"address\":2,\"verdict\":\"PASS\",\"sequence\":\"Short\""),
            std::string::npos)
      << show->Stdout();
  EXPECT_NE(show->Stdout().find("-SN-B-Short.json\",\"failed\":[]}"), std::string::npos) << show->Stdout();
  EXPECT_NE(show->Stdout().find(*ids.begin()), std::string::npos) << "the run's id";
  auto import = Ctl({"records", "import", "{folder}/records", "--store", "{folder}/records.sqlite"});
  ASSERT_EQ(import->WaitForExit(10s), 0) << import->Stderr();
  import->WaitForOutput(0, Never);
  EXPECT_EQ(import->Stdout(), "2 records read: 0 units stored, 2 already there, 0 refused\n");
  auto csv = Ctl({"records", "export", "--csv", "--unit", "SN-A", "--store", "{folder}/records.sqlite"});
  ASSERT_EQ(csv->WaitForExit(10s), 0) << csv->Stderr();
  csv->WaitForOutput(0, Never);
  EXPECT_TRUE(std::regex_search(
      csv->Stdout(), std::regex("^run_id,start,sequence,station,operator,unit,address,verdict,why,record\n" +
                                *ids.begin() + ",[^,]+,Short,[^,]*,[^,]*,SN-A,1,PASS,,/[^,]+-SN-A-Short\\.json\n$")))
      << csv->Stdout();
}

// Each step reaches the disk as it ends, not at the run's end: its line in the .jsonl synced before the next line
// is written, and the samples before it in the .csv synced before the next step's line. Seen in the system calls,
// under strace where the machine lets it trace.
TEST_F(OzmetCtl, TestRecordIsSyncedStepByStep)
{
  if (std::system("strace -qq -o /dev/null true >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "strace is missing or may not trace here";
  StartSim({});
  const std::string trace = Folder.Path() + "/trace";
  TChildProcess ctl("/usr/bin/env", {"strace", "-qq", "-y", "-e", "trace=write,fsync,fdatasync", "-o", trace, Program,
                                     "test", Folder.Path() + "/hold.yaml", "--record", Folder.Path() + "/records"});
  const std::optional<int> exit = ctl.WaitForExit(30s);
  ASSERT_TRUE(exit == 0 || exit == 1) << ctl.Stderr(); // a verdict, whichever: strace slows it
  std::ifstream calls(trace);
  std::vector<std::string> jsonl; // "write" or "sync", in order, for the .jsonl; "csv" where the .csv was synced
  for (std::string line; std::getline(calls, line);) {
    const bool synced = line.starts_with("fsync(") || line.starts_with("fdatasync(");
    if (line.find(".jsonl>") != std::string::npos && (synced || line.starts_with("write(")))
      jsonl.push_back(synced ? "sync" : "write");
    else if (line.find(".csv>") != std::string::npos && synced)
      jsonl.push_back("csv");
  }
  std::vector<std::string> lines; // what came between each write and the next
  for (const std::string& call : jsonl)
    if (call == "write")
      lines.emplace_back();
    else if (!lines.empty())
      lines.back() += lines.back().find(call) == std::string::npos ? call + " " : "";
  ASSERT_GE(lines.size(), 3u) << "the run's line, a step's, the end's";
  if (exit == 0) {
    EXPECT_EQ(lines.size(), 6u) << "the run's line, four steps' (the motor's set-up first), the end's";
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_NE(lines[i].find("sync"), std::string::npos) << "line " << i << " never synced";
    if (i >= 1 && i + 1 < lines.size()) {
      EXPECT_NE(lines[i].find("csv"), std::string::npos) << "the samples of step " << i << " not synced with it";
    }
  }
}

struct TWatchSpacing {
  const char* Name;
  int IntervalMs;
};

void PrintTo(const TWatchSpacing& c, std::ostream* out)
{
  *out << c.Name;
}

class OzmetCtlWatchSpacing : public OzmetCtl, public ::testing::WithParamInterface<TWatchSpacing> {};

// A watch of four controllers asks each one every --interval, or as often as the line lets four
// exchanges (about 58 ms each at 9600 baud: the pause and two frames) follow one another: each
// controller's requests, as the simulator received them, are spaced so.
TEST_P(OzmetCtlWatchSpacing, AsksEachControllerEveryIntervalOrAsOftenAsTheLineAllows)
{
  constexpr int Controllers = 4, Rounds = 5, ExchangeMs = 58;
  StartSim({"--address", "1", "--address", "2", "--address", "3", "--address", "4"});
  auto ctl = Ctl({"watch", "--address", "1-4", "--interval", std::to_string(GetParam().IntervalMs), "--count",
                  std::to_string(Rounds)});
  ASSERT_EQ(ctl->WaitForExit(30s), 0) << ctl->Stderr();
  FramesReceived();                               // every request logged
  std::map<int, std::vector<std::int64_t>> asked; // by address, ms of the day
  static const std::regex Request(R"(^(\d\d):(\d\d):(\d\d)\.(\d{3}) rx E6 0([1-4]) 50 )");
  for (const std::string& line : Lines(Sim->Stderr()))
    if (std::smatch match; std::regex_search(line, match, Request))
      asked[std::stoi(match[5])].push_back(
          ((std::stoll(match[1]) * 60 + std::stoll(match[2])) * 60 + std::stoll(match[3])) * 1000 +
          std::stoll(match[4]));
  const double expected = std::max(GetParam().IntervalMs, Controllers * ExchangeMs);
  ASSERT_EQ(asked.size(), std::size_t{Controllers}) << Sim->Stderr();
  for (const auto& [address, times] : asked) {
    ASSERT_EQ(times.size(), std::size_t{Rounds}) << address;
    for (std::size_t i = 1; i < times.size(); ++i) {
      const auto spacing = (times[i] - times[i - 1] + 86'400'000) % 86'400'000; // past midnight
      EXPECT_GT(spacing, 0.8 * expected) << "$0" << address << ", request " << i;
      EXPECT_LT(spacing, 1.5 * expected) << "$0" << address << ", request " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Watch, OzmetCtlWatchSpacing,
                         testing::Values(TWatchSpacing{"EveryInterval", 600},
                                         TWatchSpacing{"AsOftenAsTheLineAllows", 1},
                                         TWatchSpacing{"LineBoundAboveTheInterval", 150}),
                         [](const testing::TestParamInfo<TWatchSpacing>& info) { return info.param.Name; });

TEST_F(OzmetCtl, SetAddressMovesTheControllerWhoseButtonIsPressed)
{
  StartSim({});
  auto ctl = Ctl({"set-address", "$2A"});
  ASSERT_TRUE(ctl->WaitForOutput(1, "Press the button"));
  ASSERT_TRUE(Sim->WriteStdin("button\n"));
  ASSERT_TRUE(Sim->WaitForOutput(1, "command button"));
  ASSERT_TRUE(ctl->WriteStdin("\n"));
  ASSERT_EQ(ctl->WaitForExit(), 0);
  EXPECT_EQ(Ctl({"status", "--address", "42"})->WaitForExit(), 0);
  EXPECT_EQ(Ctl({"status", "--address", "0"})->WaitForExit(), 1);
}

// Standard input at its end, as under cron, systemd or CI, does not cut the wait short: the button
// pressed a second later still counts, and success is told only once the controller answers there.
TEST_F(OzmetCtl, SetAddressWaitsOutItsTimeWithStandardInputAtItsEnd)
{
  StartSim({});
  auto ctl = Ctl({"set-address", "$2A", "--wait", "3"});
  ctl->CloseStdin();
  ASSERT_TRUE(ctl->WaitForOutput(1, "Press the button"));
  ASSERT_TRUE(Sim->WaitForOutput(1, "rx " + Hex(Command(BroadcastAddress, CmdAddressSetBegin, 0x2A))));
  ASSERT_FALSE(ctl->WaitForExit(1s)) << "still waiting a second later";
  ASSERT_TRUE(Sim->WriteStdin("button\n"));
  EXPECT_EQ(ctl->WaitForExit(), 0) << ctl->Stderr();
  ctl->WaitForOutput(0, Never);
  EXPECT_NE(ctl->Stdout().find("address $2A given"), std::string::npos);
}

TEST_F(OzmetCtl, InterruptedSetAddressEndsTheProcedureAndSaysSo)
{
  StartSim({});
  auto ctl = Ctl({"set-address", "$2A"});
  ASSERT_TRUE(ctl->WaitForOutput(1, "Press the button"));
  ctl->Signal(SIGINT);
  EXPECT_EQ(ctl->WaitForExit(), 130);
  ctl->WaitForOutput(1, Never);
  EXPECT_NE(ctl->Stderr().find("the address procedure was ended early"), std::string::npos) << ctl->Stderr();
  EXPECT_EQ(FramesReceived().back(), Hex(Command(BroadcastAddress, CmdAddressSetEnd, 0x2A)));
  EXPECT_EQ(ctl->Stdout(), "");
}

} // namespace

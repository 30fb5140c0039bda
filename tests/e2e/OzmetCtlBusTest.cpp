#include "OzmetCtlFixture.h"

namespace {

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
    {"TwoLatePastAShortWait", {"--address", "1", "--address", "2", "--delay", "95"},
     {"--from", "0", "--to", "4", "--timeout-ms", "30"}, {1, 2}},
    {"OneAnswering100msLate", {"--address", "5", "--delay", "100"}, {"--from", "0", "--to", "10"}, {5}},
    {"OneAnswering100msLatePastAShortWait", {"--address", "5", "--delay", "100"},
     {"--from", "0", "--to", "10", "--timeout-ms", "20"}, {5}},
    {"OneAnswering290msLate", {"--address", "9", "--delay", "290"}, {"--from", "0", "--to", "15"}, {9}},
    {"MixedBus", {"--address", "5:delay=100", "--address", "6", "--address", "9:delay=290", "--address",
                  "200:jitter=250"}, {"--from", "0", "--to", "210"}, {5, 6, 9, 200}},
    {"MixedBusPastAShortWait", {"--address", "5:delay=100", "--address", "6", "--address", "9:delay=290",
                                "--address", "200:jitter=250"}, {"--from", "0", "--to", "210", "--timeout-ms", "25"},
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
  EXPECT_NE(ctl->Stdout().find(R"("from":0,"to":)" + std::to_string(last) + R"(,"found":[3],"bad_checksum":[],)"
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
  EXPECT_NE(scan->Stdout().find(R"("found":[1,3],"bad_checksum":[],"interrupted":false,"bus_list":")" +
                                BusListPath() + "\"}"),
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

#include "OzmetCtlFixture.h"

namespace {

struct TCtlCase {
  const char* Name;
  std::vector<std::string> Arguments; // {device}: the simulator's device; {file}: the parameter file
  std::vector<TBytes> Frames;         // as the simulator receives them
  int Exit;
  const char* Says = "";         // on standard error
  bool ThenPolls = false;        // status requests to address 0 come between and after, until the motor stands still
  const char* Prints = "";       // on standard output
  const char* BusList = nullptr; // the line's bus list as the window keeps it; none without
  const char* Recorded = "";     // in the record of a test, with --record {folder}/records
};

void PrintTo(const TCtlCase& c, std::ostream* out)
{
  *out << c.Name;
}

class OzmetCtlCommands : public OzmetCtl, public ::testing::WithParamInterface<TCtlCase> {};

// Controllers at 0, 7 and 9 on the line; 9's answers all carry a bad checksum.
TEST_P(OzmetCtlCommands, SendsTheWindowsFramesAndTellsTheOutcome)
{
  const TCtlCase& c = GetParam();
  StartSim({"--address", "0", "--address", "7", "--address", "9", "--corrupt-address", "9"});
  if (c.BusList)
    KeepBusList(c.BusList);
  auto ctl = Ctl(c.Arguments);
  ASSERT_EQ(ctl->WaitForExit(30s), c.Exit);
  ctl->WaitForOutput(0, Never);
  ctl->WaitForOutput(1, Never);
  EXPECT_NE(ctl->Stderr().find(c.Says), std::string::npos) << ctl->Stderr();
  EXPECT_NE(RecordWritten().find(c.Recorded), std::string::npos) << RecordWritten();

  EXPECT_NE(ctl->Stdout().find(c.Prints), std::string::npos) << ctl->Stdout();

  std::vector<std::string> frames = FramesReceived();
  std::vector<std::string> expected;
  for (const TBytes& frame : c.Frames)
    expected.push_back(Hex(frame));
  if (c.ThenPolls) {
    const std::size_t all = frames.size();
    std::erase(frames, Hex(Status(0)));
    EXPECT_GT(all, frames.size()) << "no status requests";
  }
  EXPECT_EQ(frames, expected);

  if (std::find(c.Arguments.begin(), c.Arguments.end(), "--json") == c.Arguments.end())
    return;
  EXPECT_FALSE(ctl->Stdout().empty());
  for (const std::string& line : Lines(ctl->Stdout()))
    EXPECT_TRUE(IsJsonObject(line)) << line;
}

const std::vector<TCtlCase> Cases = {
    {"StatusAtTheStoredPort", {"status"}, {Status(0)}, 0},
    {"StopAtPortNumberAndHexAddress", {"--port", "1", "stop", "--address", "$07"}, {Command(7, CmdStop, 0)}, 0},
    {"DirectionOnTheDevice",
     {"--device", "{device}", "--json", "direction", "backward"},
     {Command(0, CmdSetDirection, 1)},
     0},
    {"SetMotorRoundsTheSpeed",
     {"set-motor", "--encoder", "100", "--max-speed", "4010", "--json"},
     {Command(0, CmdSetEncoder, 100), Command(0, CmdSetMaxSpeed, 67)},
     0},
    {"RunWithTheWindowsDefaults",
     {"run", "--speed", "1000"},
     {Command(0, CmdSetAccel, 24), Command(0, CmdSetDecel, 24), Command(0, CmdSetDirection, 0),
      Command(0, CmdSetSpeed, 17), Command(0, CmdRun, 0)},
     0},
    {"RunKeepsBelowTheMaximumAtTheRatio",
     {"run", "--speed", "100", "--ratio", "10", "--max-speed", "1000", "--accel", "5", "--decel", "$0A", "--direction",
      "backward", "--address", "7"},
     {Command(7, CmdSetAccel, 5), Command(7, CmdSetDecel, 10), Command(7, CmdSetDirection, 1),
      Command(7, CmdSetSpeed, 16), Command(7, CmdRun, 0)},
     0},
    {"RunFromAParameterFile",
     {"run", "--parameters", "{file}"},
     {Command(7, CmdSetAccel, 12), Command(7, CmdSetDecel, 6), Command(7, CmdSetDirection, 1),
      Command(7, CmdSetSpeed, 10), Command(7, CmdRun, 0)},
     0},
    {"OptionsWinOverTheFile",
     {"run", "--parameters", "{file}", "--speed", "600", "--address", "0"},
     {Command(0, CmdSetAccel, 12), Command(0, CmdSetDecel, 6), Command(0, CmdSetDirection, 1),
      Command(0, CmdSetSpeed, 20), Command(0, CmdRun, 0)},
     0},
    {"SetMotorFromAParameterFile",
     {"set-motor", "--parameters", "{file}"},
     {Command(7, CmdSetEncoder, 2), Command(7, CmdSetMaxSpeed, 67)},
     0},
    {"TimedRunStopsAndWaitsForStandstill",
     {"run", "--speed", "600", "--for", "1", "--json"},
     {Command(0, CmdSetAccel, 24), Command(0, CmdSetDecel, 24), Command(0, CmdSetDirection, 0),
      Command(0, CmdSetSpeed, 10), Command(0, CmdRun, 0), Command(0, CmdStop, 0)},
     0,
     "",
     true,
     "\"polls\":1,\"missed\":0}"},
    {"WatchCounts",
     {"watch", "--count", "3", "--interval", "1", "--address", "7"},
     {Status(7), Status(7), Status(7)},
     0},
    {"SetAddressNobodyPressed",
     {"set-address", "$20", "--wait", "1"},
     {Status(0x20), Command(BroadcastAddress, CmdAddressSetBegin, 0x20),
      Command(BroadcastAddress, CmdAddressSetEnd, 0x20), Status(0x20)},
     1,
     "no controller answers at $20 after"},
    {"SetAddressWhereAControllerAnswers", {"set-address", "7"}, {Status(7)}, 2, "already answers at $07"},
    {"SetAddressForcedWhereAControllerAnswers",
     {"set-address", "7", "--wait", "1", "--force"},
     {Status(7), Command(BroadcastAddress, CmdAddressSetBegin, 7), Command(BroadcastAddress, CmdAddressSetEnd, 7)},
     0,
     "Press the button"},
    // Each address that answers is asked again with the whole answer time before it is listed.
    {"ScanListsABadChecksum",
     {"scan", "--from", "6", "--to", "10", "--json"},
     {Status(6), Status(7), Status(7), Status(8), Status(9), Status(9), Status(10)},
     0},
    {"NoAnswer",
     {"status", "--address", "8", "--json"},
     {Status(8)},
     1,
     "no answer to the status request (50) from $08 on /tmp/",
     false,
     "\"exit\":1"},
    {"NoAnswerNamesTheLinkThenTheDevice", {"status", "--address", "8"}, {Status(8)}, 1, "/Data/COM1 (/dev/pts/"},
    {"BadChecksum", {"status", "--address", "9"}, {Status(9)}, 1, "bad checksum in the answer to the status request"},
    {"NothingAfterAnUnansweredFrame",
     {"run", "--speed", "100", "--address", "8"},
     {Command(8, CmdSetAccel, 24)},
     1,
     "no answer to set acceleration (A5) from $08"},
    {"ScanFindingNone", {"scan", "--from", "1", "--to", "2"}, {Status(1), Status(2)}, 1, "no controller answered"},
    {"RoundedSpeedIsSaid",
     {"run", "--speed", "29"},
     {Command(0, CmdSetAccel, 24), Command(0, CmdSetDecel, 24), Command(0, CmdSetDirection, 0),
      Command(0, CmdSetSpeed, 0), Command(0, CmdRun, 0)},
     0,
     "speed 29 rpm asked, 0 rpm sent"},
    {"RoundedMaximumIsSaid",
     {"set-motor", "--encoder", "2", "--max-speed", "1000"},
     {Command(0, CmdSetEncoder, 2), Command(0, CmdSetMaxSpeed, 17)},
     0,
     "maximum speed 1000 rpm asked, 1020 rpm sent"},
    {"StrictRefusesAClampedSpeed", {"run", "--speed", "4001", "--strict"}, {}, 2, "--strict refuses it"},
    // The window's one step down leaves a speed above the maximum: said, and what the frame carries.
    {"SpeedAboveTheMaximumIsSaid",
     {"run", "--speed", "5000"},
     {Command(0, CmdSetAccel, 24), Command(0, CmdSetDecel, 24), Command(0, CmdSetDirection, 0),
      Command(0, CmdSetSpeed, 82), Command(0, CmdRun, 0)},
     0,
     "speed 5000 rpm asked, 4920 rpm sent (82 rev/s of the motor: above the maximum speed of 67 rev/s"},
    {"OutputSpeedRoundedAtTheRatio",
     {"run", "--speed", "100", "--ratio", "12.5", "--max-speed", "15000", "--json"},
     {Command(0, CmdSetAccel, 24), Command(0, CmdSetDecel, 24), Command(0, CmdSetDirection, 0),
      Command(0, CmdSetSpeed, 21), Command(0, CmdRun, 0)},
     0,
     "100 rpm asked, 100.8 rpm sent",
     false,
     "\"output_speed_rpm\":100.8,"},
    {"StrictRefusesARoundingAtTheRatio",
     {"run", "--speed", "100", "--ratio", "12.5", "--max-speed", "15000", "--strict"},
     {},
     2,
     "100 rpm asked, 100.8 rpm sent"},
    // run sends no maximum: nothing is said of it, and --strict has nothing to refuse.
    {"RunSaysNothingOfAMaximumItDoesNotSend",
     {"run", "--speed", "600", "--max-speed", "4000", "--strict"},
     {Command(0, CmdSetAccel, 24), Command(0, CmdSetDecel, 24), Command(0, CmdSetDirection, 0),
      Command(0, CmdSetSpeed, 10), Command(0, CmdRun, 0)},
     0},
    {"StrictSetMotorSendsNothing",
     {"set-motor", "--encoder", "2", "--max-speed", "1000", "--strict"},
     {},
     2,
     "--strict refuses it"},
    {"WatchCsvRowsForEveryRequest",
     {"watch", "--csv", "--count", "2", "--interval", "1", "--address", "8"},
     {Status(8), Status(8)},
     1,
     "no sound answer",
     false,
     "time,address,output_speed_rpm,motor_speed_rps,feedback,direction,count,total,overflow,answer\n"},
    {"WatchCsvMissedRow",
     {"watch", "--csv", "--count", "1", "--address", "9"},
     {Status(9)},
     1,
     "",
     false,
     ",9,,,,,,,,bad-checksum\n"},
    {"CsvOrJson", {"watch", "--csv", "--json"}, {}, 2, "--csv and --json: give one of them"},
    // A list of controllers: the frames go to each in turn, one result each, the worst status.
    {"StatusOfAList", {"status", "--address", "0,7", "--json"}, {Status(0), Status(7)}, 0, "", false, "\"address\":7,"},
    {"StatusOfARangeWithAFailingOne",
     {"status", "--address", "6-8"},
     {Status(6), Status(7), Status(8)},
     1,
     "2 of 3 controllers failed"},
    {"StopOfAList",
     {"stop", "--address", "$07,0", "--retries", "0"},
     {Command(7, CmdStop, 0), Command(0, CmdStop, 0)},
     0},
    // A Stop unanswered (nobody at 8, a bad checksum from 9) goes again after the others, a round each.
    {"StopOfAListSendsTheUnansweredAgainAfterTheOthers",
     {"stop", "--address", "8,7", "--json"},
     {Command(8, CmdStop, 0), Command(7, CmdStop, 0), Command(8, CmdStop, 0)},
     1,
     "no answer to the Stop from $08: sending it again after the others",
     false,
     "\"address\":7,\"sent\":1}"},
    {"StopOfAListInRounds",
     {"stop", "--address", "9,8,0", "--retries", "2"},
     {Command(9, CmdStop, 0), Command(8, CmdStop, 0), Command(0, CmdStop, 0), Command(9, CmdStop, 0),
      Command(8, CmdStop, 0), Command(9, CmdStop, 0), Command(8, CmdStop, 0)},
     1,
     "no answer to stop (52) from $08 on /tmp/",
     false,
     "$00: stopped\n"},
    {"AllFoundStopsTheKeptListInItsOrder",
     {"stop", "--all-found"},
     {Command(7, CmdStop, 0), Command(8, CmdStop, 0), Command(0, CmdStop, 0), Command(8, CmdStop, 0)},
     1,
     "sent 2 times: the motor may still run",
     false,
     "$07: stopped\n$00: stopped\n",
     "# by the window\n7\tpump\n8\tfan\n0\n"},
    {"AllFoundWithoutAList", {"stop", "--all-found"}, {}, 2, "Data/bus/%2Fdev%2Fpts%2F"},
    {"AllFoundWithAnEmptyList",
     {"stop", "--all-found"},
     {},
     2,
     "names no controller; 'ozmetctl scan --save'",
     false,
     "",
     "# nobody yet\n"},
    {"AllFoundBesideAnAddress", {"stop", "--all-found", "--address", "7"}, {}, 2, "give one of them", false, "", "7\n"},
    {"AllFoundOnlyForStop", {"status", "--all-found"}, {}, 2, "--all-found does not apply to status"},
    {"ScanSavesNoListWhereNoneAnswered",
     {"scan", "--from", "1", "--to", "2", "--save"},
     {Status(1), Status(2)},
     1,
     "no controller answered soundly on $01..$02; the bus list was not saved"},
    {"RunOfAList",
     {"run", "--speed", "600", "--address", "0,7"},
     {Command(0, CmdSetAccel, 24), Command(0, CmdSetDecel, 24), Command(0, CmdSetDirection, 0),
      Command(0, CmdSetSpeed, 10), Command(0, CmdRun, 0), Command(7, CmdSetAccel, 24), Command(7, CmdSetDecel, 24),
      Command(7, CmdSetDirection, 0), Command(7, CmdSetSpeed, 10), Command(7, CmdRun, 0)},
     0},
    {"SetMotorOfARange",
     {"set-motor", "--encoder", "2", "--max-speed", "3000", "--address", "0-1"},
     {Command(0, CmdSetEncoder, 2), Command(0, CmdSetMaxSpeed, 50), Command(1, CmdSetEncoder, 2)},
     1,
     "no answer to set encoder pulses (A2) from $01"},
    {"WatchInTurn",
     {"watch", "--count", "2", "--interval", "1", "--address", "0,7"},
     {Status(0), Status(7), Status(0), Status(7)},
     0},
    {"AddressRangeBackwards", {"status", "--address", "5-2"}, {}, 2, "\"5-2\" is no range of addresses"},
    {"AddressListWithAnEmptyItem", {"status", "--address", "1,"}, {}, 2, "has an empty item"},
    {"AddressListItemOutOfRange", {"stop", "--address", "1,300"}, {}, 2, "--address: \"300\""},
    {"DirectionTakesOneController",
     {"direction", "forward", "--address", "1,2"},
     {},
     2,
     "direction takes one controller"},
    {"NonUtf8DeviceUnderJson",
     {"--device", "/dev/\xff\xfe", "status", "--json"},
     {},
     3,
     "",
     false,
     "/dev/\\u00ff\\u00fe"},
    {"WatchGoesOnPastBadAnswersThenGivesUp",
     {"watch", "--interval", "1", "--address", "9", "--max-failures", "3"},
     {Status(9), Status(9), Status(9)},
     1,
     "bad checksum in the answer to the status request (50) from $09"},
    {"WatchCountedWithoutOneSoundAnswer",
     {"watch", "--interval", "1", "--address", "8", "--count", "2", "--json"},
     {Status(8), Status(8)},
     1,
     "no sound answer"},
    {"ShortOptionsAndTheEndOfOptions", {"-q", "-v", "--", "status"}, {Status(0)}, 0, " tx $E6$00$50"},
    {"StopRetriedAtAnotherAddress",
     {"stop", "--address", "8", "--retries", "1"},
     {Command(8, CmdStop, 0), Command(8, CmdStop, 0)},
     1,
     "sent 2 times: the motor may still run"},
    {"SpeedAboveTheMotors", {"run", "--speed", "20000"}, {}, 2, "Try 'ozmetctl --help'."},
    {"OptionOfAnotherCommand", {"stop", "--speed", "3"}, {}, 2, "--speed does not apply to stop"},
    {"DevicesOpenNoPort", {"devices", "--port", "3"}, {}, 2, "--port does not apply to devices"},
    {"Rs485RefusedOnAPtyWithItsReason",
     {"--rs485", "status", "--json"},
     {Status(0)},
     0,
     "has none (a pseudo-terminal or a USB adapter, which switches direction itself)",
     false,
     "{\"kind\":\"status\","},
    {"Rs485IsNoOptionOfDevices", {"devices", "--rs485"}, {}, 2, "--rs485 does not apply to devices"},
    {"AddressOutOfRange", {"set-address", "255"}, {}, 2, "NEW: \"255\" is outside 0..254"},
    {"AccelerationOutOfRange", {"run", "--speed", "5", "--accel", "30"}, {}, 2, "--accel: \"30\" is outside 1..24"},
    {"UnknownCommand", {"spin"}, {}, 2, "unknown command"},
    {"LinkLeadingNowhere", {"--port", "5", "status"}, {}, 3, "links to /nonexistent/ttyUSB9, which is not there"},
    {"NotASerialDevice", {"--device", "/dev/null", "status", "--json"}, {}, 3, "/dev/null is not a serial device."},
    {"ADirectory", {"--device", "/tmp", "status"}, {}, 3, "/tmp is a directory, not a serial device."},
    {"EmptyDevice", {"--device", "", "status"}, {}, 2, "--device needs a device path"},
    {"RatioWithoutFiniteSpeeds", {"status", "--ratio", "1e-306"}, {}, 2, "--ratio: \"1e-306\" is too small"},
    {"NoTimeToPressTheButton", {"set-address", "5", "--wait", "0"}, {}, 2, "--wait: \"0\" is outside 1..3600"},
    {"RefusedUnderJson", {"spin", "--json"}, {}, 2, "unknown command"},
    {"UnknownShortOption", {"-x", "status"}, {}, 2, "unknown option -x"},
    // Each option's top value is taken (the port then fails: 3), one above it refused (2).
    {"TopPort", {"--port", "255", "status"}, {}, 3, "/dev/ttyS254"},
    {"AboveTopPort", {"--port", "256", "status"}, {}, 2, "--port: \"256\""},
    {"TopAddressScanned", {"--port", "5", "scan", "--to", "254"}, {}, 3, "ttyUSB9"},
    {"AboveTopAddressScanned", {"--port", "5", "scan", "--to", "255"}, {}, 2, "--to: \"255\""},
    {"TopBaud", {"--port", "5", "--baud", "115200", "status"}, {}, 3, "ttyUSB9"},
    {"AboveTopBaud", {"--port", "5", "--baud", "115201", "status"}, {}, 2, "--baud: \"115201\""},
    {"TopDataBits", {"--port", "5", "--data-bits", "8", "status"}, {}, 3, "ttyUSB9"},
    {"AboveTopDataBits", {"--port", "5", "--data-bits", "9", "status"}, {}, 2, "--data-bits: \"9\""},
    {"TestOfTheEndOfLineExample",
     {"test", OZMET_SOURCE_DIR "/examples/end-of-line.yaml", "--unit", "SN-1", "--record", "{folder}/records"},
     {Command(0, CmdSetEncoder, 2), Command(0, CmdSetMaxSpeed, 50), Command(0, CmdSetAccel, 10),
      Command(0, CmdSetDecel, 10), Command(0, CmdSetDirection, 0), Command(0, CmdSetSpeed, 10), Command(0, CmdRun, 0),
      Command(0, CmdSetDirection, 1), Command(0, CmdStop, 0)},
     0,
     "",
     true,
     "$00 (SN-1): PASS\nEnd-of-line: PASS\n$00 record: ",
     nullptr,
     "\"unit\":\"SN-1\",\"run_id\":\""},
    // A test's controllers are the file's unless --address names others.
    {"TestOnTheControllerOfItsAddressOption",
     {"test", "{folder}/short.yaml", "--address", "7", "--json"},
     {Command(7, CmdSetEncoder, 2), Command(7, CmdSetMaxSpeed, 50), Command(7, CmdSetAccel, 24),
      Command(7, CmdSetDecel, 24), Command(7, CmdSetDirection, 0), Command(7, CmdSetSpeed, 10), Command(7, CmdRun, 0),
      Command(7, CmdStop, 0)},
     0,
     "",
     false,
     "\"address\":7,\"verdict\":\"PASS\","},
    {"TestUnitSerialWithAnEscapeShownWrittenOut",
     {"test", "{folder}/short.yaml", "--unit", "SN\x1b[2J", "--json"},
     {Command(0, CmdSetEncoder, 2), Command(0, CmdSetMaxSpeed, 50), Command(0, CmdSetAccel, 24),
      Command(0, CmdSetDecel, 24), Command(0, CmdSetDirection, 0), Command(0, CmdSetSpeed, 10), Command(0, CmdRun, 0),
      Command(0, CmdStop, 0)},
     0,
     "",
     false,
     "\"unit\":\"SN\\\\x1b[2J\""},
    {"TestOfARefusedFileNamesItsPlace",
     {"test", "{folder}/bad.yaml"},
     {},
     2,
     "/bad.yaml:5:18: speed: \"20000\" refused"},
    {"TestOfHoldsTooShortForItsBus",
     {"test", "{folder}/hold.yaml", "--address", "1-20"},
     {},
     2,
     "/hold.yaml:6:5: hold: 1 s leaves the speed held check too few answers on a bus of 20 controllers, each asked "
     "every 1.247 s: the shortest hold that works is 1.8 s"},
    {"TestRefusedWhereItsRecordCannotBeWritten",
     {"test", "{folder}/short.yaml", "--record", "/proc/records"},
     {},
     2,
     "/proc/records"},
    {"TestOfARefusedAddress", {"test", "{folder}/short.yaml", "--address", "0,255"}, {}, 2, "--address: \"255\""},
    {"TestOnALineThatWillNotOpen", {"--port", "5", "test", "{folder}/short.yaml"}, {}, 3, "ttyUSB9"},
    {"TestHelpGivesTheFilesControllersAsDefault",
     {"test", "--help"},
     {},
     0,
     "",
     false,
     "decimal or $hex (the file's controllers)"},
    // A unit's serial for each controller of the test, each once: anything else sends nothing.
    {"TestUnitAloneOnSeveralControllers",
     {"test", "{folder}/short.yaml", "--address", "0,7", "--unit", "SN-1"},
     {},
     2,
     "--unit \"SN-1\": the test has 2 controllers ($00, $07): give each its serial as ADDRESS=SERIAL"},
    {"TestUnitTwiceForOneController",
     {"test", "{folder}/short.yaml", "--address", "0,7", "--unit", "0=SN-1", "--unit", "$00=SN-2"},
     {},
     2,
     "--unit \"$00=SN-2\": a second serial for $00"},
    {"TestUnitAloneTwice",
     {"test", "{folder}/short.yaml", "--unit", "SN-1", "--unit", "SN-2"},
     {},
     2,
     "--unit \"SN-2\": a second serial for $00"},
    {"TestUnitOfAControllerNotTested",
     {"test", "{folder}/short.yaml", "--address", "0,7", "--unit", "9=SN-1"},
     {},
     2,
     "--unit \"9=SN-1\": $09 is not one of the test's controllers ($00, $07)"},
    {"TestUnitWithoutItsAddress",
     {"test", "{folder}/short.yaml", "--unit", "=SN-1"},
     {},
     2,
     "--unit \"=SN-1\": \"\" is no address"},
    {"TestUnitAtNoAddress",
     {"test", "{folder}/short.yaml", "--unit", "255=SN-1"},
     {},
     2,
     "--unit \"255=SN-1\": \"255\" is no address"},
    {"TestUnitWithoutItsSerial",
     {"test", "{folder}/short.yaml", "--address", "0,7", "--unit", "$07="},
     {},
     2,
     "--unit \"$07=\": no serial after the address"},
    // The store's reports: each option checked against the report asked, before the store opens.
    {"RecordsOfAnUnknownReport", {"records", "tally"}, {}, 2, "\"tally\" is none of list, show, yield, cpk, import"},
    {"RecordsShowWithoutItsKey", {"records", "show"}, {}, 2, "records show needs a serial or a run id"},
    {"RecordsListWithAKey", {"records", "list", "SN-1"}, {}, 2, "unexpected argument \"SN-1\""},
    {"RecordsFilterOfAnotherReport",
     {"records", "yield", "--unit", "SN-1"},
     {},
     2,
     "--unit does not apply to records yield"},
    {"RecordsDateThatIsNone", {"records", "list", "--since", "yesterday"}, {}, 2, "--since: \"yesterday\" is no date"},
    {"RecordsOfANoPort", {"records", "list", "--port", "3"}, {}, 2, "--port does not apply to records"},
    {"RecordsExportWithoutItsFormat", {"records", "export"}, {}, 2, "records export needs --csv or --json"},
    {"RecordsSyncToAFile",
     {"records", "sync", "--store", "{folder}/r.sqlite"},
     {},
     2,
     "records sync sends to a postgresql:// store"},
    {"RecordsShowOfAUnitNeverTested",
     {"records", "show", "SN-9", "--store", "{folder}/r.sqlite"},
     {},
     1,
     "no run of \"SN-9\" in "},
    {"RecordsInAStoreThatCannotBeMade",
     {"records", "list", "--store", "/proc/records.sqlite"},
     {},
     1,
     "records store /proc/records.sqlite: cannot open it"},
    // A failure that concerns one controller names it for a script reading --json.
    {"FailureNamesItsController",
     {"status", "--address", "0,8", "--json"},
     {Status(0), Status(8)},
     1,
     "no answer to the status request (50) from $08",
     false,
     "\"address\":8,\"exit\":1}"},
};

INSTANTIATE_TEST_SUITE_P(Commands, OzmetCtlCommands, testing::ValuesIn(Cases),
                         [](const testing::TestParamInfo<TCtlCase>& info) { return info.param.Name; });

// Every option of run with a value it refuses, alone and beside --for: nothing reaches the line,
// whichever option comes last.
TEST_F(OzmetCtl, RefusedRunSendsNothing)
{
  StartSim({});
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"--retries", "11"}, "--retries: \"11\" is outside 0..10"},
      {{"--address", "255"}, "--address: \"255\""},
      {{"--accel", "0"}, "--accel: \"0\""},
      {{"--decel", "25"}, "--decel: \"25\""},
      {{"--direction", "up"}, "--direction: \"up\""},
      {{"--max-speed", "15001"}, "--max-speed: \"15001\""},
      {{"--ratio", "0"}, "--ratio: \"0\""},
      {{"--speed", "x"}, "--speed: \"x\""},
      {{"--parameters", "/nonexistent/motor.ini"}, "--parameters: "},
      {{"--baud", "1234"}, "--baud: \"1234\""},
      {{"--data-bits", "4"}, "--data-bits: \"4\""},
      {{"--parity", "big"}, "--parity: \"big\""},
      {{"--stop-bits", "3"}, "--stop-bits: \"3\""},
      {{"--port", "0"}, "--port: \"0\""},
      {{"--strict", "--speed", "4001"}, "--strict refuses it"},
  };
  for (const auto& [option, says] : refused)
    for (const bool timed : {false, true}) {
      std::vector<std::string> arguments{"run", "--speed", "600"};
      if (timed)
        arguments.insert(arguments.end(), {"--for", "1"});
      arguments.insert(arguments.end(), option.begin(), option.end());
      auto ctl = Ctl(arguments);
      EXPECT_EQ(ctl->WaitForExit(), 2) << option[0];
      ctl->WaitForOutput(1, Never);
      EXPECT_NE(ctl->Stderr().find(says), std::string::npos) << ctl->Stderr();
    }
  auto timedOut = Ctl({"run", "--speed", "600", "--for", "0"});
  EXPECT_EQ(timedOut->WaitForExit(), 2);
  EXPECT_EQ(FramesReceived(), std::vector<std::string>{});
}

TEST_F(OzmetCtl, WatchEndsCleanlyOnCtrlC)
{
  StartSim({});
  auto ctl = Ctl({"watch", "--interval", "50"});
  ASSERT_TRUE(ctl->WaitForOutput(0, "total 0\n$00: ")) << "a second answer: " << ctl->Stderr();
  ctl->Signal(SIGINT);
  EXPECT_EQ(ctl->WaitForExit(), 0);
  ctl->WaitForOutput(1, Never);
  EXPECT_EQ(ctl->Stderr(), "");
}

// Hostile sequence files of the whole size limit are refused under an address space of 1 GB, before anything is sent:
// every one is read within its bounds. A sanitizer's shadow memory needs far more address space than that.
TEST_F(OzmetCtl, HostileSequenceFilesAreRefusedWithinAGigabyte)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's shadow memory needs more address space than the limit";
#endif
  StartSim({});
  const std::size_t size = 1024 * 1024 - 16;
  std::string keys, aliases = "a0: &a0 [x, x, x, x, x, x, x, x, x]\n";
  for (int key = 0; keys.size() < size; ++key)
    keys += "k" + std::to_string(key) + ": 1\n";
  for (int level = 1; level < 12; ++level)
    aliases += "a" + std::to_string(level) + ": &a" + std::to_string(level) + " [*a" + std::to_string(level - 1) +
               ", *a" + std::to_string(level - 1) + "]\n";
  std::string blocks;
  for (int depth = 0; blocks.size() < size; ++depth)
    blocks += std::string(static_cast<std::size_t>(depth % 2000) * 2, ' ') + "- x:\n";
  const std::pair<const char*, std::string> files[] = {{"brackets", std::string(size, '[')},
                                                       {"braces", std::string(size, '{')},
                                                       {"keys", keys},
                                                       {"aliases", aliases + "name: *a11\n"},
                                                       {"blocks", blocks}};
  for (const auto& [name, text] : files) {
    const std::string path = Folder.Path() + "/" + name + ".yaml";
    std::ofstream(path) << text;
    TChildProcess ctl("/usr/bin/prlimit", {"--as=1073741824", "--", Program, "test", path});
    EXPECT_EQ(ctl.WaitForExit(), 2) << name << ": " << ctl.Stderr();
    ctl.WaitForOutput(1, Never);
    EXPECT_NE(ctl.Stderr().find(path + ":"), std::string::npos) << name << ": " << ctl.Stderr().substr(0, 300);
  }
  EXPECT_EQ(FramesReceived(), std::vector<std::string>{});
}

// One open port for the whole script; a failing line ends it unless --keep-going, and the exit
// status is the first failure's.
TEST_F(OzmetCtl, ScriptStopsAtTheFirstFailingLine)
{
  StartSim({});
  const std::string script = Folder.Path() + "/bench.txt";
  std::ofstream(script) << "# a bench's steps\nstatus\n\nstatus --address \"8\"   # nobody there\nstop\n";
  for (const bool keepGoing : {false, true}) {
    std::vector<std::string> arguments{"--device", "{device}", "script", script};
    if (keepGoing)
      arguments.push_back("--keep-going");
    auto ctl = Ctl(arguments);
    EXPECT_EQ(ctl->WaitForExit(10s), 1);
    ctl->WaitForOutput(1, Never);
    EXPECT_NE(ctl->Stderr().find("bench.txt line 4: no answer to the status request (50) from $08 on " + Device),
              std::string::npos)
        << ctl->Stderr();
    std::vector<std::string> expected{Hex(Status(0)), Hex(Status(8))};
    if (keepGoing)
      expected.push_back(Hex(Command(0, CmdStop, 0)));
    EXPECT_EQ(FramesReceived(), expected);
    Sim = nullptr;
    StartSim({});
  }
}

// The whole script is checked first: a line refused further down sends nothing at all, the Run
// above it included.
TEST_F(OzmetCtl, RefusedScriptSendsNothing)
{
  StartSim({});
  for (const std::string bad : {"status --retries 3", "run --speed 600 --for 1 --retries 11", "stop 'unclosed"}) {
    auto ctl = Ctl({"--device", "{device}", "script", "-"});
    ASSERT_TRUE(ctl->WriteStdin("run --speed 600\nstatus\n" + bad + "\n"));
    ctl->CloseStdin();
    EXPECT_EQ(ctl->WaitForExit(), 2);
    ctl->WaitForOutput(1, Never);
    EXPECT_NE(ctl->Stderr().find("- line 3: "), std::string::npos) << ctl->Stderr();
    EXPECT_EQ(ctl->Stderr().find("Try 'ozmetctl --help'"), std::string::npos) << ctl->Stderr();
  }
  EXPECT_EQ(FramesReceived(), std::vector<std::string>{});
}

TEST_F(OzmetCtl, ScriptLinesMayNotChooseAnotherPort)
{
  StartSim({});
  auto ctl = Ctl({"--device", "{device}", "script", "-"});
  ASSERT_TRUE(ctl->WriteStdin("status --port 3\n"));
  ctl->CloseStdin();
  EXPECT_EQ(ctl->WaitForExit(), 2);
  ctl->WaitForOutput(1, Never);
  EXPECT_NE(ctl->Stderr().find("- line 1: --port belongs before the script"), std::string::npos) << ctl->Stderr();
}

} // namespace

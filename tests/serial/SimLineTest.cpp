#include "SimLineFixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <optional>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace SimLineFixture;

// What the console does when it opens its port: every descriptor of the pty sees these settings.
void SetConsoleLine(const std::string& device, speed_t speed, bool twoStopBits = false)
{
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0) << device;
  termios tio{};
  EXPECT_EQ(::tcgetattr(fd, &tio), 0);
  ::cfsetspeed(&tio, speed);
  tio.c_cflag = twoStopBits ? (tio.c_cflag | CSTOPB) : (tio.c_cflag & ~static_cast<tcflag_t>(CSTOPB));
  EXPECT_EQ(::tcsetattr(fd, TCSANOW, &tio), 0);
  ::close(fd);
}

std::vector<TSimTraffic::TDirection> Directions(const std::vector<TSimTraffic>& traffic)
{
  std::vector<TSimTraffic::TDirection> directions;
  for (const TSimTraffic& entry : traffic)
    directions.push_back(entry.Direction);
  return directions;
}

TEST_F(TSimLineTest, StatusRequestAnsweredInTime)
{
  Open();
  const auto start = TClock::now();
  Send({0xE6, 0x00, 0x50, 0xDB});
  const TBytes answer = Client.ReadExactly(5, AnswerLimit);
  EXPECT_LT(TClock::now() - start, AnswerLimit);
  EXPECT_EQ(answer, IdleStatus(0));
  ExpectNothing();
}

TEST_F(TSimLineTest, EveryCommandAnsweredWithItsEcho)
{
  Open({0x21});
  const std::vector<std::pair<std::uint8_t, std::uint8_t>> commands = {
      {CmdRun, 0},          {CmdStop, 0},           {CmdSetEncoder, 4},   {CmdSetSpeed, 0x0A}, {CmdSetMaxSpeed, 80},
      {CmdSetAccel, 12},    {CmdSetDecel, 3},       {CmdSetDirection, 1}, {CmdAddressSetBegin, 0x21},
      {CmdAddressSetEnd, 0x21}};
  for (const auto& [command, value] : commands)
    EXPECT_EQ(Exchange(Command(0x21, command, value)), Sealed({0x21, command, value, 0x00}))
        << TOzmCommands::HexByte(command);
}

TEST_F(TSimLineTest, BroadcastsAndOtherAddressesGetNoAnswer)
{
  Open();
  // Whatever is read first must answer the status request written after the unanswered frame.
  for (const TBytes& unanswered : {Command(BroadcastAddress, CmdSetSpeed, 20), Command(BroadcastAddress, CmdStop),
                                   Status(BroadcastAddress), Command(7, CmdRun), Status(1)})
    EXPECT_EQ(Exchange(Join({unanswered, Status(0)})), IdleStatus(0));
  ExpectNothing();
}

TEST_F(TSimLineTest, TwoControllersAnswerAtTheirOwnAddresses)
{
  Open({0, 1});
  EXPECT_EQ(Exchange(Status(1)), IdleStatus(1));
  EXPECT_EQ(Exchange(Status(0)), IdleStatus(0));
  EXPECT_EQ(Exchange(Join({Command(1, CmdSetSpeed, 9), Status(0)}), 10),
            Join({Sealed({1, CmdSetSpeed, 9, 0}), IdleStatus(0)}));
  EXPECT_EQ(Exchange(Join({Command(BroadcastAddress, CmdSetAccel, 5), Status(1)})), IdleStatus(1));
  EXPECT_EQ(Line->Controllers().at(0).Settings().Acceleration, 5) << "both took the broadcast";
  EXPECT_EQ(Line->Controllers().at(1).Settings().Acceleration, 5);
}

TEST_F(TSimLineTest, StreamSplitOrJoinedOrAfterGarbage)
{
  Open();
  for (std::uint8_t byte : Status(0))
    Send({byte});
  EXPECT_EQ(Client.ReadExactly(5, Deadline), IdleStatus(0));
  EXPECT_EQ(Exchange(Join({Status(0), Command(0, CmdSetSpeed, 3)}), 10),
            Join({IdleStatus(0), Sealed({0, CmdSetSpeed, 3, 0})}));
  EXPECT_EQ(Exchange(Join({{0x00, 0x13, 0xE6, 0x77, 0xE6, 0x00, CmdSetSpeed}, Status(0)})), IdleStatus(0));
  EXPECT_EQ(Exchange(Join({{0xE6, 0x00, CmdRun, 0x00, 0x00}, Status(0)})), IdleStatus(0)) << "bad CRC ignored";
  ExpectNothing();
}

TEST_F(TSimLineTest, RunShowsRisingSpeedThenStopBringsItDown)
{
  Open();
  ASSERT_EQ(Exchange(Command(0, CmdSetSpeed, 10)).size(), 5u);
  ASSERT_EQ(Exchange(Command(0, CmdRun)).size(), 5u);
  auto pollUntil = [&](std::uint8_t speed, bool rising) {
    std::uint8_t last = rising ? 0 : 10;
    unsigned revolutions = 0;
    for (const auto deadline = TClock::now() + 3s; last != speed && TClock::now() < deadline;) {
      const TBytes answer = Exchange(Status(0));
      ASSERT_TRUE(CrcRight(answer));
      EXPECT_EQ(answer[1] & 0x10, 0) << "forward";
      EXPECT_TRUE(rising ? answer[3] >= last : answer[3] <= last);
      revolutions += (answer[1] & 0x0Fu) * 256u + answer[2];
      last = answer[3];
    }
    EXPECT_EQ(last, speed);
    EXPECT_GT(revolutions, 0u);
  };
  pollUntil(10, true);
  ASSERT_EQ(Exchange(Command(0, CmdStop)).size(), 5u);
  pollUntil(0, false);
}

TEST_F(TSimLineTest, AddressProcedureEndToEnd)
{
  Open({0, 1});
  EXPECT_FALSE(Line->PressButton()) << "nobody waits yet";
  Send(Command(BroadcastAddress, CmdAddressSetBegin, 5));
  ASSERT_TRUE(Line->WaitForFrames(1, Deadline)) << "the button is pressed once the line took the frame";
  EXPECT_FALSE(Line->PressButton(3));
  EXPECT_TRUE(Line->PressButton(1));
  EXPECT_EQ(Exchange(Status(1)), IdleStatus(1)) << "the old address holds until the end";
  EXPECT_EQ(Exchange(Join({Command(BroadcastAddress, CmdAddressSetEnd, 5), Status(1), Status(5)})), IdleStatus(5));
  EXPECT_EQ(Exchange(Status(0)), IdleStatus(0)) << "the one not pressed stays";
}

// What the console reads for each status request in turn: the length, and whether the CRC is right.
struct TExpectedAnswer {
  std::size_t Length;
  bool CrcGood = true;
};

struct TFaultCase {
  const char* Name;
  TSimFaults Faults;
  std::vector<TExpectedAnswer> Answers;
};

void PrintTo(const TFaultCase& c, std::ostream* out)
{
  *out << c.Name;
}

class TSimLineFaultTest : public TSimLineTest, public testing::WithParamInterface<TFaultCase> {};

TEST_P(TSimLineFaultTest, MisbehavesThenRecoversWhenSwitchedOff)
{
  Open();
  Line->SetFaults(GetParam().Faults);
  for (const TExpectedAnswer& expected : GetParam().Answers) {
    if (expected.Length == 0) {
      Send(Status(0));
      ExpectNothing();
      continue;
    }
    const TBytes answer = Exchange(Status(0), expected.Length);
    ASSERT_EQ(answer.size(), expected.Length);
    EXPECT_EQ(answer[0], 0) << "answers stay aligned";
    if (expected.Length >= 5) {
      EXPECT_EQ(CrcRight(answer), expected.CrcGood);
    }
  }
  Line->SetFaults({});
  EXPECT_EQ(Exchange(Status(0)), IdleStatus(0));
  ExpectNothing();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, TSimLineFaultTest,
    testing::Values(TFaultCase{"Silent", {.Silent = true}, {{0}, {0}}},
                    TFaultCase{"SilentToStatus", {.SilentToStatus = true}, {{0}}},
                    TFaultCase{"CorruptEveryThird", {.CorruptEvery = 3}, {{5}, {5}, {5, false}, {5}, {5}, {5, false}}},
                    TFaultCase{"CorruptThisAddress", {.CorruptAddress = 0}, {{5, false}, {5, false}}},
                    TFaultCase{"CorruptAnotherAddress", {.CorruptAddress = 7}, {{5}, {5}}},
                    TFaultCase{"DropByteOfSecond", {.DropByteAt = 2}, {{5}, {4}, {5}, {5}}},
                    TFaultCase{"ExtraByteOnFirst", {.ExtraByteAt = 1}, {{6}, {5}, {5}}},
                    TFaultCase{"Jitter", {.JitterMs = 40}, {{5}, {5}, {5}}}),
    [](const testing::TestParamInfo<TFaultCase>& info) { return info.param.Name; });

TEST_F(TSimLineTest, SilentToStatusStillAnswersCommands)
{
  Open();
  Line->SetFaults({.SilentToStatus = true});
  EXPECT_EQ(Exchange(Join({Status(0), Command(0, CmdSetSpeed, 4)})), Sealed({0, CmdSetSpeed, 4, 0}));
}

TEST_F(TSimLineTest, DelayedAnswersKeepTheLineResponsive)
{
  Open();
  Line->SetFaults({.DelayMs = 200});
  const auto start = TClock::now();
  const TBytes answers = Exchange(Join({Status(0), Status(0), Status(0)}), 15);
  const auto elapsed = TClock::now() - start;
  EXPECT_EQ(answers, Join({IdleStatus(0), IdleStatus(0), IdleStatus(0)}));
  EXPECT_GE(elapsed, 200ms);
  EXPECT_LT(elapsed, 500ms) << "answers are queued, not slept through one by one";
}

TEST_F(TSimLineTest, LateOnceDelaysOnlyTheNextAnswerToItsCode)
{
  Open();
  Line->SetFaults({.LateOnceCommand = CmdSetSpeed, .LateOnceMs = 300});
  const TBytes frames = Join({Status(0), Command(0, CmdSetSpeed, 3), Status(0)});
  const TBytes echo = Sealed({0, CmdSetSpeed, 3, 0});
  EXPECT_EQ(Exchange(frames, 15), Join({IdleStatus(0), IdleStatus(0), echo})) << "the late one is overtaken";
  EXPECT_EQ(Exchange(frames, 15), Join({IdleStatus(0), echo, IdleStatus(0)})) << "once";
  EXPECT_EQ(Line->Faults(), TSimFaults{});
}

TEST_F(TSimLineTest, StrayByteComesAloneAfterTheNthAnswer)
{
  Open();
  Line->SetFaults({.StrayByteAfter = 2});
  EXPECT_EQ(Exchange(Status(0)), IdleStatus(0));
  ExpectNothing();
  EXPECT_EQ(Exchange(Status(0)), IdleStatus(0));
  EXPECT_EQ(Client.ReadAvailable(Deadline), TBytes{0x55});
  EXPECT_EQ(Exchange(Status(0)), IdleStatus(0));
  ExpectNothing();
  Line->Close();
  const auto traffic = Line->Traffic();
  using enum TSimTraffic::TDirection;
  ASSERT_EQ(Directions(traffic), (std::vector{Received, Sent, Received, Sent, Sent, Received, Sent}));
  EXPECT_EQ(traffic[4].Bytes, TBytes{0x55}) << "a transmission of its own";
}

// The controller's own rate, as a UART: the answer comes a byte at a time, never before the request and
// the answer could have been through the wire.
TEST_F(TSimLineTest, AnswerLeavesByteByByteAtTheLineRate)
{
  const struct {
    TSimLineSettings Line;
    speed_t Speed;
    int BitsPerByte;
  } cases[] = {{{.Baud = 300}, B300, 10}, {{.Baud = 300, .StopBits = 2}, B300, 11}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line.Text());
    Open({0}, c.Line);
    SetConsoleLine(Line->DevicePath(), c.Speed, c.Line.StopBits == 2);
    const auto wireTime = [&](int bytes) { return std::chrono::microseconds(1s) * bytes * c.BitsPerByte / 300; };
    const auto written = TClock::now();
    Send(Status(0));
    TBytes answer;
    std::vector<TClock::time_point> reads;
    while (answer.size() < 5) {
      const TBytes part = Client.ReadAvailable(Deadline);
      ASSERT_FALSE(part.empty());
      answer.insert(answer.end(), part.begin(), part.end());
      reads.push_back(TClock::now());
    }
    EXPECT_EQ(answer, IdleStatus(0));
    EXPECT_GT(reads.size(), 1u) << "not all at once";
    EXPECT_GE(reads.front(), written + wireTime(4 + 1));
    EXPECT_GE(reads.back(), written + wireTime(4 + 5));
    EXPECT_GE(Line->Traffic().at(0).Time, written + wireTime(4)) << "received once through";
  }
}

// Over a UART, ends whose settings differ hear garbage; the controller stays silent and says why.
TEST_F(TSimLineTest, ConsoleLineMustMatchTheControllers)
{
  const struct {
    const char* Name;
    speed_t ConsoleSpeed;
    bool ConsoleTwoStopBits;
    TSimLineSettings Controller;
    std::string Garbled; // empty when answered
  } cases[] = {
      {"Same", B9600, false, {}, ""},
      {"ConsoleSlower", B4800, false, {}, "line at 4800 8N1 but the controller listens at 9600 8N1: heard garbage"},
      {"BothSlower", B4800, false, {.Baud = 4800}, ""},
      {"ConsoleTwoStopBits", B9600, true, {}, "line at 9600 8N2 but the controller listens at 9600 8N1: heard garbage"},
      {"BothTwoStopBits", B9600, true, {.StopBits = 2}, ""},
      {"ParityAPtyCannotCarry", B9600, false, {.Parity = TSimParity::Even},
       "line at 9600 8N1 but the controller listens at 9600 8E1: heard garbage"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Open({0}, c.Controller);
    SetConsoleLine(Line->DevicePath(), c.ConsoleSpeed, c.ConsoleTwoStopBits);
    if (c.Garbled.empty()) {
      EXPECT_EQ(Exchange(Status(0)), IdleStatus(0));
      continue;
    }
    Send(Status(0));
    ExpectNothing();
    const auto traffic = Line->Traffic();
    ASSERT_EQ(Directions(traffic), std::vector{TSimTraffic::TDirection::Garbled});
    EXPECT_EQ(traffic[0].Bytes, Status(0));
    EXPECT_EQ(traffic[0].Note, c.Garbled);
    EXPECT_EQ(Line->FramesReceived(), 0u);
  }
  // A frame begun at the wrong rate is garbage all of it; the next whole frame at the right rate is answered.
  Open();
  SetConsoleLine(Line->DevicePath(), B4800);
  Send({FrameMarker, 0x00, CmdGetStatus});
  for (const auto deadline = TClock::now() + Deadline; Line->Traffic().empty() && TClock::now() < deadline;)
    std::this_thread::sleep_for(1ms);
  SetConsoleLine(Line->DevicePath(), B9600);
  Send({Status(0).back()});
  ExpectNothing();
  EXPECT_EQ(Exchange(Status(0)), IdleStatus(0));
}

TEST_F(TSimLineTest, HangUpAfterFramesIsSeenByTheClient)
{
  Open();
  Line->SetFaults({.HangUpAfter = 2});
  EXPECT_EQ(Exchange(Status(0)), IdleStatus(0));
  Send(Status(0));
  EXPECT_TRUE(Client.WaitForHangUp(Deadline));
  EXPECT_TRUE(Line->HungUp());
}

TEST_F(TSimLineTest, SurvivesTheClientClosingAndReopening)
{
  Open();
  EXPECT_EQ(Exchange(Status(0)), IdleStatus(0));
  Client.Close();
  ASSERT_TRUE(Client.Open(Line->DevicePath()));
  EXPECT_EQ(Exchange(Status(0)), IdleStatus(0));
  EXPECT_FALSE(Line->HungUp());
}

TEST_F(TSimLineTest, TrafficRecordHoldsFramesAndAnswersWithTimes)
{
  Open();
  const auto before = TClock::now();
  const TBytes answer = Exchange(Status(0));
  Line->Close(); // the answer is on record once the line's thread is done
  const auto after = TClock::now();
  const auto traffic = Line->Traffic();
  ASSERT_EQ(traffic.size(), 2u);
  EXPECT_EQ(traffic[0].Direction, TSimTraffic::TDirection::Received);
  EXPECT_EQ(traffic[0].Bytes, Status(0));
  EXPECT_EQ(traffic[1].Direction, TSimTraffic::TDirection::Sent);
  EXPECT_EQ(traffic[1].Bytes, answer);
  EXPECT_LE(before, traffic[0].Time);
  EXPECT_LE(traffic[0].Time, traffic[1].Time);
  EXPECT_LE(traffic[1].Time, after);
  EXPECT_EQ(Line->FramesReceived(), 1u);
}

} // namespace

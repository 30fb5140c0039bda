#include "OzmetCtlFixture.h"

namespace {

struct TNetworkCase {
  const char* Name;
  std::vector<std::string> Simulator;
  std::vector<std::string> Arguments; // {raw}, {telnet}: ser2net's two accepters on the simulator
  int Exit;
  const char* Prints; // on standard output, or standard error for a failure
  bool Busy = false;  // another client holds the raw port, and so the device, first
  const char* Says = ""; // on standard error
};

void PrintTo(const TNetworkCase& c, std::ostream* out)
{
  *out << c.Name;
}

class OzmetCtlNetwork : public OzmetCtl, public ::testing::WithParamInterface<TNetworkCase> {};

// The simulator's line at a serial device server: the frames and the checks are those of a device,
// and only the Telnet accepter carries the line settings to the far end.
TEST_P(OzmetCtlNetwork, DrivesALineAtASerialDeviceServer)
{
  const TNetworkCase& c = GetParam();
  StartSim(c.Simulator);
  TSer2net server(Device);
  ASSERT_TRUE(server.Start());
  std::vector<std::string> arguments = c.Arguments;
  for (std::string& argument : arguments)
    argument = argument == "{raw}" ? server.RawUrl() : argument == "{telnet}" ? server.Rfc2217Url() : argument;
  std::unique_ptr<TChildProcess> holder;
  if (c.Busy) {
    holder = Ctl({"--device", server.RawUrl(), "watch", "--interval", "100"});
    ASSERT_TRUE(holder->WaitForOutput(0, "total 0\n"));
  }
  auto ctl = Ctl(arguments);
  EXPECT_EQ(ctl->WaitForExit(20s), c.Exit);
  ctl->WaitForOutput(0, Never);
  ctl->WaitForOutput(1, Never);
  EXPECT_NE((c.Exit == 0 ? ctl->Stdout() : ctl->Stderr()).find(c.Prints), std::string::npos)
      << ctl->Stdout() << ctl->Stderr();
  EXPECT_NE(ctl->Stderr().find(c.Says), std::string::npos) << ctl->Stderr();
}

const TNetworkCase NetworkCases[] = {
    {"StatusRaw", {}, {"--device", "{raw}", "status"}, 0, "$00: 0 rpm"},
    {"StatusTelnet", {}, {"--device", "{telnet}", "status"}, 0, "$00: 0 rpm"},
    // The status request to $9A ends in the CRC 0xFF, which Telnet must double.
    {"StatusOf9ATelnet", {"--address", "$9A"}, {"--device", "{telnet}", "status", "--address", "$9A"}, 0,
     "$9A: 0 rpm"},
    {"TimedRunTelnet", {}, {"--device", "{telnet}", "run", "--speed", "600", "--for", "1"}, 0, "$00: stopped"},
    {"ScanRaw", {"--address", "2"}, {"--device", "{raw}", "scan", "--to", "3"}, 0,
     "1 answered on $00..$03"},
    {"ScanTelnet", {"--address", "2"}, {"--device", "{telnet}", "scan", "--to", "3"}, 0, "1 answered on $00..$03"},
    {"SettingsReachTheFarEnd", {"--baud", "19200"}, {"--device", "{telnet}", "--baud", "19200", "status"}, 0,
     "$00: 0 rpm"},
    {"Rs485MeansNothingOnANetworkLine", {}, {"--device", "{telnet}", "--rs485", "status"}, 0, "$00: 0 rpm", false,
     "RS-485 mode not set: rfc2217://127.0.0.1:"},
    {"RawCarriesNoSettings", {"--baud", "19200"}, {"--device", "{raw}", "--baud", "19200", "status"}, 1,
     "no answer to the status request (50) from $00 on tcp://127.0.0.1:"},
    {"NobodyListens", {}, {"--device", "tcp://127.0.0.1:1", "status"}, 3,
     "127.0.0.1:1 refused the connection: no serial device server listens there."},
    {"UnknownHost", {}, {"--device", "rfc2217://no-such-host.invalid:2000", "status"}, 3,
     "the host no-such-host.invalid is unknown."},
    {"NoPort", {}, {"--device", "rfc2217://127.0.0.1", "status"}, 2, "is no network line: write tcp://HOST:PORT"},
    {"BusyRaw", {}, {"--device", "{raw}", "status"}, 3,
     "the server closed the line, saying \"Port already in use\": its port or its device is in use", true},
    {"BusyTelnet", {}, {"--device", "{telnet}", "status"}, 3,
     "the server closed the line, saying \"Port's device already in use\"", true},
};

INSTANTIATE_TEST_SUITE_P(Lines, OzmetCtlNetwork, testing::ValuesIn(NetworkCases),
                         [](const testing::TestParamInfo<TNetworkCase>& info) { return info.param.Name; });

// The server gone while a watch polls: the line failed, said as such, exit 1.
TEST_F(OzmetCtl, ServerGoneWhileWatchingIsALineFailure)
{
  StartSim({});
  TSer2net server(Device);
  ASSERT_TRUE(server.Start());
  auto ctl = Ctl({"--device", server.Rfc2217Url(), "watch", "--interval", "50"});
  ASSERT_TRUE(ctl->WaitForOutput(0, "total 0\n$00: "));
  server.Kill();
  EXPECT_EQ(ctl->WaitForExit(), 1);
  ctl->WaitForOutput(1, Never);
  EXPECT_NE(ctl->Stderr().find("the line failed"), std::string::npos) << ctl->Stderr();
}

// A server that sends zeros without end fails the line within 2 s, with the reason; a relay that
// holds every answer back after its third byte, as a retransmission does, costs nothing.
TEST_F(OzmetCtl, FloodFailsTheLineAndAGapInsideAnAnswerDoesNot)
{
  StartSim({});
  TSer2net server(Device);
  ASSERT_TRUE(server.Start());
  TLoopbackPeer relay(TLoopbackPeer::TKind::GapRelay, server.RawUrl());
  auto gap = Ctl({"--device", relay.Url(), "status"});
  EXPECT_EQ(gap->WaitForExit(10s), 0);
  gap->WaitForOutput(0, Never);
  EXPECT_NE(gap->Stdout().find("$00: 0 rpm"), std::string::npos) << gap->Stdout() << gap->Stderr();
  TLoopbackPeer flood(TLoopbackPeer::TKind::Flood);
  auto flooded = Ctl({"--device", flood.Url(), "status"});
  EXPECT_TRUE(flooded->WaitForOutput(1, "the line failed: the line sends without pause: ", 2s)) << flooded->Stderr();
  EXPECT_EQ(flooded->WaitForExit(), 1);
}

// A server whose queue of connections is full drops the next one's handshake: the connect is given
// 3 s, then said to have taken too long (exit 3), never waited on for the kernel's two minutes.
TEST_F(OzmetCtl, ConnectThatTakesTooLongIsGivenUp)
{
  const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&address), size), 0);
  ASSERT_EQ(::listen(server, 0), 0);
  ASSERT_EQ(::getsockname(server, reinterpret_cast<sockaddr*>(&address), &size), 0);
  const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&address), size), 0) << "the one place in the queue";
  const std::string url = "tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  auto ctl = Ctl({"--device", url, "status"});
  EXPECT_EQ(ctl->WaitForExit(10s), 3);
  ctl->WaitForOutput(1, Never);
  EXPECT_NE(ctl->Stderr().find("did not answer within 3 s."), std::string::npos) << ctl->Stderr();
  ::close(filler);
  ::close(server);
}

} // namespace

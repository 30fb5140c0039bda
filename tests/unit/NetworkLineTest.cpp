#include "CasePrinter.h"
#include "devices/NetworkAddress.h"
#include "devices/OpenFailure.h"
#include "serial/FloodWatch.h"
#include "serial/TelnetCodec.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>

namespace {

using CasePrinter::PrintTo;
using TBytes = std::vector<std::uint8_t>;

struct TAddressCase {
  const char* Name;
  const char* Text;
  std::optional<TNetworkAddress::TKind> Kind; // nothing: refused
  const char* Host = "";
  std::uint16_t Port = 0;
};

class NetworkAddress : public testing::TestWithParam<TAddressCase> {};

TEST_P(NetworkAddress, ParsesTheTwoFormsAndNothingElse)
{
  const TAddressCase& c = GetParam();
  const auto address = TNetworkAddress::Parse(c.Text);
  ASSERT_EQ(address.has_value(), c.Kind.has_value());
  if (!address)
    return;
  EXPECT_EQ(address->Kind, *c.Kind);
  EXPECT_EQ(address->Host, c.Host);
  EXPECT_EQ(address->Port, c.Port);
}

using enum TNetworkAddress::TKind;
const TAddressCase AddressCases[] = {
    {"Tcp", "tcp://bench-7:2000", Tcp, "bench-7", 2000},
    {"Rfc2217", "rfc2217://10.0.0.5:65535", Rfc2217, "10.0.0.5", 65535},
    {"Ipv6InBrackets", "tcp://[::1]:4001", Tcp, "::1", 4001},
    {"PortOne", "tcp://h:1", Tcp, "h", 1},
    {"PortZero", "tcp://h:0", std::nullopt},
    {"PortTooHigh", "tcp://h:65536", std::nullopt},
    {"NoPort", "tcp://h", std::nullopt},
    {"NoHost", "tcp://:2000", std::nullopt},
    {"TextAfterThePort", "tcp://h:2000/x", std::nullopt},
    {"AnotherScheme", "telnet://h:23", std::nullopt},
    {"ADevice", "/dev/ttyUSB0", std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Texts, NetworkAddress, testing::ValuesIn(AddressCases), [](const auto& info) { return std::string(info.param.Name); });

constexpr std::uint8_t Iac = 255;

// Bytes from the server, fed in pieces cut at every place: the line's bytes and the replies come out
// the same whatever the cut, so a command split across two reads is never taken for data.
struct TDecodeCase {
  const char* Name;
  TBytes FromServer;
  TBytes Data;
  TBytes Replies;
};

class TelnetDecoding : public testing::TestWithParam<TDecodeCase> {};

TEST_P(TelnetDecoding, SplitsDataFromCommandsWhereverTheReadsEnd)
{
  const TDecodeCase& c = GetParam();
  for (std::size_t cut = 0; cut <= c.FromServer.size(); ++cut) {
    TTelnetCodec codec;
    TBytes data, replies;
    codec.Decode(std::span(c.FromServer).first(cut), data, replies);
    codec.Decode(std::span(c.FromServer).subspan(cut), data, replies);
    EXPECT_EQ(data, c.Data) << "cut at " << cut;
    EXPECT_EQ(replies, c.Replies) << "cut at " << cut;
  }
}

const TDecodeCase DecodeCases[] = {
    {"PlainAnswer", {0x00, 0x80, 0x00, 0x00, 0x62}, {0x00, 0x80, 0x00, 0x00, 0x62}, {}},
    {"DoubledFF", {0x01, Iac, Iac, 0x02}, {0x01, Iac, 0x02}, {}},
    // What the greeting offered is acknowledged, not answered again.
    {"AcknowledgementsNeedNoAnswer", {Iac, 253, 44, Iac, 253, 0, Iac, 251, 3, 0x07}, {0x07}, {}},
    {"UnknownOptionRefused", {Iac, 253, 24, Iac, 251, 1}, {}, {Iac, 252, 24, Iac, 254, 1}},
    {"ServerTurnsBinaryOff", {Iac, 254, 0, Iac, 254, 0}, {}, {Iac, 252, 0}},
    // The server's word on the settings (SET-BAUDRATE answered with 65408, an 0xFF doubled inside).
    {"SubnegotiationSetAside", {0x05, Iac, 250, 44, 101, 0, 0, Iac, Iac, 0x80, Iac, 240, 0x06}, {0x05, 0x06}, {}},
    {"NoOperation", {Iac, 241, 0x09}, {0x09}, {}},
};

INSTANTIATE_TEST_SUITE_P(Streams, TelnetDecoding, testing::ValuesIn(DecodeCases), [](const auto& info) { return std::string(info.param.Name); });

TEST(TelnetEncoding, DoublesFFInTheLineAndInTheSettings)
{
  EXPECT_EQ(TTelnetCodec::Escaped(TBytes{0xE6, Iac, 0x50}), (TBytes{0xE6, Iac, Iac, 0x50}));
  // 255 baud carries an 0xFF in its last byte; parity even is the option's 3, stop bits two its 2.
  const TBytes settings = TTelnetCodec::Settings({255, 7, 2, 2});
  const TBytes head{Iac, 250, 44, 1, 0, 0, 0, Iac, Iac, Iac, 240, Iac, 250, 44, 2, 7, Iac, 240,
                    Iac, 250, 44, 3, 3, Iac, 240, Iac, 250, 44, 4, 2, Iac, 240};
  ASSERT_GE(settings.size(), head.size());
  EXPECT_EQ(TBytes(settings.begin(), settings.begin() + static_cast<std::ptrdiff_t>(head.size())), head);
}

// Why a server could not be reached, in the words the window's message and ozmetctl give.
struct TUnreachableCase {
  const char* Name;
  int Error;
  const char* Says;
};

class NetworkFailure : public testing::TestWithParam<TUnreachableCase> {};

TEST_P(NetworkFailure, SaysWhyTheServerCouldNotBeReached)
{
  EXPECT_EQ(TOpenFailure::Explain("rfc2217://bench-7:3001", GetParam().Error),
            std::string("rfc2217://bench-7:3001: ") + GetParam().Says);
}

const TUnreachableCase UnreachableCases[] = {
    {"HostUnknown", TOpenFailure::HostUnknown, "the host bench-7 is unknown."},
    {"Refused", ECONNREFUSED, "bench-7:3001 refused the connection: no serial device server listens there."},
    {"NoRoute", EHOSTUNREACH, "no route to bench-7: the network cannot reach it."},
    {"NetworkUnreachable", ENETUNREACH, "no route to bench-7: the network cannot reach it."},
    {"TooSlow", ETIMEDOUT, "bench-7:3001 did not answer within 3 s."},
    {"Closed", ECONNRESET, "bench-7:3001 closed the connection."},
    {"ClosedUnderAWrite", EPIPE, "bench-7:3001 closed the connection."},
};

INSTANTIATE_TEST_SUITE_P(Reasons, NetworkFailure, testing::ValuesIn(UnreachableCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// What a line brings, as (milliseconds from the start, bytes) reads: a line floods once it brings
// more in a second than a serial line at 115 200 baud could, and never for what answers amount to.
struct TFloodCase {
  const char* Name;
  std::vector<std::pair<int, std::size_t>> Reads;
  bool Floods;
  const char* Says = "";
};

class FloodWatch : public testing::TestWithParam<TFloodCase> {};

TEST_P(FloodWatch, TellsALineThatSendsWithoutPause)
{
  TFloodWatch watch;
  const auto start = TFloodWatch::TClock::now();
  for (const auto& [ms, bytes] : GetParam().Reads)
    watch.Note(bytes, start + std::chrono::milliseconds(ms));
  EXPECT_EQ(watch.Flooding(), GetParam().Floods);
  EXPECT_EQ(watch.Reason(), GetParam().Says);
}

std::vector<std::pair<int, std::size_t>> Every(int stepMs, int untilMs, std::size_t bytes)
{
  std::vector<std::pair<int, std::size_t>> reads;
  for (int ms = 0; ms < untilMs; ms += stepMs)
    reads.emplace_back(ms, bytes);
  return reads;
}

const TFloodCase FloodCases[] = {
    {"AnswersForAMinute", Every(55, 60'000, 5), false},
    {"TheFastestUartForTenSeconds", Every(10, 10'000, 115), false},
    {"OneByteMoreThanItCarries", {{0, 11'520}, {999, 1}}, true, "the line sends without pause: 11521 bytes in 1 s, no frame"},
    {"TheSameAfterTheSecond", {{0, 11'520}, {1000, 1}}, false},
    {"AServersQueueAtOnce", {{0, 65'536}}, true, "the line sends without pause: 65536 bytes in 1 s, no frame"},
};

INSTANTIATE_TEST_SUITE_P(Lines, FloodWatch, testing::ValuesIn(FloodCases),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace

#include "CasePrinter.h"
#include "LoopbackPeer.h"
#include "MainThreadWait.h"
#include "ProcStatus.h"
#include "RecordingView.h"
#include "Ser2net.h"
#include "SimLine.h"
#include "TempDir.h"
#include "protocol/CommonDatas.h"
#include "protocol/OzmCommands.h"
#include "serial/ComPort.h"
#include "serial/Exchange.h"
#include "serial/PortButtons.h"
#include "serial/TcpLine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>

namespace {

using namespace std::chrono_literals;
using CasePrinter::PrintTo;
using TBytes = std::vector<std::uint8_t>;

enum class TPath { Raw, Telnet, GapRelay, Flood };

// The window's side (port, receive thread, worker) on a network line to the simulated controllers at
// $00 and $9A: through ser2net, through a relay that holds answers back mid-way, or at a flood.
class NetworkPortTest : public ::testing::Test {
protected:
  void Open(TPath path)
  {
    Sim.Open();
    Server = std::make_unique<TSer2net>(Sim.DevicePath());
    ASSERT_TRUE(Server->Start()) << "ser2net would not start";
    std::string url = path == TPath::Telnet ? Server->Rfc2217Url() : Server->RawUrl();
    if (path == TPath::GapRelay || path == TPath::Flood) {
      Peer = std::make_unique<TLoopbackPeer>(
          path == TPath::Flood ? TLoopbackPeer::TKind::Flood : TLoopbackPeer::TKind::GapRelay, url);
      url = Peer->Url();
    }
    Data.Link("COM3", url);
    Port.DataFolder = Data.Path();
    Port.SetPortNumber(3);
    Port.SetByteSize(3);
    Port.SetBaudIndex(6);
    Port.OnRead = [this](std::uint64_t epoch) { return Commands.BlockRead(epoch); };
    Port.OnReceive = [this](const std::uint8_t* data, std::int32_t count, std::uint32_t errors, std::uint32_t claim) {
      Commands.PortDataReceived(data, count, errors, claim);
    };
    View.OnAnswerReceived = [this] { Exchange.EventPortString.Set(); };
    ASSERT_TRUE(Buttons.BtnOpenPortClick());
  }

  // Looks only at the calls since its last look: a flood logs many, and the wait asks after each.
  bool Logged(const std::string& text)
  {
    for (; Scanned < View.Calls.size(); ++Scanned)
      Found = Found || View.Calls[Scanned].find(text) != std::string::npos;
    return Found;
  }

  TBytes LastFrameSeen() const
  {
    std::optional<TBytes> last;
    for (const TSimTraffic& t : Sim.Traffic())
      if (t.Direction == TSimTraffic::TDirection::Received)
        last = t.Bytes;
    return last.value_or(TBytes{});
  }

  std::size_t Scanned = 0;
  bool Found = false;
  TSimLine Sim{{0x00, 0x9A}};
  std::unique_ptr<TSer2net> Server;
  std::unique_ptr<TLoopbackPeer> Peer;
  TTempDir Data;
  TCommonDatas Datas;
  TRecordingView View;
  TComPort Port;
  TOzmCommands Commands{Datas, View};
  TPortButtons Buttons{Port, View};
  TExchange Exchange{Datas, Port, Buttons, View};
};

struct TNetworkPortCase {
  const char* Name;
  TPath Path;
  std::uint8_t Address;
  bool Broadcast; // the first frame of the address procedure, to everyone, instead of a status request
};

class NetworkPortLines : public NetworkPortTest, public ::testing::WithParamInterface<TNetworkPortCase> {};

// The frame reaches the controller byte for byte (an 0xFF doubled on a Telnet line and undoubled at
// the far end), and a status answer is one block, whatever the network does between its bytes.
TEST_P(NetworkPortLines, FramesArriveWholeAndAnswersFormOneBlock)
{
  const TNetworkPortCase& c = GetParam();
  Open(c.Path);
  Datas.MotorAddress = c.Address;
  TBytes sent;
  if (c.Broadcast) {
    Datas.AddressSetStarted = true;
    Commands.QueueBroadcastFrame(CmdAddressSetBegin, 0x2A);
    sent = TBytes(Datas.CommandQueue[0].begin(), Datas.CommandQueue[0].end());
  } else {
    Datas.StatusPolling = true;
    Commands.BuildStatusRequest();
    const TStatusRequest request = Datas.StatusRequest.load();
    sent = TBytes(request.begin(), request.end());
  }
  ASSERT_TRUE(Exchange.StartExchange());
  ASSERT_TRUE(WaitOnMain([this] { return !Exchange.WorkerRunning(); }, 10s));
  ASSERT_TRUE(Sim.WaitForFrames(1, 2s));
  EXPECT_EQ(LastFrameSeen(), sent);
  EXPECT_FALSE(Datas.StatusPolling) << "the status answer was decoded";
  EXPECT_EQ(Datas.Counters.ChecksumFailures, 0u) << ::testing::PrintToString(View.LogLines());
  EXPECT_EQ(Datas.Counters.Stale, 0u) << ::testing::PrintToString(View.LogLines());
}

const TNetworkPortCase NetworkPortCases[] = {
    {"StatusRaw", TPath::Raw, 0x00, false},
    // The status request to $9A carries the CRC 0xFF.
    {"StatusOf9ATelnet", TPath::Telnet, 0x9A, false},
    {"AddressBroadcastTelnet", TPath::Telnet, 0x00, true},
    {"StatusThroughAGapInTheAnswer", TPath::GapRelay, 0x00, false},
};

INSTANTIATE_TEST_SUITE_P(Lines, NetworkPortLines, ::testing::ValuesIn(NetworkPortCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// A server that sends zeros without end: memory stays bounded, the port fails with the reason within
// 2 s, and a Stop asked for then is not held behind the flood.
TEST_F(NetworkPortTest, FloodIsAPortFailureWithItsReason)
{
  const long before = ResidentKiB();
  long most = before;
  const auto start = std::chrono::steady_clock::now();
  Open(TPath::Flood);
  Datas.StatusPolling = true;
  Commands.BuildStatusRequest();
  ASSERT_TRUE(Exchange.StartExchange());
  const std::string reason = "the line sends without pause: ";
  EXPECT_TRUE(WaitOnMain([&] { return (most = std::max(most, ResidentKiB())), Logged(reason); },
                         std::chrono::duration_cast<std::chrono::milliseconds>(start + 2s - std::chrono::steady_clock::now())))
      << "after " << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count()
      << " ms";
  const std::vector<std::string> lines = View.LogLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Red bold " + std::string(TExchange::PortErrorText)), lines.end());
  Commands.QueueFrame(CmdStop, 0);
  Exchange.Overtake();
  ASSERT_TRUE(WaitOnMain([this] { return !Exchange.WorkerRunning(); }, 3s));
  const auto stopAsked = std::chrono::steady_clock::now();
  ASSERT_TRUE(Exchange.StartExchange());
  EXPECT_TRUE(WaitOnMain([&] { return (most = std::max(most, ResidentKiB())), !Exchange.WorkerRunning(); }, 3s))
      << "the Stop's exchange is held";
  EXPECT_LT(std::chrono::steady_clock::now() - stopAsked, 2s);
  EXPECT_LT(most - before, 64 * 1024) << "KiB grown under the flood";
  EXPECT_GT(Peer->Sent(), 4u * TTcpLine::InboxLimit) << "the flood ran";
}

} // namespace

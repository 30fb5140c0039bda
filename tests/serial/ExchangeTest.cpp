#include "serial/Exchange.h"
#include "MainThreadWait.h"
#include "RecordingView.h"
#include "SimLine.h"
#include "TempDir.h"
#include "protocol/CommonDatas.h"
#include "protocol/OzmCommands.h"
#include "serial/ComPort.h"
#include "serial/PortButtons.h"
#include "serial/Synchronizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

namespace {

using namespace std::chrono_literals;
using TBytes = std::vector<std::uint8_t>;

const std::string Green = "Green ";

// The hint after a missing answer, for the simulated line's 9600 8N1.
std::string Silence(const char* address)
{
  return "Red No answer from address $" + std::string(address) +
         " at 9600 8N1: the controller must have this address and these line settings.";
}

// The window's side of one exchange: the record, the port on a simulated line, the worker.
class ExchangeTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    Sim.Open();
    Data.Link("COM3", Sim.DevicePath());
    Port.DataFolder = Data.Path();
    Port.SetPortNumber(3);
    Port.SetByteSize(3);
    Port.SetBaudIndex(6);
    Port.OnRead = [this](std::uint64_t epoch) { return Commands.BlockRead(epoch); };
    Port.OnReceive = [this](const std::uint8_t* data, std::int32_t count, std::uint32_t errors, std::uint32_t claim) {
      Commands.PortDataReceived(data, count, errors, claim);
    };
    View.OnAnswerReceived = [this] { Exchange.EventPortString.Set(); };
    Buttons.BtnOpenPortClick();
    ASSERT_TRUE(Port.IsOpen());
    View.Calls.clear();
  }

  // Starts an exchange and waits for its end, as a handler followed by the event loop would.
  void RunExchange()
  {
    ASSERT_TRUE(Exchange.StartExchange());
    ASSERT_TRUE(WaitOnMain([this] { return !Exchange.WorkerRunning(); }, 10s));
  }

  std::vector<TBytes> FramesSeen() const
  {
    std::vector<TBytes> frames;
    for (const TSimTraffic& t : Sim.Traffic())
      if (t.Direction == TSimTraffic::TDirection::Received)
        frames.push_back(t.Bytes);
    return frames;
  }

  std::vector<std::string> WorkerLines() const
  {
    std::vector<std::string> lines = View.LogLines();
    std::erase_if(lines, [](const std::string& l) { return l.rfind("InForce $", 0) == 0; });
    return lines;
  }

  TSimLine Sim{{0}};
  TTempDir Data;
  TCommonDatas Datas;
  TRecordingView View;
  TComPort Port;
  TOzmCommands Commands{Datas, View};
  TPortButtons Buttons{Port, View};
  TExchange Exchange{Datas, Port, Buttons, View};
};

TEST_F(ExchangeTest, EmptyQueueWithoutPollingWritesNothing)
{
  RunExchange();
  EXPECT_TRUE(View.Calls.empty());
  EXPECT_EQ(Sim.FramesReceived(), 0u);
  EXPECT_TRUE(Exchange.EventRWAllowed.IsSet());
}

TEST_F(ExchangeTest, PollingAloneSendsOnlyTheStatusRequest)
{
  Datas.StatusPolling = true;
  Commands.BuildStatusRequest();
  RunExchange();
  EXPECT_EQ(FramesSeen(), (std::vector<TBytes>{{0xE6, 0x00, 0x50, 0xDB}}));
  EXPECT_EQ(WorkerLines(), std::vector<std::string>{Green + "motor status"});
  EXPECT_FALSE(Datas.StatusPolling) << "the answer was decoded";
  EXPECT_TRUE(Exchange.EventRWAllowed.IsSet());
}

TEST_F(ExchangeTest, AnsweredFramesGiveOneGreenLineEach)
{
  for (std::uint8_t code : {CmdSetAccel, CmdSetDecel, CmdSetDirection})
    Commands.QueueFrame(code, 1);
  RunExchange();
  EXPECT_EQ(WorkerLines(), (std::vector<std::string>{Green + "Comand transfered A5", Green + "Comand transfered A6",
                                                     Green + "Comand transfered A7"}));
  EXPECT_EQ(View.LogLines().size(), 6u) << "each answer is logged";
  EXPECT_EQ(Datas.QueueCount, 0);
  EXPECT_EQ(FramesSeen().size(), 3u);
}

// The window's thread held past several answer times (a long layout, a slow display): the answers read
// meanwhile still count, and the frames behind them still go.
TEST_F(ExchangeTest, AnswersReadWhileTheWindowIsBusyStillCount)
{
  for (std::uint8_t code : {CmdSetAccel, CmdSetDecel, CmdSetDirection})
    Commands.QueueFrame(code, 1);
  ASSERT_TRUE(Exchange.StartExchange());
  std::this_thread::sleep_for(1200ms); // the window's thread busy: it runs none of the other threads' calls
  ASSERT_TRUE(WaitOnMain([this] { return !Exchange.WorkerRunning(); }, 10s));
  EXPECT_EQ(WorkerLines(), (std::vector<std::string>{Green + "Comand transfered A5", Green + "Comand transfered A6",
                                                     Green + "Comand transfered A7"}));
  EXPECT_EQ(Datas.Counters.AnswersMissing, 0u);
  EXPECT_EQ(Datas.Counters.Stale, 0u);
  EXPECT_EQ(FramesSeen().size(), 3u);
}

TEST_F(ExchangeTest, UnansweredFrameEndsTheCommands)
{
  Commands.QueueFrame(CmdSetAccel, 1);
  Datas.MotorAddress = 9; // no controller there
  Commands.QueueFrame(CmdSetDecel, 1);
  Datas.MotorAddress = 0;
  Commands.QueueFrame(CmdSetDirection, 1);
  RunExchange();
  EXPECT_EQ(WorkerLines(), (std::vector<std::string>{Green + "Comand transfered A5", Green + "Comand transfered A6",
                                                     "Red " + std::string(TExchange::NoAnswerText),
                                                     Green + "no answer to command  A6", Silence("09")}));
  EXPECT_EQ(FramesSeen().size(), 2u) << "the third frame is never written";
  EXPECT_TRUE(Exchange.EventRWAllowed.IsSet());
}

TEST_F(ExchangeTest, SilentBroadcastDuringAddressSettingIsANotice)
{
  Datas.AddressSetStarted = true;
  Commands.QueueBroadcastFrame(CmdAddressSetBegin, 5);
  RunExchange();
  EXPECT_EQ(WorkerLines(), (std::vector<std::string>{Green + "Comand transfered A0",
                                                     "Blue " + std::string(TExchange::PressButtonText)}));
  EXPECT_TRUE(Exchange.EventRWAllowed.IsSet());
}

TEST_F(ExchangeTest, AddressSettingEndsWithItsExchange)
{
  Datas.AddressSetFinished = true;
  Commands.QueueBroadcastFrame(CmdAddressSetEnd, 5);
  RunExchange();
  EXPECT_EQ(WorkerLines().back(), "Blue " + std::string(TExchange::AddressDoneText));
  EXPECT_FALSE(Datas.AddressSetFinished);

  View.Calls.clear();
  Datas.ClearQueue();
  Datas.MotorAddress = 9;
  Commands.QueueFrame(CmdStop, 0);
  RunExchange();
  EXPECT_EQ(WorkerLines().at(1), "Red " + std::string(TExchange::NoAnswerText)) << "silence is a missing answer again";
}

// A second close of the address dialog asked for while the first one's exchange still runs: the
// first one's end must not end the procedure under the second, whose silence is still expected.
TEST_F(ExchangeTest, OnlyTheLastAddressEndEndsTheProcedure)
{
  for (int close = 0; close < 2; ++close) {
    Datas.ClearQueue();
    Commands.QueueBroadcastFrame(CmdAddressSetEnd, 5);
    Datas.AddressSetFinished = true;
    ASSERT_TRUE(Exchange.StartExchange());
  }
  ASSERT_TRUE(WaitOnMain([this] { return !Exchange.WorkerRunning(); }));
  const std::string done = "Blue " + std::string(TExchange::AddressDoneText);
  EXPECT_EQ(WorkerLines(), (std::vector<std::string>{Green + "Comand transfered A1", done,
                                                     Green + "Comand transfered A1", done}));
  EXPECT_FALSE(Datas.AddressSetFinished) << "the last one ended it";
}

// The status request goes out as it stands when it is sent: a tick that comes while a worker sends
// its commands rebuilds it, from the start-up default (whose checksum is wrong) or for a new address.
TEST_F(ExchangeTest, StatusRequestIsTheOneInForceWhenSent)
{
  const struct {
    const char* Name;
    std::optional<std::uint8_t> AddressBefore; // the request built before the exchange, if any
  } cases[] = {{"start-up default", std::nullopt}, {"address changed", 9}};
  for (const auto& c : cases) {
    if (c.AddressBefore) {
      Datas.MotorAddress = *c.AddressBefore;
      Commands.BuildStatusRequest();
    }
    Datas.MotorAddress = 0;
    Commands.QueueFrame(CmdStop, 0);
    ASSERT_TRUE(Exchange.StartExchange());
    Datas.StatusPolling = true; // the tick, while the Stop is on its way
    Commands.BuildStatusRequest();
    ASSERT_TRUE(WaitOnMain([this] { return !Exchange.WorkerRunning(); }));
    EXPECT_EQ(FramesSeen().back(), (TBytes{0xE6, 0x00, 0x50, 0xDB})) << c.Name;
    EXPECT_FALSE(Datas.StatusPolling) << c.Name << ": the answer was decoded";
  }
}

// The worker's recovery step waits for the window while the receive thread delivers a block: a
// close now waits for the receive thread and runs both pending calls meanwhile. The recovery must
// not reopen the port beneath that close, which would then close the new device and leave a new
// receive thread behind on it.
TEST_F(ExchangeTest, RecoveryPendingDuringACloseLeavesThePortToIt)
{
  TSynchronizer& sync = TSynchronizer::Instance();
  std::thread worker([&] { sync.Synchronize([this] { Exchange.StatusLost(); }); });
  const TStatusRequest request = TOzmCommands::StatusRequestFor(0);
  ASSERT_TRUE(Port.WriteBytes(request.data(), request.size()));
  ASSERT_TRUE(PollUntil([&] { return sync.PendingCount() == 2; })) << "the step and the answer wait for the window";
  Buttons.BtnClosePortClick();
  worker.join();
  EXPECT_FALSE(Port.IsOpen());
  EXPECT_EQ(Port.ReadThread, nullptr) << "no receive thread left behind on a closed device";
  EXPECT_EQ(View.Calls.back(), "buttons closed");

  Buttons.BtnOpenPortClick();
  View.Calls.clear();
  Datas.StatusPolling = true;
  Commands.BuildStatusRequest();
  RunExchange();
  EXPECT_EQ(WorkerLines(), std::vector<std::string>{Green + "motor status"}) << "the reopened port hears the answer";
}

TEST_F(ExchangeTest, StartWaitsForTheRunningWorker)
{
  Datas.MotorAddress = 9;
  Commands.QueueFrame(CmdStop, 0); // unanswered: the worker lives for the whole answer timeout
  ASSERT_TRUE(Exchange.StartExchange());
  Datas.ClearQueue();
  ASSERT_TRUE(Exchange.StartExchange());
  EXPECT_EQ(WorkerLines().back(), Silence("09")) << "the first worker had ended";
  ASSERT_TRUE(WaitOnMain([this] { return !Exchange.WorkerRunning(); }));
}

TEST_F(ExchangeTest, AWorkerSendsTheFramesQueuedWhenItStarted)
{
  Commands.QueueFrame(CmdSetAccel, 1);
  Commands.QueueFrame(CmdSetDecel, 2);
  ASSERT_TRUE(Exchange.StartExchange());
  // The next action empties and refills the queue while the worker still sends.
  Datas.ClearQueue();
  Commands.QueueFrame(CmdStop, 0);
  ASSERT_TRUE(WaitOnMain([this] { return !Exchange.WorkerRunning(); }));
  const std::vector<TBytes> frames = FramesSeen();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0][2], CmdSetAccel);
  EXPECT_EQ(frames[1][2], CmdSetDecel);
  EXPECT_EQ(Datas.QueueCount, 1) << "the later action keeps its frame";
  EXPECT_EQ(Datas.CommandQueue[0][2], CmdStop);
}

TEST_F(ExchangeTest, EveryFrameFollowsFiftyMillisecondsOfSilence)
{
  for (std::uint8_t code : {CmdSetAccel, CmdSetDecel, CmdSetDirection, CmdSetSpeed, CmdRun})
    Commands.QueueFrame(code, 0);
  const auto started = std::chrono::steady_clock::now();
  RunExchange();
  auto lastByte = started;
  int frames = 0;
  for (const TSimTraffic& t : Sim.Traffic()) {
    if (t.Direction == TSimTraffic::TDirection::Received) {
      EXPECT_GE(t.Time - lastByte, 50ms) << "frame " << frames;
      ++frames;
    }
    lastByte = t.Time;
  }
  EXPECT_EQ(frames, 5);
}

// An answer follows its write: bytes that come while no frame waits for them (an answer too late
// for its own frame, a stray byte) are said and counted as stale, and never answer the next frame.
// A command's echo decoded as a status answer would move the counter (an A5 echo reads as +1280).
TEST_F(ExchangeTest, LateAndStrayBytesNeverAnswerTheNextFrame)
{
  const struct {
    const char* Name;
    TSimFaults Faults;
    std::vector<std::uint8_t> Commands;
    std::vector<std::string> Lines; // worker lines expected among the log, in this order
  } cases[] = {
      {"command answer late, read in the pause before the status request",
       {.DelayMs = 330},
       {CmdSetAccel},
       {Green + "Comand transfered A5", Green + "no answer to command  A5", Green + "motor status",
        Green + "motor status - no answer "}},
      // Past the answer time and the pause: the worker waits it out before the status request goes.
      {"command answer 150 ms past the answer time",
       {.DelayMs = 450},
       {CmdSetAccel},
       {Green + "Comand transfered A5", Green + "no answer to command  A5", Green + "motor status",
        Green + "motor status - no answer "}},
      {"a byte added to the first answer",
       {.ExtraByteAt = 1},
       {CmdSetAccel, CmdSetDecel},
       {Green + "Comand transfered A5", Green + "Comand transfered A6", Green + "motor status"}},
      // Still queued in the driver when the next frame is written: dropped there, not joined to its answer.
      {"a byte alone 20 ms after the last command's answer",
       {.StrayByteAfter = 2},
       {CmdSetAccel, CmdSetDecel},
       {Green + "Comand transfered A5", Green + "Comand transfered A6", Green + "motor status"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    View.Calls.clear();
    Datas.Counters.Reset();
    Sim.SetFaults(c.Faults);
    for (std::uint8_t code : c.Commands)
      Commands.QueueFrame(code, 0);
    Datas.StatusPolling = true;
    Commands.BuildStatusRequest();
    RunExchange();
    std::vector<std::string> lines = WorkerLines();
    std::erase_if(lines, [&](const std::string& l) { return std::find(c.Lines.begin(), c.Lines.end(), l) == c.Lines.end(); });
    EXPECT_EQ(lines, c.Lines);
    EXPECT_EQ(Datas.MotorRevCounter, 0) << "no echo decoded as a status answer";
    EXPECT_FALSE(Datas.CounterOverflow);
    ASSERT_TRUE(WaitOnMain([&] { return Datas.Counters.Stale > 0; })) << "the stale bytes are counted";
    EXPECT_EQ(Datas.Counters.ShortBlocks, 0u);
    EXPECT_EQ(Datas.Counters.ChecksumFailures, 0u) << "every answer whole and in its place";
    const auto staleLine = std::find_if(View.Calls.begin(), View.Calls.end(),
                                        [](const std::string& l) { return l.starts_with("log Red " + std::string(StaleText) + "$"); });
    EXPECT_NE(staleLine, View.Calls.end()) << "said with their bytes";
    Sim.SetFaults({});
    Datas.ClearQueue();
    if (!Port.IsOpen())
      Buttons.BtnOpenPortClick();
  }
}

// The late answer of an exchange's last frame is waited out by the next exchange, however soon it starts: dropped as
// stale, never taken for the next frame's answer, which is as late and so missing.
TEST_F(ExchangeTest, ALateAnswerIsWaitedOutByTheNextExchangeToo)
{
  Sim.SetFaults({.DelayMs = 450});
  Datas.StatusPolling = true;
  Commands.BuildStatusRequest();
  RunExchange();
  Commands.QueueFrame(CmdSetAccel, 0);
  RunExchange();
  const std::vector<std::string> lines = WorkerLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), Green + "no answer to command  A5"), 1)
      << "the status request's late answer taken for A5's";
  ASSERT_TRUE(WaitOnMain([&] { return Datas.Counters.Stale > 0; }));
}

// Stop overtakes: the frame on the wire keeps its answer, the rest of the queue and the status
// request are dropped in one line, and the Stop is the next frame on the line.
TEST_F(ExchangeTest, StopOvertakesTheFramesNotYetSent)
{
  Sim.SetFaults({.DelayMs = 150}); // the first frame's answer is still to come when the Stop is asked for
  for (std::uint8_t code : {CmdSetAccel, CmdSetDecel, CmdSetDirection, CmdSetSpeed, CmdRun})
    Commands.QueueFrame(code, 0);
  Datas.StatusPolling = true;
  Commands.BuildStatusRequest();
  ASSERT_TRUE(Exchange.StartExchange());
  ASSERT_TRUE(Sim.WaitForFrames(1, 5s));
  Exchange.Overtake(); // as the Stop handler does, before it queues its frame
  Datas.StatusPolling = false;
  Datas.ClearQueue();
  Commands.QueueFrame(CmdStop, 0);
  ASSERT_TRUE(Exchange.StartExchange());
  ASSERT_TRUE(WaitOnMain([this] { return !Exchange.WorkerRunning(); }, 5s));
  std::vector<std::uint8_t> codes;
  for (const TBytes& frame : FramesSeen())
    codes.push_back(frame[2]);
  EXPECT_EQ(codes, (std::vector<std::uint8_t>{CmdSetAccel, CmdStop}));
  EXPECT_EQ(WorkerLines(), (std::vector<std::string>{Green + "Comand transfered A5",
                                                     Green + "Stop goes first, not sent: A6 A7 A3 51",
                                                     Green + "Comand transfered 52"}));
}

TEST_F(ExchangeTest, SilentStatusRequestStopsPollingAndReopensThePort)
{
  TSimFaults faults;
  faults.SilentToStatus = true;
  Sim.SetFaults(faults);
  Datas.StatusPolling = true;
  Commands.BuildStatusRequest();
  RunExchange();
  EXPECT_EQ(WorkerLines(), (std::vector<std::string>{Green + "motor status", Green + "motor status - no answer ",
                                                     "Red Stop", Silence("00")}));
  EXPECT_FALSE(Datas.StatusPolling);
  const auto& calls = View.Calls;
  EXPECT_NE(std::find(calls.begin(), calls.end(), "poll-off"), calls.end());
  EXPECT_NE(std::find(calls.begin(), calls.end(), "stop-timer-off"), calls.end());
  EXPECT_NE(std::find(calls.begin(), calls.end(), "buttons open"), calls.end()) << "closed and opened again";
  EXPECT_NE(std::find(calls.begin(), calls.end(), "unknown"), calls.end()) << "the motor's state is no longer known";
  EXPECT_EQ(Datas.Counters.PortFailures, 0u) << "the port itself is sound";
  EXPECT_TRUE(Port.IsOpen());
  EXPECT_TRUE(Exchange.EventRWAllowed.IsSet());
}

TEST_F(ExchangeTest, LineHungUpMidExchangeIsAPortFailure)
{
  TSimFaults faults;
  faults.HangUpAfter = 2;
  Sim.SetFaults(faults);
  for (std::uint8_t code : {CmdSetAccel, CmdSetDecel, CmdSetDirection})
    Commands.QueueFrame(code, 0);
  RunExchange();
  EXPECT_EQ(WorkerLines().back(), Silence("00"));
  EXPECT_EQ(WorkerLines().end()[-2], Green + "no answer to command  A6") << "the line died under the second frame";

  // The link now leads nowhere, as an unplugged adapter's does. (The hung-up pty's own name is no
  // good for that: a test running beside this one may get the same /dev/pts number at once.)
  const std::string gone = Sim.DevicePath() + "-unplugged";
  std::filesystem::remove(Data.Path() + "/COM3");
  Data.Link("COM3", gone);
  // The next poll tick finds the line gone.
  View.Calls.clear();
  Datas.StatusPolling = true;
  Commands.BuildStatusRequest();
  RunExchange();
  const std::string unplugged = "Red " + Data.Path() + "/COM3 links to " + gone +
                                ", which is not there: the adapter is unplugged, or the link points at nothing.";
  EXPECT_EQ(WorkerLines(), (std::vector<std::string>{"Red bold " + std::string(TExchange::PortErrorText), unplugged}));
  EXPECT_FALSE(Datas.StatusPolling);
  EXPECT_EQ(View.Calls.end()[-2], "buttons closed") << "the dead device cannot be opened again";
  EXPECT_EQ(View.Calls.back(), "message " + std::string(TPortButtons::OpenPortErrorText) + "\n" + unplugged.substr(4));
  EXPECT_NE(std::find(View.Calls.begin(), View.Calls.end(), "unknown"), View.Calls.end());
  EXPECT_EQ(Datas.Counters.PortFailures, 1u) << "counted once, not again for the failed reopen";
  EXPECT_FALSE(Port.IsOpen());
  EXPECT_TRUE(Exchange.EventRWAllowed.IsSet());

  View.Calls.clear();
  Commands.QueueFrame(CmdStop, 0);
  RunExchange(); // a closed port fails at once, no hang
  EXPECT_EQ(WorkerLines(), (std::vector<std::string>{"Red bold " + std::string(TExchange::PortErrorText), unplugged}));
}

} // namespace

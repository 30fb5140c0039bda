#include "CasePrinter.h"
#include "RecordingView.h"
#include "protocol/CommonDatas.h"
#include "protocol/OzmCommands.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <vector>

namespace {

using CasePrinter::PrintTo;

using TBytes = std::vector<std::uint8_t>;

class AnswerDecoding : public ::testing::Test {
protected:
  void Receive(const std::vector<std::uint8_t>& block)
  {
    Commands.PortDataReceived(block.data(), static_cast<std::int32_t>(block.size()), 0, Commands.BlockRead(Epoch));
  }

  // A poll tick asked for the status and the worker has sent the request.
  void AwaitStatus()
  {
    Datas.StatusPolling = true;
    Datas.Answers.Open(Epoch, true);
  }

  static constexpr std::uint64_t Epoch = 7;

  TCommonDatas Datas;
  TRecordingView View;
  TOzmCommands Commands{Datas, View};
};

struct TStatusCase {
  const char* Name;
  TFrame Answer;
  double GearRatio;
  bool MotorStopped;
  // expected
  bool FeedbackOn;
  std::uint8_t Direction;
  std::int32_t RevCounter; // from 0
  double SpeedRpm;
  bool PollingEnds; // the poll timer is switched off
};

class GoodStatusAnswer : public AnswerDecoding, public ::testing::WithParamInterface<TStatusCase> {};

TEST_P(GoodStatusAnswer, SetsTheDriveStatus)
{
  const TStatusCase& c = GetParam();
  Datas.GearRatio = c.GearRatio;
  Datas.MotorStopped = c.MotorStopped;
  AwaitStatus();

  Receive({c.Answer.begin(), c.Answer.end()});

  EXPECT_EQ(Datas.FeedbackOn, c.FeedbackOn);
  EXPECT_EQ(Datas.ActualDirection, c.Direction);
  EXPECT_EQ(Datas.DirectionSign, c.Direction ? -1 : +1);
  EXPECT_EQ(Datas.MotorRevCounter, c.RevCounter);
  EXPECT_DOUBLE_EQ(Datas.CurrentSpeedRpm, c.SpeedRpm);
  EXPECT_FALSE(Datas.StatusPolling);
  std::string bytes;
  for (std::uint8_t b : c.Answer)
    bytes.append("$").append(TOzmCommands::HexByte(b));
  std::vector<std::string> expected;
  if (c.PollingEnds)
    expected.push_back("poll-off");
  expected.insert(expected.end(), {"show", "log InForce " + bytes, "scroll", "answer"});
  EXPECT_EQ(View.Calls, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, GoodStatusAnswer,
    ::testing::Values(
        TStatusCase{"ForwardWithFeedback", {0x00, 0x80, 0x05, 0x11, 0x5E}, 1.0, true, true, 0, 5, 1020.0, false},
        TStatusCase{"ThroughAGearhead", {0x00, 0x80, 0x05, 0x11, 0x5E}, 2.5, true, true, 0, 5, 408.0, false},
        TStatusCase{"BackwardAtRestAfterStop", {0x00, 0x93, 0xE8, 0x00, 0xCF}, 1.0, true, true, 1, -1000, 0.0, true},
        // Speed 0 while a motion runs is a ramp through zero, not the end of polling.
        TStatusCase{"AtRestWhileRunning", {0x00, 0x93, 0xE8, 0x00, 0xCF}, 1.0, false, true, 1, -1000, 0.0, false},
        TStatusCase{"LargestCountBit5Ignored", {0x00, 0x2F, 0xFF, 0x00, 0x4A}, 1.0, true, false, 0, 4095, 0.0, true},
        TStatusCase{"FiveZeroBytes", {0x00, 0x00, 0x00, 0x00, 0x00}, 1.0, true, false, 0, 0, 0.0, true}),
    [](const auto& info) { return info.param.Name; });

TEST_F(AnswerDecoding, OverflowStaysSetUntilCleared)
{
  AwaitStatus();
  Receive({0x00, 0xC0, 0x00, 0x0A, 0x2D});
  EXPECT_TRUE(Datas.CounterOverflow);
  AwaitStatus();
  Receive({0x00, 0x80, 0x05, 0x11, 0x5E});
  EXPECT_TRUE(Datas.CounterOverflow);
}

TEST_F(AnswerDecoding, BadCrcIsReportedAboveTheBytesAndChangesNothing)
{
  AwaitStatus();
  Datas.MotorRevCounter = 7;
  Receive({0x00, 0x80, 0x05, 0x11, 0x5F});

  EXPECT_EQ(View.Calls, (std::vector<std::string>{"log Red " + std::string(CrcErrorText),
                                                  "log InForce $00$80$05$11$5F", "scroll", "answer"}));
  EXPECT_TRUE(Datas.StatusPolling) << "polling goes on";
  EXPECT_EQ(Datas.MotorRevCounter, 7);
  EXPECT_FALSE(Datas.FeedbackOn);
  EXPECT_EQ(Datas.CurrentSpeedRpm, 0.0);

  // The bad answer was the request's answer: the next block (a Stop's echo) is not decoded in its place.
  View.Calls.clear();
  Receive({0x00, 0x93, 0xE8, 0x00, 0xCF});
  EXPECT_EQ(View.Calls, (std::vector<std::string>{"log Red " + std::string(StaleText) + "$00$93$E8$00$CF", "scroll"}));
  EXPECT_EQ(Datas.MotorRevCounter, 7);
  EXPECT_EQ(Datas.Counters.Stale, 1u);
}

// Which block answers which frame: only the first block read after the awaited write, and only
// the status request's answer is decoded. Anything else is stale: said, counted, never an answer.
TEST_F(AnswerDecoding, OnlyTheFirstBlockAfterTheAwaitedWriteIsItsAnswer)
{
  const TBytes good = {0x00, 0x80, 0x05, 0x11, 0x5E}; // +5 revolutions
  const std::string goodLine = "$00$80$05$11$5E";
  const std::string stale = "log Red " + std::string(StaleText) + goodLine;
  const struct {
    const char* Name;
    std::optional<bool> Awaiting; // the gate opened for a status request (true) or a command (false)
    std::uint64_t ReadIn;         // the epoch the block was read in
    bool Twice;                   // the same block comes again
    std::vector<std::string> Calls;
    std::int32_t Counter;
    unsigned Stale;
  } cases[] = {
      {"StatusAnswer", true, Epoch, false, {"show", "log InForce " + goodLine, "scroll", "answer"}, 5, 0},
      {"CommandAnswer", false, Epoch, false, {"log InForce " + goodLine, "scroll", "answer"}, 0, 0},
      {"NothingAwaited", std::nullopt, Epoch, false, {stale, "scroll"}, 0, 1},
      {"ReadBeforeTheWrite", true, Epoch - 1, false, {stale, "scroll"}, 0, 1},
      {"ReadAfterALaterWrite", false, Epoch + 1, false, {stale, "scroll"}, 0, 1},
      {"SecondBlock", true, Epoch, true, {"show", "log InForce " + goodLine, "scroll", "answer", stale, "scroll"}, 5,
       1},
  };
  for (const auto& c : cases) {
    TCommonDatas datas;
    TRecordingView view;
    TOzmCommands commands(datas, view);
    if (c.Awaiting)
      datas.Answers.Open(Epoch, *c.Awaiting);
    for (int i = 0; i < (c.Twice ? 2 : 1); ++i)
      commands.PortDataReceived(good.data(), 5, 0, commands.BlockRead(c.ReadIn));
    EXPECT_EQ(view.Calls, c.Calls) << c.Name;
    EXPECT_EQ(datas.MotorRevCounter, c.Counter) << c.Name;
    EXPECT_EQ(datas.Counters.Stale, c.Stale) << c.Name;
    EXPECT_EQ(datas.Counters.AnswersReceived, c.Calls.back() == "answer" || c.Twice) << c.Name;
    if (c.Awaiting) {
      EXPECT_EQ(datas.Answers.Close(), c.Calls.size() > 2) << c.Name << ": the worker learns whether it was answered";
    }
  }
}

// Not polling, or polling asked for by a tick while the request has not gone out yet (the block is
// the answer to one of a Run's commands): the block is only logged.
TEST_F(AnswerDecoding, BlockWhileNoStatusRequestIsOutIsOnlyLogged)
{
  for (const bool polling : {false, true}) {
    View.Calls.clear();
    Datas.StatusPolling = polling;
    Datas.Answers.Open(Epoch, false);
    Receive({0x00, 0x80, 0x05, 0x11, 0x5E});
    EXPECT_EQ(View.Calls, (std::vector<std::string>{"log InForce $00$80$05$11$5E", "scroll", "answer"})) << polling;
    EXPECT_EQ(Datas.MotorRevCounter, 0) << polling;
    EXPECT_FALSE(Datas.FeedbackOn) << polling;
  }
}

TEST_F(AnswerDecoding, RevolutionCounterWrapsLikeASigned32BitSum)
{
  Datas.MotorRevCounter = std::numeric_limits<std::int32_t>::max();
  AwaitStatus();
  Receive({0x00, 0x80, 0x05, 0x11, 0x5E}); // +5
  EXPECT_EQ(Datas.MotorRevCounter, std::numeric_limits<std::int32_t>::min() + 4);
  AwaitStatus();
  Receive({0x00, 0x93, 0xE8, 0x00, 0xCF}); // -1000
  EXPECT_EQ(Datas.MotorRevCounter, std::numeric_limits<std::int32_t>::max() - 995);
}

// A block of the wrong length is never decoded, neither from bytes past its end nor from an earlier
// block's leftovers, and it never ends the wait for a status answer.
TEST_F(AnswerDecoding, ShortAndLongBlocksAreNotDecoded)
{
  const struct {
    std::vector<std::uint8_t> Block;
    const char* Line;
  } cases[] = {
      {{0x00, 0x80, 0x05}, "$00$80$05"},
      {{0x00, 0x80, 0x05, 0x11, 0x5E, 0x00}, "$00$80$05$11$5E$00"},
      {{}, ""},
  };
  for (const auto& c : cases) {
    View.Calls.clear();
    AwaitStatus();
    Receive({0x00, 0x80, 0x05, 0x11, 0x5F}); // leaves a nearly good answer behind
    View.Calls.clear();
    AwaitStatus();
    Receive(c.Block);
    EXPECT_EQ(View.Calls, (std::vector<std::string>{"log Red " + std::string(CrcErrorText),
                                                    "log InForce " + std::string(c.Line), "scroll", "answer"}))
        << c.Line;
    EXPECT_TRUE(Datas.StatusPolling);
    EXPECT_EQ(Datas.MotorRevCounter, 0);
  }
}

// A damaged acknowledgement of a command counts as a checksum failure, as a damaged status answer
// does; it is still the command's answer, and nothing is decoded from it.
TEST_F(AnswerDecoding, DamagedCommandAnswerIsCountedNotDecoded)
{
  Datas.Answers.Open(Epoch, false);
  Receive({0x00, 0xA5, 0x05, 0x00, 0x00});
  EXPECT_EQ(View.Calls, (std::vector<std::string>{"log InForce $00$A5$05$00$00", "scroll", "answer"}));
  EXPECT_EQ(Datas.Counters.ChecksumFailures, 1u);
  EXPECT_EQ(Datas.MotorRevCounter, 0);
}

TEST_F(AnswerDecoding, NoDataPointerLogsAnEmptyLineAndStillSignals)
{
  Datas.Answers.Open(Epoch, false);
  Commands.PortDataReceived(nullptr, 5, 0, Commands.BlockRead(Epoch));
  EXPECT_EQ(View.Calls, (std::vector<std::string>{"log InForce ", "scroll", "answer"}));
}

} // namespace

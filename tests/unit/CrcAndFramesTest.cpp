#include "CasePrinter.h"
#include "RecordingView.h"
#include "protocol/BusScanTimeout.h"
#include "protocol/CommonDatas.h"
#include "protocol/OzmCommands.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string_view>

namespace {

using CasePrinter::PrintTo;

TEST(Crc8, CheckValueOfTheNineDigits)
{
  std::uint8_t crc = 0;
  for (char c : std::string_view("123456789"))
    crc = TOzmCommands::Crc8Step(static_cast<std::uint8_t>(c), crc);
  EXPECT_EQ(crc, 0xA1);
}

TEST(Crc8, CountsOnlyTheFirstCountBytes)
{
  EXPECT_EQ(TOzmCommands::Crc8(2, 0x01, 0x50, 0x99, 0x77, 0x55), 0x1F);
  EXPECT_EQ(TOzmCommands::Crc8(4, 0x00, 0x00, 0x00, 0x00, 0xAB), 0x00);
  EXPECT_EQ(TOzmCommands::Crc8(5, 0x00, 0x80, 0x05, 0x11, 0x5E), 0x00); // an answer folds to 0 with its CRC
}

struct TFrameCase {
  const char* Name;
  std::uint8_t Address;
  bool Broadcast;
  std::uint8_t Command;
  std::uint8_t Value;
  TFrame Expected;
};

class QueuedFrame : public ::testing::TestWithParam<TFrameCase> {};

TEST_P(QueuedFrame, HasTheKnownBytesAndMemoLine)
{
  const TFrameCase& c = GetParam();
  TCommonDatas datas;
  TRecordingView view;
  TOzmCommands commands(datas, view);
  datas.MotorAddress = c.Address;
  if (c.Broadcast)
    commands.QueueBroadcastFrame(c.Command, c.Value);
  else
    commands.QueueFrame(c.Command, c.Value);

  EXPECT_EQ(datas.QueueCount, 1);
  EXPECT_EQ(datas.CommandQueue[0], c.Expected);
  std::string hex;
  for (std::uint8_t b : c.Expected)
    hex += TOzmCommands::HexByte(b);
  EXPECT_EQ(view.MemoLines(), std::vector<std::string>{hex});
}

INSTANTIATE_TEST_SUITE_P(
    Frames, QueuedFrame,
    ::testing::Values(
        TFrameCase{"StopToAddress1", 1, false, CmdStop, 0, {0xE6, 0x01, 0x52, 0x00, 0x4D}},
        // The CRC equals the marker here, and the frame still goes out unchanged.
        TFrameCase{"StopToAddress0", 0, false, CmdStop, 0, {0xE6, 0x00, 0x52, 0x00, 0xE6}},
        TFrameCase{"RunToAddress0", 0, false, CmdRun, 0, {0xE6, 0x00, 0x51, 0x00, 0xB3}},
        TFrameCase{"EncoderToAddress0", 0, false, CmdSetEncoder, 2, {0xE6, 0x00, 0xA2, 0x02, 0xC3}},
        // The broadcast ignores the address of the motor.
        TFrameCase{"AddressBegin", 7, true, CmdAddressSetBegin, 5, {0xE6, 0xFF, 0xA0, 0x05, 0x03}}),
    [](const auto& info) { return info.param.Name; });

TEST(QueueFrame, MemoLineIsTenUpperCaseDigits)
{
  TCommonDatas datas;
  TRecordingView view;
  TOzmCommands commands(datas, view);
  datas.MotorAddress = 1;
  commands.QueueFrame(CmdStop, 0);
  EXPECT_EQ(view.MemoLines(), std::vector<std::string>{"E60152004D"});
}

TEST(QueueFrame, EighthFrameChangesNothing)
{
  TCommonDatas datas;
  TRecordingView view;
  TOzmCommands commands(datas, view);
  for (std::uint8_t i = 0; i < 7; ++i)
    commands.QueueFrame(CmdSetSpeed, i);
  const TCommandQueue before = datas.CommandQueue;

  commands.QueueFrame(CmdStop, 0);

  EXPECT_EQ(datas.QueueCount, 7);
  EXPECT_EQ(datas.CommandQueue, before);
  EXPECT_EQ(view.MemoLines().size(), 7u);
}

TEST(QueueFrame, UsesTheAddressAtQueueTime)
{
  TCommonDatas datas;
  TRecordingView view;
  TOzmCommands commands(datas, view);
  datas.MotorAddress = 0x1A;
  commands.QueueFrame(CmdSetEncoder, 2);
  datas.MotorAddress = 3;
  commands.QueueFrame(CmdSetMaxSpeed, 67);
  EXPECT_EQ(datas.CommandQueue[0][1], 0x1A);
  EXPECT_EQ(datas.CommandQueue[1][1], 3);
  EXPECT_EQ(datas.CommandQueue[1][4], TOzmCommands::Crc8(3, 3, CmdSetMaxSpeed, 67));
}

TEST(ClearQueue, KeepsSlotBytesButEmptiesTheCount)
{
  TCommonDatas datas;
  TRecordingView view;
  TOzmCommands commands(datas, view);
  datas.MotorAddress = 1;
  commands.QueueFrame(CmdStop, 0);
  datas.ClearQueue();
  EXPECT_EQ(datas.QueueCount, 0);
  EXPECT_EQ(datas.CommandQueue[0], (TFrame{0x00, 0x01, 0x52, 0x00, 0x4D}));
}

TEST(StatusRequest, IsFourBytesWithTheAddressCrc)
{
  EXPECT_EQ(TOzmCommands::StatusRequestFor(0), (TStatusRequest{0xE6, 0x00, 0x50, 0xDB}));
  EXPECT_EQ(TOzmCommands::StatusRequestFor(1), (TStatusRequest{0xE6, 0x01, 0x50, 0x1F}));

  TCommonDatas datas;
  TRecordingView view;
  TOzmCommands commands(datas, view);
  datas.MotorAddress = 1;
  commands.BuildStatusRequest();
  EXPECT_EQ(datas.StatusRequest.load(), (TStatusRequest{0xE6, 0x01, 0x50, 0x1F}));
  EXPECT_TRUE(view.Calls.empty()) << "the status request is never shown in the memo";
}

// The four-byte request and the five-byte answer on the wire, rounded up, plus 20 ms; at least 30 ms.
TEST(BusScanTimeout, CoversBothFramesAtTheLineSettingsAndNeverDropsBelowThirty)
{
  const struct {
    std::uint32_t Baud;
    unsigned DataBits;
    bool Parity, TwoStop;
    long Ms;
  } cases[] = {
      {115200, 8, false, false, 30}, {9600, 8, false, false, 30}, // fast lines keep the old 30 ms
      {9600, 8, true, false, 31},    {4800, 8, false, false, 39}, {2400, 8, false, false, 58},
      {2400, 7, false, false, 54},   {2400, 8, false, true, 62},  {2400, 8, true, true, 65}, // 45 ms exactly
      {300, 5, false, false, 230},   {110, 8, false, false, 839}, {0, 8, false, false, 30},
  };
  for (const auto& c : cases)
    EXPECT_EQ(BusScanTimeout(c.Baud, c.DataBits, c.Parity, c.TwoStop).count(), c.Ms)
        << c.Baud << " " << c.DataBits << (c.Parity ? "E" : "N") << (c.TwoStop ? 2 : 1);
}

TEST(RpmToRps, RoundsHalfUpAndStaysInAByte)
{
  const struct {
    double Rpm;
    int Rps;
  } cases[] = {
      {4000, 67}, {4010, 67}, {3990, 67}, {3989, 66}, {15000, 250}, {1000, 17}, {30, 1}, {29.9, 0},
      {0, 0},     {-60, 0},   {1e9, 255}, {std::numeric_limits<double>::quiet_NaN(), 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TOzmCommands::RpmToRps(c.Rpm), c.Rps) << c.Rpm << " rpm";
}

TEST(HexByte, IsTwoUpperCaseDigits)
{
  EXPECT_EQ(TOzmCommands::HexByte(0x00), "00");
  EXPECT_EQ(TOzmCommands::HexByte(0x0A), "0A");
  EXPECT_EQ(TOzmCommands::HexByte(0xE6), "E6");
  EXPECT_EQ(TOzmCommands::HexByte(0xFF), "FF");
  EXPECT_EQ(TOzmCommands::HexAddress(0x0A), "$0A") << "an address as the panels show it";
}

TEST(CommonDatas, StartsWithTheDefaults)
{
  const TCommonDatas d;
  EXPECT_EQ(d.AnswerTimeout, 300);
  EXPECT_EQ(d.MotorAddress, 0);
  EXPECT_EQ(d.EncoderPulses, 2);
  EXPECT_EQ(d.MaxSpeedRps, 67);
  EXPECT_EQ(d.GearRatio, 1.0);
  EXPECT_EQ(d.WorkSpeedRps, 16);
  EXPECT_EQ(d.Acceleration, 24);
  EXPECT_EQ(d.Deceleration, 24);
  EXPECT_EQ(d.WorkDirection, 0);
  EXPECT_EQ(d.MotionType, 0);
  EXPECT_EQ(d.MotionTimeMs, 10000u);
  EXPECT_TRUE(d.MotorStopped);
  EXPECT_EQ(d.DirectionSign, +1);
  EXPECT_FALSE(d.StatusPolling);
  EXPECT_EQ(d.QueueCount, 0);
  EXPECT_EQ(d.StatusRequest.load(), (TStatusRequest{0xE6, 0x00, 0x50, 0x00}));
  EXPECT_FALSE(d.FeedbackOn);
  EXPECT_FALSE(d.CounterOverflow);
  EXPECT_EQ(d.ActualDirection, 0);
  EXPECT_EQ(d.MotorRevCounter, 0);
  EXPECT_EQ(d.CurrentSpeedRpm, 0.0);
  EXPECT_EQ(d.NewAddress, 0);
  EXPECT_FALSE(d.AddressSetStarted);
  EXPECT_FALSE(d.AddressSetFinished);
  for (const TFrame& slot : d.CommandQueue)
    EXPECT_EQ(slot[0], 0);
}

} // namespace

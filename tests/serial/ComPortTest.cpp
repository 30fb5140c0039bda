#include "serial/ComPort.h"
#include "MainThreadWait.h"
#include "PtyPair.h"
#include "TempDir.h"
#include "serial/ReadThread.h"
#include "serial/Synchronizer.h"

#include <gtest/gtest.h>

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <chrono>
#include <thread>
#include <vector>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace {

using namespace std::chrono_literals;
using TBytes = std::vector<std::uint8_t>;

class ComPortTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    Data.Link("COM7", Pty.SlavePath());
    Port.DataFolder = Data.Path();
    Port.SetPortNumber(7);
    Port.SetByteSize(3);
    Port.SetBaudIndex(6);
    Port.OnReceive = [this](const std::uint8_t* data, std::int32_t count, std::uint32_t, std::uint32_t) {
      Blocks.emplace_back(data, data + count);
    };
  }

  bool BlocksArrive(std::size_t count, std::chrono::milliseconds timeout = 2s)
  {
    return WaitOnMain([&] { return Blocks.size() >= count; }, timeout);
  }

  TTempDir Data;
  TPtyPair Pty;
  TComPort Port;
  std::vector<TBytes> Blocks;
};

TEST_F(ComPortTest, OpensAndClosesAndRepeatsAreHarmless)
{
  ASSERT_TRUE(Port.Open());
  EXPECT_TRUE(Port.IsOpen());
  const TReadThread* thread = Port.ReadThread.get();
  EXPECT_TRUE(Port.Open());
  EXPECT_EQ(Port.ReadThread.get(), thread) << "a second open changes nothing";
  Port.Close();
  EXPECT_FALSE(Port.IsOpen());
  EXPECT_EQ(Port.ReadThread, nullptr);
  Port.Close();
  EXPECT_FALSE(Port.IsOpen());
  EXPECT_TRUE(Port.Open()) << "the device can be opened again";
}

TEST_F(ComPortTest, SecondOpenOfTheSameDeviceFails)
{
  ASSERT_TRUE(Port.Open());
  TComPort other;
  other.DataFolder = Data.Path();
  other.SetPortNumber(7);
  EXPECT_FALSE(other.Open());
  Port.Close();
  EXPECT_TRUE(other.Open()) << "free again once the first port closed";
}

TEST_F(ComPortTest, DeviceNamesFollowThePortNumber)
{
  TComPort port;
  port.DataFolder = Data.Path();
  EXPECT_EQ(port.DeviceName(), "") << "port 0 names no device";
  EXPECT_FALSE(port.Open());
  port.SetPortNumber(7);
  EXPECT_EQ(port.DeviceName(), Data.Path() + "/COM7");
  port.SetPortNumber(12);
  EXPECT_EQ(port.DeviceName(), "/dev/ttyS11") << "no link: the machine's own serial port";
  port.SetPortNumber(255);
  EXPECT_EQ(port.DeviceName(), "/dev/ttyS254");
  EXPECT_FALSE(port.Open());
}

// A pseudo-terminal keeps only the rate and the stop bits: its driver forces 8 data bits without parity.
TEST_F(ComPortTest, LineSettingsReachTheDevice)
{
  ASSERT_TRUE(Port.Open());
  for (std::uint8_t index = 0; index < TComPort::BaudRates.size(); ++index) {
    Port.SetBaudIndex(index);
    TLineSettings s;
    ASSERT_TRUE(Port.ReadBackSettings(s));
    EXPECT_EQ(s.Baud, TComPort::BaudRates[index]);
  }
  const struct {
    std::uint8_t StopBits;
    std::uint8_t Expected;
  } stops[] = {{0, 0}, {2, 2}, {1, 2}}; // 1.5 stop bits are two on this line
  for (const auto& c : stops) {
    Port.SetStopBits(c.StopBits);
    TLineSettings s;
    ASSERT_TRUE(Port.ReadBackSettings(s));
    EXPECT_EQ(s.StopBits, c.Expected) << int(c.StopBits);
  }
}

// RS-485 mode is a wish: a pseudo-terminal has none, which is said with the device, and the line
// carries bytes both ways all the same. A later change takes the note back.
TEST_F(ComPortTest, Rs485ModeRefusedOnAPtyWithItsReason)
{
  const std::string none = "RS-485 mode not set: " + Pty.SlavePath() +
                           " has none (a pseudo-terminal or a USB adapter, which switches direction itself); the "
                           "port works without it.";
  const struct {
    bool Rs485;
    std::string Note;
  } cases[] = {{true, none}, {false, ""}, {true, none}};
  ASSERT_TRUE(Port.Open());
  Port.SetReading(true);
  for (const auto& c : cases) {
    Port.SetRs485(c.Rs485);
    EXPECT_EQ(Port.SettingsNote(), c.Note) << c.Rs485;
    Blocks.clear();
    Pty.WriteMaster({1, 2, 3, 4, 5});
    EXPECT_TRUE(BlocksArrive(1)) << c.Rs485;
    const TBytes frame{0xE6, 0x00, 0x50, 0x00, 0x3C};
    EXPECT_TRUE(Port.WriteBytes(frame.data(), frame.size()));
    EXPECT_EQ(Pty.ReadMaster(frame.size(), 2s), frame) << c.Rs485;
  }
}

TEST_F(ComPortTest, UnchangedSettingDoesNotReconfigure)
{
  ASSERT_TRUE(Port.Open());
  // Another hand changes the line behind the port's back.
  termios2 tio{};
  ASSERT_EQ(::ioctl(Pty.SlaveFd(), TCGETS2, &tio), 0);
  tio.c_ospeed = tio.c_ispeed = 300;
  ASSERT_EQ(::ioctl(Pty.SlaveFd(), TCSETS2, &tio), 0);

  TLineSettings s;
  Port.SetBaudIndex(6);
  ASSERT_TRUE(Port.ReadBackSettings(s));
  EXPECT_EQ(s.Baud, 300u);
  Port.SetBaudIndex(8);
  ASSERT_TRUE(Port.ReadBackSettings(s));
  EXPECT_EQ(s.Baud, 19200u);
}

TEST_F(ComPortTest, BytesOfOneAnswerFormOneBlock)
{
  ASSERT_TRUE(Port.Open());
  Port.SetReading(true);
  Pty.WriteMaster({1, 2, 3, 4});
  Pty.WriteMaster({5}); // the rest of the answer, well within its silence
  ASSERT_TRUE(BlocksArrive(1));
  EXPECT_EQ(Blocks, (std::vector<TBytes>{{1, 2, 3, 4, 5}}));
}

// A byte lost or one too many must not shift every later answer: bytes short of a block that
// stay alone on a silent line are handed over by themselves, and the next answer is whole again.
TEST_F(ComPortTest, PartialBlockAfterASilenceIsHandedOverAlone)
{
  ASSERT_TRUE(Port.Open());
  Port.SetReading(true);
  const auto start = std::chrono::steady_clock::now();
  Pty.WriteMaster({1, 2, 3, 4});
  ASSERT_TRUE(BlocksArrive(1));
  EXPECT_GE(std::chrono::steady_clock::now() - start, Port.ReadThread->PartialBlockTimeout());
  Pty.WriteMaster({6, 7, 8, 9, 10, 11});
  ASSERT_TRUE(BlocksArrive(3));
  EXPECT_EQ(Blocks, (std::vector<TBytes>{{1, 2, 3, 4}, {6, 7, 8, 9, 10}, {11}}));
}

TEST_F(ComPortTest, SilenceBeforeAPartialBlockFollowsTheRate)
{
  ASSERT_TRUE(Port.Open());
  Port.SetBaudIndex(0); // 110 baud: a character takes 91 ms
  EXPECT_GE(Port.ReadThread->PartialBlockTimeout(), 4 * 90ms);
  Port.SetBaudIndex(12);
  EXPECT_LT(Port.ReadThread->PartialBlockTimeout(), 40ms);
}

TEST_F(ComPortTest, TwoBlocksInOneBurstAreBothDelivered)
{
  ASSERT_TRUE(Port.Open());
  Port.SetReading(true);
  Pty.WriteMaster({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  ASSERT_TRUE(BlocksArrive(2)) << "the second block must not wait for another byte";
  EXPECT_EQ(Blocks, (std::vector<TBytes>{{1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}}));
}

TEST_F(ComPortTest, NothingIsDeliveredBeforeReadingStarts)
{
  ASSERT_TRUE(Port.Open());
  Pty.WriteMaster({1, 2, 3, 4, 5});
  EXPECT_FALSE(BlocksArrive(1, 300ms));
  Port.SetReading(true);
  ASSERT_TRUE(BlocksArrive(1));
  Port.SetReading(false);
  Pty.WriteMaster({6, 7, 8, 9, 10});
  EXPECT_FALSE(BlocksArrive(2, 300ms)) << "reading stopped again";
}

TEST_F(ComPortTest, BlockSizeChangesOnlyWhileClosed)
{
  Port.SetInBufSize(0);
  EXPECT_EQ(Port.InBufSize(), 5u);
  ASSERT_TRUE(Port.Open());
  Port.SetInBufSize(8);
  EXPECT_EQ(Port.InBufSize(), 5u);
  Port.Close();
  Port.SetInBufSize(8);
  EXPECT_EQ(Port.InBufSize(), 8u);

  ASSERT_TRUE(Port.Open());
  Port.SetReading(true);
  Pty.WriteMaster({1, 2, 3, 4, 5, 6, 7});
  Pty.WriteMaster({8});
  ASSERT_TRUE(BlocksArrive(1));
  EXPECT_EQ(Blocks[0].size(), 8u);
}

TEST_F(ComPortTest, CloseWhileADeliveryWaitsForTheWindowDoesNotHang)
{
  ASSERT_TRUE(Port.Open());
  Port.SetReading(true);
  Pty.WriteMaster({1, 2, 3, 4, 5});
  // The receive thread now waits for this thread to run its delivery; Close must still return.
  Port.Close();
  EXPECT_FALSE(Port.IsOpen());
  TSynchronizer::Instance().ProcessPending(); // a block read before the close, still on its way
  EXPECT_TRUE(Blocks.empty()) << "a closing port delivers nothing more";
}

// A line that floods while the window's thread is busy: reading runs ahead of it by a bounded number of
// blocks, then waits; nothing read is lost once the window's thread is back.
TEST_F(ComPortTest, ReadingRunsAheadOfABusyWindowByABoundedNumberOfBlocks)
{
  ASSERT_TRUE(Port.Open());
  Port.SetReading(true);
  const std::size_t blocks = 3 * TReadThread::AheadMost;
  Pty.WriteMaster(TBytes(5 * blocks, 0x55));
  TSynchronizer& sync = TSynchronizer::Instance();
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (sync.PendingCount() < TReadThread::AheadMost && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(5ms); // busy: this thread runs none of the pending calls
  std::this_thread::sleep_for(200ms); // room for a reader that would not stop there
  EXPECT_EQ(sync.PendingCount(), TReadThread::AheadMost);
  ASSERT_TRUE(BlocksArrive(blocks));
  EXPECT_EQ(Blocks.size(), blocks);
}

TEST_F(ComPortTest, ClearErrorsCountsTheWaitingBytes)
{
  ASSERT_TRUE(Port.Open()); // not reading: the bytes stay queued
  Pty.WriteMaster({1, 2, 3});
  TLineStatus status;
  ASSERT_TRUE(PollUntil([&] { return (status = Port.ClearErrors()).InQueue == 3; }));
  EXPECT_EQ(status.Errors, 0u) << "a pseudo-terminal has no line errors";
}

TEST_F(ComPortTest, ModemStatusOfALineWithoutModemLinesIsZero)
{
  ASSERT_TRUE(Port.Open());
  EXPECT_EQ(Port.ModemStatus(), 0u);
  Port.Close();
  EXPECT_NE(Port.ModemStatus(), 0u) << "a closed port is a failed line";
}

// A block read under the epoch before a frame's write would pass for that frame's answer.
TEST_F(ComPortTest, ReadUnderTheEpochBeforeAWriteGetsNothing)
{
  ASSERT_TRUE(Port.Open()); // not reading: the test reads
  const std::uint64_t before = Port.Epoch();
  ASSERT_TRUE(Port.WriteFrame(TBytes{0xE6, 0x00, 0x50, 0xDB}, [](TBytes) {}));
  Pty.WriteMaster({1, 2, 3, 4, 5});
  ASSERT_TRUE(PollUntil([&] { return Port.ClearErrors().InQueue == 5; }));
  std::uint8_t block[5] = {};
  EXPECT_EQ(Port.ReadQueued(block, sizeof block, before), 0u);
  EXPECT_EQ(Port.ReadQueued(block, sizeof block, Port.Epoch()), 5u) << "the bytes stay for the new epoch";
}

TEST_F(ComPortTest, WritesReachTheOtherSide)
{
  ASSERT_TRUE(Port.Open());
  const TBytes frame = {0xE6, 0x01, 0x52, 0x00, 0x4D};
  EXPECT_TRUE(Port.WriteBlock(frame));
  EXPECT_EQ(Pty.ReadMaster(5, 2s), frame);
  Port.Close();
  EXPECT_FALSE(Port.WriteBytes(frame.data(), frame.size())) << "no device, no write";
}

} // namespace

#include "protocol/OzmCommands.h"

#include "protocol/BusListener.h"
#include "protocol/ConsoleView.h"

#include <algorithm>
#include <cmath>

TOzmCommands::TOzmCommands(TCommonDatas& datas, TConsoleView& view)
    : Datas(datas), View(view)
{
}

std::uint8_t TOzmCommands::Crc8Step(std::uint8_t data, std::uint8_t crc)
{
  for (int bit = 0; bit < 8; ++bit) {
    if ((data ^ crc) & 0x01)
      crc = static_cast<std::uint8_t>(((crc ^ 0x18) >> 1) | 0x80);
    else
      crc = static_cast<std::uint8_t>(crc >> 1);
    data = static_cast<std::uint8_t>(data >> 1);
  }
  return crc;
}

std::uint8_t TOzmCommands::Crc8(std::uint8_t count, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3,
                                std::uint8_t b4, std::uint8_t b5)
{
  const std::uint8_t bytes[] = {b1, b2, b3, b4, b5};
  // b1 is always folded in; there are no bytes past the fifth.
  return Crc8(std::span(bytes, std::clamp<std::size_t>(count, 1, 5)));
}

std::uint8_t TOzmCommands::Crc8(std::span<const std::uint8_t> bytes)
{
  std::uint8_t crc = 0;
  for (std::uint8_t b : bytes)
    crc = Crc8Step(b, crc);
  return crc;
}

std::string TOzmCommands::HexByte(std::uint8_t value)
{
  static constexpr char Digits[] = "0123456789ABCDEF";
  return {Digits[value >> 4], Digits[value & 0x0F]};
}

std::string TOzmCommands::HexAddress(std::uint8_t address)
{
  return std::string("$").append(HexByte(address));
}

std::uint8_t TOzmCommands::RpmToRps(double rpm)
{
  const double rps = rpm / 60.0;
  if (!(rps > 0.0)) // also NaN
    return 0;
  double whole = std::trunc(rps);
  if (rps - whole >= 0.5)
    whole += 1.0;
  return static_cast<std::uint8_t>(std::min(whole, 255.0));
}

TStatusRequest TOzmCommands::StatusRequestFor(std::uint8_t address)
{
  return {FrameMarker, address, CmdGetStatus, Crc8(2, address, CmdGetStatus)};
}

TFrame TOzmCommands::FrameFor(std::uint8_t address, std::uint8_t command, std::uint8_t value)
{
  return {FrameMarker, address, command, value, Crc8(3, address, command, value)};
}

void TOzmCommands::QueueFrame(std::uint8_t command, std::uint8_t value)
{
  QueueAddressedFrame(Datas.MotorAddress, command, value);
}

void TOzmCommands::QueueBroadcastFrame(std::uint8_t command, std::uint8_t value)
{
  QueueAddressedFrame(BroadcastAddress, command, value);
}

void TOzmCommands::QueueAddressedFrame(std::uint8_t address, std::uint8_t command, std::uint8_t value)
{
  const std::uint8_t slot = Datas.QueueCount;
  if (slot >= QueueSlots) // the seven slots are full: the frame is dropped
    return;
  TFrame& frame = Datas.CommandQueue[slot];
  frame = FrameFor(address, command, value);
  View.AppendMemo(MemoText(frame));
  Datas.QueueCount = static_cast<std::uint8_t>(slot + 1);
}

void TOzmCommands::BuildStatusRequest()
{
  Datas.StatusRequest = StatusRequestFor(Datas.MotorAddress);
}

std::string TOzmCommands::MemoText(std::span<const std::uint8_t> bytes)
{
  std::string text;
  for (std::uint8_t b : bytes)
    text += HexByte(b);
  return text;
}

std::string TOzmCommands::LogBytes(std::span<const std::uint8_t> bytes)
{
  std::string text;
  for (std::uint8_t b : bytes) {
    text += '$';
    text += HexByte(b);
  }
  return text;
}

void TOzmCommands::ReportStale(TCommonDatas& datas, TConsoleView& view, std::span<const std::uint8_t> bytes)
{
  ++datas.Counters.Stale;
  view.AppendLog(StaleText + LogBytes(bytes), TLogColour::Red, false);
  view.ScrollLogToEnd();
}

// The kind in the low byte, the bus address asked above it.
std::uint32_t TOzmCommands::BlockRead(std::uint64_t epoch)
{
  std::uint8_t busAddress = 0;
  const TAnswerGate::TBlock kind = Datas.Answers.Take(epoch, &busAddress);
  return static_cast<std::uint32_t>(kind) | std::uint32_t{busAddress} << 8;
}

void TOzmCommands::PortDataReceived(const std::uint8_t* data, std::int32_t count, std::uint32_t /*errors*/,
                                    std::uint32_t claim)
{
  const std::span<const std::uint8_t> block(data, data ? static_cast<std::size_t>(std::max(count, 0)) : 0);
  const auto kind = static_cast<TAnswerGate::TBlock>(claim & 0xFF);
  const auto busAddress = static_cast<std::uint8_t>(claim >> 8);
  if (kind == TAnswerGate::TBlock::Stale) {
    ReportStale(Datas, View, block);
    return;
  }
  Datas.Counters.BlockReceived(block.size());
  if (kind == TAnswerGate::TBlock::BusStatusAnswer) {
    // The bus round is told in the bus view, not line by line in the log, which eight controllers
    // polled in turn would flood; the line's counters count it as any other answer.
    if (block.size() != TFrame{}.size() || Crc8(block.first(4)) != block[4])
      ++Datas.Counters.ChecksumFailures;
    if (Bus)
      Bus->StatusAnswered(busAddress, block);
    View.AnswerReceived();
    return;
  }
  // A command's acknowledgement is not decoded, but a damaged one is counted like any other.
  if (kind == TAnswerGate::TBlock::Answer && block.size() == TFrame{}.size() &&
      Crc8(block.first(4)) != block[4])
    ++Datas.Counters.ChecksumFailures;
  if (Bus && kind == TAnswerGate::TBlock::StatusAnswer)
    Bus->StatusAnswered(Datas.StatusRequest.load()[1], block);
  if (kind == TAnswerGate::TBlock::StatusAnswer) {
    // Only a whole five-byte block can be an answer; a shorter or longer one fails like a bad checksum.
    if (block.size() == TFrame{}.size()) {
      TFrame answer;
      std::copy(block.begin(), block.end(), answer.begin());
      DecodeAnswer(answer);
    } else {
      ++Datas.Counters.ChecksumFailures;
      View.AppendLog(CrcErrorText, TLogColour::Red, false);
    }
  }
  View.AppendLog(LogBytes(block), TLogColour::InForce, false);
  View.ScrollLogToEnd();
  View.AnswerReceived();
}

void TOzmCommands::DecodeAnswer(const TFrame& answer)
{
  if (Crc8(std::span(answer).first(4)) != answer[4]) {
    ++Datas.Counters.ChecksumFailures;
    View.AppendLog(CrcErrorText, TLogColour::Red, false);
    return;
  }
  const std::uint8_t status = answer[1];
  Datas.FeedbackOn = status & 0x80;
  if (status & 0x40)
    Datas.CounterOverflow = true; // sticky until the operator clears the counters
  const bool backward = status & 0x10;
  Datas.DirectionSign = backward ? -1 : +1;
  Datas.ActualDirection = backward ? 1 : 0;

  const std::int32_t count = (status & 0x0F) * 256 + answer[2];
  // Signed 32-bit sum that wraps like the controller's counter instead of overflowing.
  const auto sum = static_cast<std::uint32_t>(Datas.MotorRevCounter) +
                   static_cast<std::uint32_t>(count * Datas.DirectionSign);
  Datas.SetMotorRevCounter(static_cast<std::int32_t>(sum));

  const std::uint8_t speed = answer[3];
  if (speed == 0 && Datas.MotorStopped) {
    View.DisablePollTimer();
    Datas.StatusPolling = false;
  }
  Datas.CurrentSpeedRpm = speed * 60.0 / Datas.GearRatio;
  Datas.StatusPolling = false;
  View.ShowMotorState();
  View.StatusDecoded();
}

std::string TOzmCommands::CommandWords(std::uint8_t code)
{
  static constexpr std::pair<std::uint8_t, std::string_view> Names[] = {
      {CmdGetStatus, "the status request"},          {CmdRun, "run"},
      {CmdStop, "stop"},                             {CmdAddressSetBegin, "begin the address setting"},
      {CmdAddressSetEnd, "end the address setting"}, {CmdSetEncoder, "set encoder pulses"},
      {CmdSetSpeed, "set speed"},                    {CmdSetMaxSpeed, "set maximum speed"},
      {CmdSetAccel, "set acceleration"},             {CmdSetDecel, "set deceleration"},
      {CmdSetDirection, "set direction"}};
  const auto* found = std::find_if(std::begin(Names), std::end(Names), [&](auto& n) { return n.first == code; });
  const std::string words = found == std::end(Names) ? "command" : std::string(found->second);
  return words + " (" + HexByte(code) + ")";
}

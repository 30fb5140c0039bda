#pragma once

#include "protocol/CommonDatas.h"

#include <cstdint>
#include <span>
#include <string>

class TBusListener;
class TConsoleView;

// Command codes and the frame marker of the controller's line protocol.
inline constexpr std::uint8_t FrameMarker = 0xE6;
inline constexpr std::uint8_t BroadcastAddress = 0xFF;
inline constexpr std::uint8_t CmdGetStatus = 0x50;
inline constexpr std::uint8_t CmdRun = 0x51;
inline constexpr std::uint8_t CmdStop = 0x52;
inline constexpr std::uint8_t CmdAddressSetBegin = 0xA0;
inline constexpr std::uint8_t CmdAddressSetEnd = 0xA1;
inline constexpr std::uint8_t CmdSetEncoder = 0xA2;
inline constexpr std::uint8_t CmdSetSpeed = 0xA3;
inline constexpr std::uint8_t CmdSetMaxSpeed = 0xA4;
inline constexpr std::uint8_t CmdSetAccel = 0xA5;
inline constexpr std::uint8_t CmdSetDecel = 0xA6;
inline constexpr std::uint8_t CmdSetDirection = 0xA7;

inline constexpr const char* StaleText = "Stale bytes dropped, not an answer: ";
inline constexpr const char* CrcErrorText =
    "CRC error - data transferring failure. Speed and shaft position information can be incorrect.";

// Builds the frames of the command queue, checks the CRC-8 of answers and turns a good status answer
// into drive status. Holds no state of its own: the queue and the status live in TCommonDatas.
class TOzmCommands {
public:
  TOzmCommands(TCommonDatas& datas, TConsoleView& view);

  // CRC-8/MAXIM-DOW: polynomial 0x31 taken least significant bit first, start 0, no final XOR.
  static std::uint8_t Crc8Step(std::uint8_t data, std::uint8_t crc);
  static std::uint8_t Crc8(std::uint8_t count, std::uint8_t b1, std::uint8_t b2 = 0, std::uint8_t b3 = 0,
                           std::uint8_t b4 = 0, std::uint8_t b5 = 0);
  static std::uint8_t Crc8(std::span<const std::uint8_t> bytes);

  // Two upper-case hexadecimal digits, the form every byte and command code is shown in.
  static std::string HexByte(std::uint8_t value);
  // "set acceleration (A5)": a command in the words of the operator's manual.
  static std::string CommandWords(std::uint8_t code);
  // An address as the panels show it and the operator types it: "$0A".
  static std::string HexAddress(std::uint8_t address);
  // Received bytes as the log shows them: "$0A$FF".
  static std::string LogBytes(std::span<const std::uint8_t> bytes);
  // A frame as the send memo shows it: "E6015200A3".
  static std::string MemoText(std::span<const std::uint8_t> bytes);
  // Bytes that answer no frame: said in a line of their own, counted, never decoded.
  static void ReportStale(TCommonDatas& datas, TConsoleView& view, std::span<const std::uint8_t> bytes);
  // Motor rpm to whole revolutions per second, rounded half up; kept within a byte.
  static std::uint8_t RpmToRps(double rpm);
  static TStatusRequest StatusRequestFor(std::uint8_t address);
  static TFrame FrameFor(std::uint8_t address, std::uint8_t command, std::uint8_t value);

  void QueueFrame(std::uint8_t command, std::uint8_t value);
  void QueueBroadcastFrame(std::uint8_t command, std::uint8_t value);
  // Rebuilds the status request of the record for the current MotorAddress.
  void BuildStatusRequest();

  // The receive thread, as it reads a block in the port's read epoch `epoch`: whether the block is the awaited
  // frame's answer or stale, decided now, so that a window's thread busy past the answer time loses no answer.
  std::uint32_t BlockRead(std::uint64_t epoch);
  // The window's receive handler for a block and what BlockRead made of it: the awaited frame's answer is
  // logged, decoded when it answers the status request, and told to the exchange worker; any other is stale.
  void PortDataReceived(const std::uint8_t* data, std::int32_t count, std::uint32_t errors, std::uint32_t claim);
  void DecodeAnswer(const TFrame& answer);
  // The bus view, told of every status answer; none while it is not there.
  void SetBusListener(TBusListener* listener) { Bus = listener; }

private:
  void QueueAddressedFrame(std::uint8_t address, std::uint8_t command, std::uint8_t value);

  TCommonDatas& Datas;
  TConsoleView& View;
  TBusListener* Bus = nullptr;
};

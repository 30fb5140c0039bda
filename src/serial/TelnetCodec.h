#pragma once

#include "serial/LineSettings.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

// Telnet as a serial device server speaks it with the COM port option: the line's bytes with 0xFF
// doubled, the options both ends agree on, and the line settings sent to the far end. What the
// server sends back about the settings and its lines is read and set aside: ser2net on a
// pseudo-terminal never confirms some of it, so nothing waits for it.
class TTelnetCodec {
public:
  // What the client offers at once: binary both ways, no go-ahead, the COM port option.
  static std::vector<std::uint8_t> Greeting();
  // Baud rate, data bits, parity and stop bits; and the modem lines as the device gets them: RTS
  // on, DTR off, no flow control.
  static std::vector<std::uint8_t> Settings(const TLineSettings& settings);
  // The line's bytes, with every 0xFF doubled.
  static std::vector<std::uint8_t> Escaped(std::span<const std::uint8_t> bytes);

  // Splits what came from the server into the line's bytes (appended to `data`) and the answers its
  // option requests need (appended to `replies`). Keeps its place across calls: a command may be cut.
  void Decode(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& data,
              std::vector<std::uint8_t>& replies);

private:
  enum class TState { Data, Command, Option, Sub, SubCommand };

  void Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& replies);

  TState State = TState::Data;
  std::uint8_t Verb = 0;
  // Which options are on at our end and at theirs, so that an answer is never answered again.
  std::array<bool, 256> Ours = Offered(true);
  std::array<bool, 256> Theirs = Offered(false);

  // What the greeting turned on: binary and no go-ahead both ways, the COM port option at our end.
  static std::array<bool, 256> Offered(bool ours);
};

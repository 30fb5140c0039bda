#pragma once

#include <cstdint>

// Line settings in plain numbers: baud rate, 5..8 data bits, parity code (0 none, 1 odd, 2 even,
// 3 mark, 4 space), stop-bit code (0 one, 1 one and a half, 2 two), and the kernel's RS-485 mode
// for a UART whose RTS drives the bus direction (a wish: a line without the mode works without it).
struct TLineSettings {
  std::uint32_t Baud = 9600;
  std::uint8_t DataBits = 8;
  std::uint8_t Parity = 0;
  std::uint8_t StopBits = 0;
  bool Rs485 = false;

  bool operator==(const TLineSettings&) const = default;
};

// Line errors since the last look (bits below) and queue sizes, as the receive thread reads them.
struct TLineStatus {
  static constexpr std::uint32_t InputOverflow = 0x01;
  static constexpr std::uint32_t Overrun = 0x02;
  static constexpr std::uint32_t ParityError = 0x04;
  static constexpr std::uint32_t FramingError = 0x08;
  static constexpr std::uint32_t Break = 0x10;

  std::uint32_t Errors = 0;
  std::uint32_t InQueue = 0;
  std::uint32_t OutQueue = 0;
};

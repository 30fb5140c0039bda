#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class TSimParity : std::uint8_t { None, Odd, Even, Mark, Space };

// How a UART frames its bytes: the controller's own line, or what the console set on the pseudo-terminal.
// Two ends whose settings differ hear each other as garbage.
struct TSimLineSettings {
  std::uint32_t Baud = 9600;
  std::uint8_t DataBits = 8; // 5..8
  TSimParity Parity = TSimParity::None;
  std::uint8_t StopBits = 1; // 1 or 2

  bool operator==(const TSimLineSettings&) const = default;

  // Start bit, data bits, parity bit, stop bits.
  unsigned BitsPerByte() const;
  // How long `bytes` bytes sent back to back take on the wire; none at rate 0.
  std::chrono::nanoseconds WireTime(std::size_t bytes) const;
  // "9600 8N1"
  std::string Text() const;

  static std::optional<TSimParity> ParityNamed(std::string_view name);
  // What is set on the terminal `fd`: the exact rate through termios2, else through the B constants of
  // tcgetattr; nothing when the terminal cannot say.
  static std::optional<TSimLineSettings> Read(int fd);
  // Makes the terminal raw (no echo, no line editing, no CR/LF mapping) at these settings.
  static bool ApplyRaw(int fd, const TSimLineSettings& settings);
};

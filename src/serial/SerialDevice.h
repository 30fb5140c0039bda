#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Line settings in plain numbers: baud rate, 5..8 data bits, parity code (0 none, 1 odd, 2 even,
// 3 mark, 4 space), stop-bit code (0 one, 1 one and a half, 2 two).
struct TLineSettings {
  std::uint32_t Baud = 9600;
  std::uint8_t DataBits = 8;
  std::uint8_t Parity = 0;
  std::uint8_t StopBits = 0;

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

// The termios layer: one open serial device, opened exclusively, in raw mode.
// Not thread-safe by itself; TComPort decides who may call what.
class TSerialDevice {
public:
  // Modem status bits, as the exchange worker tests them.
  static constexpr std::uint32_t ModemCts = 0x10;
  static constexpr std::uint32_t ModemDsr = 0x20;
  static constexpr std::uint32_t ModemRing = 0x40;
  static constexpr std::uint32_t ModemCarrier = 0x80;
  // Returned when the lines cannot be read (the device is gone): never 0.
  static constexpr std::uint32_t ModemUnreadable = 0xFFFFFFFF;

  TSerialDevice() = default;
  TSerialDevice(const TSerialDevice&) = delete;
  TSerialDevice& operator=(const TSerialDevice&) = delete;
  ~TSerialDevice();

  bool Open(const std::string& path);
  // The errno of the step that made the last Open fail (ENOTTY: not a terminal device).
  int OpenError() const { return LastOpenError; }
  void Close();
  bool IsOpen() const { return Fd >= 0; }
  int Handle() const { return Fd; }

  bool Apply(const TLineSettings& settings);
  // What the driver holds now; false when it cannot be read.
  bool ReadBack(TLineSettings& settings) const;
  std::uint32_t ModemStatus() const;
  TLineStatus ClearErrors();
  // Writes all bytes, waiting while the driver's queue is full, up to a time that fits the baud rate.
  bool Write(const std::uint8_t* bytes, std::size_t count);
  // Reads bytes already queued; returns the count read, 0 when none or on failure.
  std::size_t Read(std::uint8_t* bytes, std::size_t count);
  // Takes everything queued now, right before a frame is written: none of it can be that frame's answer.
  std::vector<std::uint8_t> DropInput();

private:
  int Fd = -1;
  int LastOpenError = 0;
  std::uint32_t Baud = 9600;
  // The driver's error counters at the last look; a rise is an error of this event.
  std::array<int, 5> ErrorCounts{};
};

#pragma once

#include "serial/Line.h"

#include <array>

// The termios layer: one open serial device, opened exclusively, in raw mode.
class TSerialDevice : public TLine {
public:
  TSerialDevice() = default;
  ~TSerialDevice() override;

  bool Open(const std::string& path) override;
  int OpenError() const override { return LastOpenError; }
  void Close() override;
  bool IsOpen() const override { return Fd >= 0; }
  int Handle() const override { return Fd; }

  bool Apply(const TLineSettings& settings) override;
  bool ReadBack(TLineSettings& settings) const override;
  std::uint32_t ModemStatus() const override;
  TLineStatus ClearErrors() override;
  bool Write(const std::uint8_t* bytes, std::size_t count) override;
  std::size_t Read(std::uint8_t* bytes, std::size_t count) override;
  bool Ended() const override { return HungUp; }
  std::string SettingsNote() const override { return Note; }

private:
  // Switches the kernel's RS-485 mode on; "" when it did, else why not.
  std::string SetRs485Mode() const;

  int Fd = -1;
  std::string Path;
  std::string Note;
  bool HungUp = false;
  int LastOpenError = 0;
  std::uint32_t Baud = 9600;
  // The driver's error counters at the last look; a rise is an error of this event.
  std::array<int, 5> ErrorCounts{};
};

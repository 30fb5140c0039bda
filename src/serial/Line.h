#pragma once

#include "devices/OpenFailure.h"
#include "serial/LineSettings.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <sys/types.h>
#include <string>
#include <vector>

// One line to the controllers, whatever carries it: a serial device, or a serial device server
// reached by TCP. The port and the frame line drive it; the receive thread waits on Handle().
// Not thread-safe by itself; TComPort decides who may call what.
class TLine {
public:
  // Modem status bits, as the exchange worker tests them.
  static constexpr std::uint32_t ModemCts = 0x10;
  static constexpr std::uint32_t ModemDsr = 0x20;
  static constexpr std::uint32_t ModemRing = 0x40;
  static constexpr std::uint32_t ModemCarrier = 0x80;
  // Returned when the lines cannot be read (the device is gone, the connection closed): never 0.
  static constexpr std::uint32_t ModemUnreadable = 0xFFFFFFFF;
  // OpenError() of a host name that could not be looked up: no errno says that.
  static constexpr int HostUnknown = TOpenFailure::HostUnknown;

  // The kind of line the name asks for: a network line for tcp:// and rfc2217://, else a device.
  static std::unique_ptr<TLine> For(const std::string& name);

  TLine() = default;
  TLine(const TLine&) = delete;
  TLine& operator=(const TLine&) = delete;
  virtual ~TLine() = default;

  virtual bool Open(const std::string& name) = 0;
  // The errno of the step that made the last Open fail (ENOTTY: not a terminal device), or HostUnknown.
  virtual int OpenError() const = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // Readable when bytes came or the line ended.
  virtual int Handle() const = 0;

  virtual bool Apply(const TLineSettings& settings) = 0;
  // What the line holds now; false when it cannot be read.
  virtual bool ReadBack(TLineSettings& settings) const = 0;
  virtual std::uint32_t ModemStatus() const = 0;
  virtual TLineStatus ClearErrors() = 0;
  // Writes all bytes, waiting while the queue is full, up to a time that fits the baud rate.
  virtual bool Write(const std::uint8_t* bytes, std::size_t count) = 0;
  // Reads bytes already queued; returns the count read, 0 when none or on failure.
  virtual std::size_t Read(std::uint8_t* bytes, std::size_t count) = 0;
  // True once a read found the line ended (a hang-up, a closed connection): readable, with nothing.
  virtual bool Ended() const = 0;
  // What the last Apply could not set, and why, in words for the operator (RS-485 mode on a line that
  // has none); "" when it set all. The line works without it.
  virtual std::string SettingsNote() const { return {}; }
  static constexpr const char* Rs485NotSet = "RS-485 mode not set: ";
  // Why the line gave up by itself (it flooded), in words for the log; "" when it did not.
  virtual std::string FailureReason() const { return {}; }
  // On a UART a silence of a few character times ends a block. On a network line the gaps come from
  // the network (a retransmission takes 200 ms): there a block ends whole or on the answer timeout.
  virtual bool GapsEndBlocks() const { return true; }

  // At most this much of what DropInput drops is kept for the log; the rest is only drained.
  static constexpr std::size_t DropKept = 64;
  // DropInput gives up after this long: a line that sends without end must not hold the device.
  static constexpr std::chrono::milliseconds DropLimit{1100};
  // Takes everything queued now, right before a frame is written: none of it can be that frame's answer.
  // Returns the first DropKept bytes of it.
  std::vector<std::uint8_t> DropInput();

protected:
  using TPut = ssize_t (*)(int fd, const std::uint8_t* bytes, std::size_t count);
  // Writes every byte through `put` (a device's write, a socket's send), waiting while the queue is
  // full, until the deadline; false when the descriptor fails or the time runs out.
  static bool WriteAll(int fd, std::span<const std::uint8_t> bytes, std::chrono::steady_clock::time_point deadline,
                       TPut put);
};

#pragma once

#include "serial/FloodWatch.h"
#include "serial/Line.h"

#include <span>
#include <vector>

// A line at a serial device server that carries the bytes as they are ("tcp://HOST:PORT"): the line
// settings are the far end's business. The socket is read whenever the receive thread looks, and
// what came is kept here, so the queue the thread sees holds the line's bytes only. The far end is
// not trusted to pause: what is kept is bounded, and a line that sends without pause fails.
class TTcpLine : public TLine {
public:
  // Longer than any connect on a working network, short enough for an operator waiting at Open.
  static constexpr int ConnectTimeoutMs = 3000;
  // What the line's queue holds at most, as a UART's buffer: bytes beyond it are dropped as an overrun.
  static constexpr std::size_t InboxLimit = 64 * 1024;

  ~TTcpLine() override;

  bool Open(const std::string& name) override;
  int OpenError() const override { return LastOpenError; }
  void Close() override;
  bool IsOpen() const override { return Fd >= 0; }
  int Handle() const override { return Fd; }

  bool Apply(const TLineSettings& settings) override;
  bool ReadBack(TLineSettings& settings) const override;
  // No modem lines travel: none while connected, unreadable once the connection closed.
  std::uint32_t ModemStatus() const override;
  TLineStatus ClearErrors() override;
  bool Write(const std::uint8_t* bytes, std::size_t count) override;
  std::size_t Read(std::uint8_t* bytes, std::size_t count) override;
  bool Ended() const override { return Closed; }
  std::string FailureReason() const override { return Flood.Reason(); }
  // The far end's device has its own mode: no setting of ours reaches it.
  std::string SettingsNote() const override;
  bool GapsEndBlocks() const override { return false; }

protected:
  // What came from the far end, as it came: the line's bytes unless a protocol wraps them.
  virtual void Received(std::span<const std::uint8_t> bytes);
  // Queues the line's bytes, as far as the queue has room.
  void Keep(std::span<const std::uint8_t> bytes);
  // What goes to the far end for the line's bytes.
  virtual std::vector<std::uint8_t> Wrapped(std::span<const std::uint8_t> bytes);
  // Sends as one segment, waiting while the socket's buffer is full, up to a second.
  bool Send(std::span<const std::uint8_t> bytes);

  TLineSettings Settings;

private:
  bool Connect(const std::string& host, std::uint16_t port);
  // Takes what the socket holds now, up to a bound, and notes a closed connection or a flood.
  void Pump();
  std::size_t Queued() const { return Inbox.size() - InboxHead; }

  // The queue is read from InboxHead on; the bytes before it are compacted away now and then.
  std::vector<std::uint8_t> Inbox;
  std::size_t InboxHead = 0;
  std::uint32_t PendingErrors = 0;
  TFloodWatch Flood;
  int Fd = -1;
  int LastOpenError = 0;
  bool Closed = false;
  std::string Name;
};

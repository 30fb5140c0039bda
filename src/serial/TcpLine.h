#pragma once

#include "Line.h"

#include <span>
#include <vector>

// A line at a serial device server that carries the bytes as they are ("tcp://HOST:PORT"): the line
// settings are the far end's business. The socket is read whenever the receive thread looks, and
// what came is kept here, so the queue the thread sees holds the line's bytes only.
class TTcpLine : public TLine {
public:
  // Longer than any connect on a working network, short enough for an operator waiting at Open.
  static constexpr int ConnectTimeoutMs = 3000;

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

protected:
  // What came from the far end, as it came: the line's bytes unless a protocol wraps them.
  virtual void Received(std::span<const std::uint8_t> bytes);
  // What goes to the far end for the line's bytes.
  virtual std::vector<std::uint8_t> Wrapped(std::span<const std::uint8_t> bytes);
  // Sends as one segment, waiting while the socket's buffer is full, up to a second.
  bool Send(std::span<const std::uint8_t> bytes);

  std::vector<std::uint8_t> Inbox;
  TLineSettings Settings;

private:
  bool Connect(const std::string& host, std::uint16_t port);
  // Takes what the socket holds now, and notes a closed connection.
  void Pump();

  int Fd = -1;
  int LastOpenError = 0;
  bool Closed = false;
};

#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

// A hostile server on 127.0.0.1 for network lines, run on a thread of the test: one that floods its
// client with zeros without end, a relay to another server that holds every answer back after
// its third byte, as a lost and retransmitted segment does, or a silent one whose connections the
// kernel takes and nobody ever reads or answers.
class TLoopbackPeer {
public:
  enum class TKind { Flood, GapRelay, Silent };
  // The relay's hold inside an answer: longer than a UART's silence that ends a block.
  static constexpr int GapMs = 60;

  // `target`: the tcp://127.0.0.1:PORT the relay passes the bytes on to (unused by a flood).
  explicit TLoopbackPeer(TKind kind, const std::string& target = "");
  ~TLoopbackPeer();
  TLoopbackPeer(const TLoopbackPeer&) = delete;
  TLoopbackPeer& operator=(const TLoopbackPeer&) = delete;

  std::string Url() const { return "tcp://127.0.0.1:" + std::to_string(Port); }
  int PortNumber() const { return Port; }
  // Bytes sent to clients so far.
  std::uint64_t Sent() const { return SentBytes; }

private:
  void Serve();
  void Flood(int client);
  void Relay(int client);
  // Sends all, unless the test ends first; false when the client went away.
  bool SendAll(int fd, const std::uint8_t* bytes, std::size_t count);

  const TKind Kind;
  const int Target;
  int Listener = -1;
  int Port = 0;
  std::atomic<bool> Stopping{false};
  std::atomic<std::uint64_t> SentBytes{0};
  std::thread Thread;
};

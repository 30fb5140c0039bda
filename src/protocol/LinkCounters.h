#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// What happened on the line since the last reset, to tell a noisy line (checksum failures, short
// blocks) from a dead one (missing answers). The worker and the window's thread both count.
class TLinkCounters {
public:
  using TClock = std::chrono::steady_clock;

  std::atomic<std::uint64_t> FramesSent{0};
  std::atomic<std::uint64_t> AnswersReceived{0};
  std::atomic<std::uint64_t> AnswersMissing{0};
  std::atomic<std::uint64_t> ChecksumFailures{0};
  std::atomic<std::uint64_t> ShortBlocks{0};
  std::atomic<std::uint64_t> PortFailures{0};
  // Bytes read when no frame awaited them (a late answer, a stray byte): dropped, one count a chunk.
  std::atomic<std::uint64_t> Stale{0};

  void Reset();
  // A whole answer or a short block came in now.
  void BlockReceived(std::size_t size);
  // How long ago the last whole answer came; none since the reset gives nothing.
  std::optional<TClock::duration> SinceLastAnswer() const;
  // One line for a log's header: "frames sent 12, answers received 11, ...".
  std::string Summary() const;

private:
  std::atomic<TClock::rep> LastAnswerTicks{0}; // 0: none yet
};

#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The console's end of a serial line in tests: opens a device such as a pseudo-terminal's slave, writes
// bytes and reads them back with a deadline, and notices when the other end hangs up.
class TPtyClient {
public:
  using TBytes = std::vector<std::uint8_t>;

  TPtyClient() = default;
  // Opens at once; check IsOpen().
  explicit TPtyClient(const std::string& path);
  ~TPtyClient();
  TPtyClient(const TPtyClient&) = delete;
  TPtyClient& operator=(const TPtyClient&) = delete;

  // Opens read-write without becoming the controlling terminal, and drops stale input. False on failure.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const;

  // Writes all the bytes; false when the device refused them.
  bool Write(std::span<const std::uint8_t> bytes);
  // Reads until `count` bytes came or the time ran out; returns what came, perhaps fewer.
  TBytes ReadExactly(std::size_t count, std::chrono::milliseconds timeout);
  // Waits for the first bytes until the time runs out, then returns all that are there.
  TBytes ReadAvailable(std::chrono::milliseconds timeout);
  // Waits until the other end hangs up; bytes still arriving meanwhile are discarded.
  bool WaitForHangUp(std::chrono::milliseconds timeout);
  // True once a read saw the other end hang up (POLLHUP, EIO or end of file).
  bool HungUp() const;

private:
  using TClock = std::chrono::steady_clock;

  // Waits for input until the deadline; false when none came or the line hung up.
  bool WaitReadable(TClock::time_point deadline);
  // Appends what one read gives; false when nothing was there.
  bool ReadOnce(TBytes& bytes, std::size_t limit);

  int Fd = -1;
  bool LineHungUp = false;
};

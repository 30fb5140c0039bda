#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// A raw pseudo-terminal pair: the test writes on the master side what a controller would send,
// and keeps a descriptor of the slave side so the line never hangs up while the port is closed.
class TPtyPair {
public:
  TPtyPair();
  ~TPtyPair();
  TPtyPair(const TPtyPair&) = delete;
  TPtyPair& operator=(const TPtyPair&) = delete;

  const std::string& SlavePath() const { return Path; }
  int SlaveFd() const { return Slave; }
  void WriteMaster(const std::vector<std::uint8_t>& bytes);
  // What the port wrote: up to count bytes, whatever came within the time.
  std::vector<std::uint8_t> ReadMaster(std::size_t count, std::chrono::milliseconds timeout);

private:
  int Master = -1;
  int Slave = -1;
  std::string Path;
};

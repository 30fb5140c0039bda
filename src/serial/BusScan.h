#pragma once

#include "CommonDatas.h"

#include <chrono>
#include <cstdint>

class TFrameLine;

// What a bus scan tells as it goes, and asks between two addresses: ozmetctl prints it, the
// window's scan shows it.
class TBusScanReport {
public:
  virtual ~TBusScanReport() = default;
  // Before the status request to `address`: `done` of `total` asked so far, `found` answered.
  virtual void Scanning(std::uint8_t address, unsigned done, unsigned total, unsigned found) = 0;
  virtual void Found(std::uint8_t address, const TFrame& answer) = 0;
  virtual void BadChecksum(std::uint8_t address) = 0;
  // Looked at before each address, so a cancel ends the scan within one address.
  virtual bool StopRequested() = 0;
};

// Finds the controllers on a line: a status request to every address in turn, each given a short
// time to answer. Only an answer with a sound checksum counts as a controller.
class TBusScan {
public:
  TBusScan(TFrameLine& line, TBusScanReport& report);

  // How many controllers answered. Throws TLineError when the line fails.
  unsigned Run(std::uint8_t from, std::uint8_t to, std::chrono::milliseconds timeout);

private:
  TFrameLine& Line;
  TBusScanReport& Report;
};

#pragma once

#include "BusScan.h"
#include "ConsoleForms.h"

class TCtlOutput;

// The bus scan on the terminal: a progress line that rewrites itself, each controller found with
// its state decoded at the ratio asked for, a note for an answer with a bad checksum. Ctrl+C stops it.
class TCtlScanReport : public TBusScanReport {
public:
  TCtlScanReport(TCtlOutput& output, TMotorFields motor);

  void Scanning(std::uint8_t address, unsigned done, unsigned total, unsigned found) override;
  void Found(std::uint8_t address, const TFrame& answer) override;
  void BadChecksum(std::uint8_t address) override;
  bool StopRequested() override;

private:
  TCtlOutput& Output;
  TMotorFields Motor;
};

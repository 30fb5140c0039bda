#pragma once

#include "BusScan.h"
#include "ConsoleForms.h"

#include <set>

class TCtlOutput;

// The bus scan on the terminal: a progress line that rewrites itself, each controller found with
// its state decoded at the ratio asked for, and each address whose answer had a bad checksum, as
// results both. Ctrl+C stops it.
class TCtlScanReport : public TBusScanReport {
public:
  TCtlScanReport(TCtlOutput& output, TMotorFields motor);

  void Scanning(std::uint8_t address, unsigned done, unsigned total, unsigned found) override;
  void Found(std::uint8_t address, const TFrame& answer) override;
  void BadChecksum(std::uint8_t address) override;
  bool StopRequested() override;

  const std::set<std::uint8_t>& Sound() const { return SoundAt; }
  const std::set<std::uint8_t>& Damaged() const { return DamagedAt; }

private:
  std::set<std::uint8_t> SoundAt;
  std::set<std::uint8_t> DamagedAt;
  TCtlOutput& Output;
  TMotorFields Motor;
};

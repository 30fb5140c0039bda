#pragma once

#include "motor/PanelFields.h"
#include "serial/BusScan.h"

#include <chrono>
#include <map>
#include <set>

class TCtlOutput;

// The bus scan on the terminal: a progress line that rewrites itself, then each controller found with
// its state decoded at the ratio asked for, and each address whose answer had a bad checksum, as
// results both, in the order of the addresses. Ctrl+C stops it.
class TCtlScanReport : public TBusScanReport {
public:
  TCtlScanReport(TCtlOutput& output, TMotorFields motor);

  void Scanning(std::uint8_t address, unsigned done, unsigned total, unsigned found) override;
  void Found(std::uint8_t address, const TFrame& answer) override;
  void BadChecksum(std::uint8_t address) override;
  bool StopRequested() override;
  // The results, address by address: the checks end out of order when a late answer sent an
  // earlier address to be asked again.
  void Tell();

  const std::set<std::uint8_t>& Sound() const { return SoundAt; }
  const std::set<std::uint8_t>& Damaged() const { return DamagedAt; }

private:
  struct TAnswer {
    TFrame Frame;
    std::chrono::system_clock::time_point Time; // each controller's result is stamped with it
  };

  std::map<std::uint8_t, TAnswer> Answers;
  std::set<std::uint8_t> SoundAt;
  std::set<std::uint8_t> DamagedAt;
  TCtlOutput& Output;
  TMotorFields Motor;
};

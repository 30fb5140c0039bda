#include "CtlScanReport.h"

#include "CtlDrive.h"
#include "CtlInterrupt.h"
#include "CtlOutput.h"

TCtlScanReport::TCtlScanReport(TCtlOutput& output, TMotorFields motor) : Output(output), Motor(std::move(motor))
{
}

void TCtlScanReport::Scanning(std::uint8_t address, unsigned done, unsigned total, unsigned found)
{
  Output.Progress("scanning " + TCtlOutput::Address(address) + ", " + std::to_string(done * 100 / total) + "%, " +
                  std::to_string(done + 1) + " of " + std::to_string(total) + ", " + std::to_string(found) + " found");
}

// Decoded afresh for each controller, at the ratio asked for, as the window would show it.
void TCtlScanReport::Found(std::uint8_t address, const TFrame& answer)
{
  TCtlDrive drive;
  TMotorFields motor = Motor;
  motor.Address = std::to_string(address);
  drive.ApplyMotor(motor);
  Output.Status(address, drive.Datas, drive.Decode(answer));
  SoundAt.insert(address);
}

void TCtlScanReport::BadChecksum(std::uint8_t address)
{
  Output.Result("bad-checksum", TCtlOutput::Address(address) + ": answers, with a bad checksum",
                {{"address", std::int64_t{address}}});
  DamagedAt.insert(address);
}

bool TCtlScanReport::StopRequested()
{
  return TCtlInterrupt::Requested();
}

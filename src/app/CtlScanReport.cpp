#include "app/CtlScanReport.h"

#include "app/CtlInterrupt.h"
#include "app/CtlOutput.h"
#include "bus/ControllerDrive.h"

TCtlScanReport::TCtlScanReport(TCtlOutput& output, TMotorFields motor) : Output(output), Motor(std::move(motor))
{
}

void TCtlScanReport::Scanning(std::uint8_t address, unsigned done, unsigned total, unsigned found)
{
  Output.Progress("scanning " + TCtlOutput::Address(address) + ", " + std::to_string(done * 100 / total) + "%, " +
                  std::to_string(done + 1) + " of " + std::to_string(total) + ", " + std::to_string(found) + " found");
}

void TCtlScanReport::Found(std::uint8_t address, const TFrame& answer)
{
  Answers[address] = {answer, std::chrono::system_clock::now()};
  SoundAt.insert(address);
}

void TCtlScanReport::BadChecksum(std::uint8_t address)
{
  DamagedAt.insert(address);
}

// Each found controller decoded afresh, at the ratio asked for, as the window would show it.
void TCtlScanReport::Tell()
{
  std::set<std::uint8_t> all = SoundAt;
  all.insert(DamagedAt.begin(), DamagedAt.end());
  for (const std::uint8_t address : all) {
    if (!SoundAt.contains(address)) {
      Output.Result("bad-checksum", TCtlOutput::Address(address) + ": answers, with a bad checksum",
                    {{"address", std::int64_t{address}}});
      continue;
    }
    TControllerDrive drive;
    TMotorFields motor = Motor;
    motor.Address = std::to_string(address);
    drive.ApplyMotor(motor); // checked when the scan was prepared
    const TAnswer& found = Answers[address];
    const std::int32_t count = drive.Decode(found.Frame);
    Output.Status(address, drive.Datas, count, found.Time);
  }
}

bool TCtlScanReport::StopRequested()
{
  return TCtlInterrupt::Requested();
}

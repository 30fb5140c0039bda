#include "BusScan.h"

#include "CtlDrive.h"
#include "CtlInterrupt.h"
#include "CtlLine.h"
#include "CtlOutput.h"

TBusScan::TBusScan(TCtlLine& line, TCtlOutput& output) : Line(line), Output(output)
{
}

int TBusScan::Run(std::uint8_t from, std::uint8_t to, std::chrono::milliseconds timeout, const TMotorFields& motor)
{
  int found = 0;
  const std::string total = std::to_string(to - from + 1);
  for (unsigned address = from; address <= to && !TCtlInterrupt::Requested(); ++address) {
    const auto at = static_cast<std::uint8_t>(address);
    Output.Progress("scanning " + TCtlOutput::Address(at) + ", " + std::to_string(address - from + 1) + " of " +
                    total + ", " + std::to_string(found) + " found");
    TFrame answer{};
    const TCtlLine::TReply reply = Line.Exchange(TOzmCommands::StatusRequestFor(at), timeout, answer);
    if (reply == TCtlLine::TReply::BadChecksum)
      Output.Note(TCtlOutput::Address(at) + ": an answer with a bad checksum, not listed");
    if (reply != TCtlLine::TReply::Answered)
      continue;
    Found(at, answer, motor);
    ++found;
  }
  Output.EndProgress();
  return found;
}

// Decoded afresh for each controller, at the ratio asked for, as the window would show it.
void TBusScan::Found(std::uint8_t address, const TFrame& answer, TMotorFields motor)
{
  TCtlDrive drive;
  motor.Address = std::to_string(address);
  drive.ApplyMotor(motor);
  Output.Status(address, drive.Datas, drive.Decode(answer));
}

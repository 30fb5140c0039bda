#include "bus/BusController.h"

#include "protocol/OzmCommands.h"
#include "protocol/SilentView.h"

#include <algorithm>

TBusController::TBusController(std::uint8_t address, std::string label) : Addr(address)
{
  SetLabel(std::move(label));
  // A controller that has not answered yet is not known to stand still.
  Watch.Lost();
}

void TBusController::SetLabel(std::string label)
{
  // No control character reaches a row, a log line or a terminal: a tab or an escape is a blank.
  std::replace_if(label.begin(), label.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; },
                  ' ');
  Name = std::move(label);
}

void TBusController::Answered(const TFrame& answer, double gearRatio, TClock::time_point at)
{
  Record->Counters.BlockReceived(answer.size());
  Record->SetGearRatio(gearRatio);
  const std::uint64_t damagedBefore = Record->Counters.ChecksumFailures;
  TSilentView silent;
  TOzmCommands(*Record, silent).DecodeAnswer(answer);
  if (Record->Counters.ChecksumFailures != damagedBefore)
    return; // a bad checksum: the state shown stays
  Watch.Answered(Record->CurrentSpeedRpm, at);
  LastAt = at;
}

void TBusController::Damaged()
{
  ++Record->Counters.ChecksumFailures;
}

void TBusController::Missing()
{
  ++Record->Counters.AnswersMissing;
  Watch.Lost();
}

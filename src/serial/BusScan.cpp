#include "BusScan.h"

#include "FrameLine.h"
#include "OzmCommands.h"

TBusScan::TBusScan(TFrameLine& line, TBusScanReport& report) : Line(line), Report(report)
{
}

unsigned TBusScan::Run(std::uint8_t from, std::uint8_t to, std::chrono::milliseconds timeout)
{
  unsigned found = 0;
  const unsigned total = to - from + 1u;
  for (unsigned address = from; address <= to && !Report.StopRequested(); ++address) {
    const auto at = static_cast<std::uint8_t>(address);
    Report.Scanning(at, address - from, total, found);
    TFrame answer{};
    const TFrameLine::TReply reply = Line.Exchange(TOzmCommands::StatusRequestFor(at), timeout, answer);
    if (reply == TFrameLine::TReply::BadChecksum)
      Report.BadChecksum(at);
    if (reply != TFrameLine::TReply::Answered)
      continue;
    Report.Found(at, answer);
    ++found;
  }
  return found;
}

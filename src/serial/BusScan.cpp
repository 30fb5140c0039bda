#include "serial/BusScan.h"

#include "protocol/OzmCommands.h"

#include <algorithm>
#include <thread>

TBusScan::TBusScan(TFrameLine& line, TBusScanReport& report) : Line(line), Report(report)
{
}

unsigned TBusScan::Run(std::uint8_t from, std::uint8_t to, std::chrono::milliseconds timeout)
{
  const unsigned total = to - from + 1u;
  for (unsigned address = from; address <= to && !Report.StopRequested(); ++address) {
    const auto at = static_cast<std::uint8_t>(address);
    Report.Scanning(at, address - from, total, Found);
    TFrame answer{};
    if (Ask(at, timeout, answer) != TFrameLine::TReply::NoAnswer) {
      Suspect(at);
      SeemedToAnswer.insert(at);
    }
    while (!ToCheck.empty() && !Report.StopRequested()) {
      const std::uint8_t next = ToCheck.front();
      ToCheck.pop_front();
      Confirm(next);
    }
    Last = at;
  }
  return Found;
}

// A late answer came in between the request before this one and this one's write: any request made
// within the answer time before that may have owed it.
TFrameLine::TReply TBusScan::Ask(std::uint8_t address, std::chrono::milliseconds timeout, TFrame& answer)
{
  const auto now = TClock::now();
  const auto since = (Asked.empty() ? now : Asked.back().At) - Line.AnswerTimeout();
  const TFrameLine::TReply reply = Line.Exchange(TOzmCommands::StatusRequestFor(address), timeout, answer);
  if (!Line.StaleBytes().empty())
    for (const TAsked& asked : Asked)
      if (asked.At >= since)
        Suspect(asked.Address);
  Asked.push_back({address, now});
  Report.Asked(address, reply);
  return reply;
}

void TBusScan::Suspect(std::uint8_t address)
{
  if (Checked.insert(address).second)
    ToCheck.push_back(address);
}

// What the address seemed to answer was the late answer of one asked within the answer time before it.
void TBusScan::SuspectThoseBefore(std::uint8_t address)
{
  const auto first = std::find_if(Asked.begin(), Asked.end(), [&](const TAsked& a) { return a.Address == address; });
  for (auto asked = Asked.begin(); asked != first; ++asked)
    if (asked->At >= first->At - Line.AnswerTimeout())
      Suspect(asked->Address);
}

void TBusScan::Confirm(std::uint8_t address)
{
  std::this_thread::sleep_for(Line.AnswerTimeout()); // what a slow controller still owes comes in, to be dropped
  TFrame answer{};
  const TFrameLine::TReply reply = Ask(address, Line.AnswerTimeout(), answer);
  if (reply == TFrameLine::TReply::BadChecksum)
    Report.BadChecksum(address);
  if (reply == TFrameLine::TReply::NoAnswer && SeemedToAnswer.contains(address))
    SuspectThoseBefore(address);
  if (reply != TFrameLine::TReply::Answered)
    return;
  Report.Found(address, answer);
  ++Found;
}

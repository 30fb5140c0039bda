#pragma once

#include "protocol/CommonDatas.h"
#include "serial/FrameLine.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <vector>

// What a bus scan tells as it goes, and asks between two addresses: ozmetctl prints it, the
// window's scan shows it.
class TBusScanReport {
public:
  virtual ~TBusScanReport() = default;
  // Before the status request to `address`: `done` of `total` asked so far, `found` answered.
  virtual void Scanning(std::uint8_t address, unsigned done, unsigned total, unsigned found) = 0;
  // After every status request of the scan, the checks included, with what came back.
  virtual void Asked(std::uint8_t /*address*/, TFrameLine::TReply /*reply*/) {}
  // A sound answer to the check on a quiet line: a controller is there.
  virtual void Found(std::uint8_t address, const TFrame& answer) = 0;
  virtual void BadChecksum(std::uint8_t address) = 0;
  // Looked at before each address, so a cancel ends the scan within one address.
  virtual bool StopRequested() = 0;
};

// Finds the controllers on a line: a status request to every address in turn, each given a short
// time to answer. Answers carry no address, so a short wait may catch the late answer of the address
// before: every address that answered is asked again with the full answer time on a quiet line before
// it is listed, and stale bytes before a request send the addresses that may have owed them to the
// same check, as does a check that finds nobody where something answered. Only a sound answer to that
// check counts as a controller.
class TBusScan {
public:
  TBusScan(TFrameLine& line, TBusScanReport& report);

  // How many controllers answered. Throws TLineError when the line fails.
  unsigned Run(std::uint8_t from, std::uint8_t to, std::chrono::milliseconds timeout);
  // The last address of the range asked, none before Run asked one; a cancelled scan ends before `to`.
  std::optional<std::uint8_t> LastAsked() const { return Last; }

private:
  using TClock = std::chrono::steady_clock;
  struct TAsked {
    std::uint8_t Address;
    TClock::time_point At;
  };

  TFrameLine::TReply Ask(std::uint8_t address, std::chrono::milliseconds timeout, TFrame& answer);
  void Suspect(std::uint8_t address);
  void SuspectThoseBefore(std::uint8_t address);
  void Confirm(std::uint8_t address);

  TFrameLine& Line;
  TBusScanReport& Report;
  std::vector<TAsked> Asked;
  std::set<std::uint8_t> Checked; // asked again on a quiet line, or about to be
  std::set<std::uint8_t> SeemedToAnswer; // something came back to its first request
  std::deque<std::uint8_t> ToCheck;
  unsigned Found = 0;
  std::optional<std::uint8_t> Last;
};

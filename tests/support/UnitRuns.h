#pragma once

#include "records/RecordsStore.h"
#include "sequence/SequenceResult.h"

#include <chrono>
#include <cstdint>
#include <string>

// Runs of one controller for filling a records store: "eol", a held speed measured against 95..105 rpm.
inline const std::chrono::sys_days RunDay{std::chrono::year{2026} / 12 / 9};

struct TUnitRunCase {
  std::string Serial;
  TVerdict Verdict;
  double Held;
  int Hour; // of the run's start from RunDay's midnight (UTC), so that runs of a unit come in order
  std::string Station = "bench-1";
  std::uint8_t Address = 1;
};

TRunResult UnitRun(const TUnitRunCase& c, const std::string& id);
// A run id made of a number: 00000000-0000-4000-8000-000000000042.
std::string Id(int n);
// The run's whole record as the store takes it, kept at path.
TUnitRecord UnitRecord(const TUnitRunCase& c, int n, const std::string& path);

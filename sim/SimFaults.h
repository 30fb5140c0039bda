#pragma once

#include <cstdint>
#include <optional>

// What the simulated line does wrong on purpose, so the console's error handling can be exercised.
// Counts start when the faults are set; the one-shot faults switch themselves off once they fired.
struct TSimFaults {
  bool Silent = false;         // no answers at all
  bool SilentToStatus = false; // answers everything but the status request
  unsigned CorruptEvery = 0;   // every Nth answer gets a wrong CRC; 0 = off
  unsigned DropByteAt = 0;     // the Nth answer loses its last byte, once; 0 = off
  unsigned ExtraByteAt = 0;    // the Nth answer gets one byte more, once; 0 = off
  unsigned DelayMs = 0;        // every answer is sent this late
  unsigned HangUpAfter = 0;    // the line hangs up on the Nth frame received; 0 = off
  std::optional<std::uint8_t> CorruptAddress{}; // every answer of the controller there gets a wrong CRC
  unsigned JitterMs = 0;                         // every answer a random 0..JitterMs ms later still
  std::optional<std::uint8_t> LateOnceCommand{}; // the next answer to this command code comes late, once
  unsigned LateOnceMs = 0;                       // by this much
  unsigned StrayByteAfter = 0;                   // one byte alone shortly after the Nth answer, once; 0 = off

  bool operator==(const TSimFaults&) const = default;
};

// What one controller does wrong, on top of the line's faults, so that a mixed bus can be tested:
// its answers (silent, corrupted, late) and its motor (capped, slipping counter, stalling).
struct TSimControllerFaults {
  bool Silent = false;
  bool Corrupt = false;                 // every answer gets a wrong CRC
  unsigned DelayMs = 0;                 // added to the line's delay
  unsigned JitterMs = 0;                // added to the line's jitter
  std::optional<unsigned> MaxRps{};     // the motor goes no faster, whatever is commanded
  double Slip = 1.0;                    // the counter reports this many times the revolutions made
  std::optional<double> StallAfterS{};  // the speed drops to 0 this long after a run starts
  std::optional<std::uint8_t> LateOnceCommand{}; // its next answer to this command code comes late, once
  unsigned LateOnceMs = 0;                       // by this much

  bool operator==(const TSimControllerFaults&) const = default;
};

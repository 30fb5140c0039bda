#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

// Tells a line that sends without pause. A controller speaks only when spoken to, five bytes at a
// time, and falls silent for the pause before every frame; even a line that sent without any pause
// at the fastest rate (115 200 baud) would carry no more than MostInSpan bytes a second. A line that
// brings more is no serial line at all, and no answer to a frame of ours can be told on it.
class TFloodWatch {
public:
  using TClock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds Span{1};
  static constexpr std::size_t MostInSpan = 115'200 / 10;

  // `bytes` taken from the line now. A count runs for a Span from the first bytes after the last one
  // ended; the line floods as soon as one passes MostInSpan.
  void Note(std::size_t bytes, TClock::time_point now = TClock::now());
  // Once true, stays true until Reset.
  bool Flooding() const { return Flooded; }
  // "the line sends without pause: N bytes in 1 s, no frame", or "" while it does not flood.
  std::string Reason() const;
  void Reset() { *this = {}; }

private:
  std::optional<TClock::time_point> CountSince;
  std::size_t Counted = 0;
  bool Flooded = false;
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

// One decoded status answer: when it came (wall clock, ms since the Unix epoch), the output-shaft
// speed and the revolution counter shown, and the controller that gave it.
struct TSpeedPoint {
  std::int64_t TimeMs = 0;
  double OutputRpm = 0;
  std::int64_t Revolutions = 0;
  std::uint8_t Address = 0;
};

// What was sent to the motor at a time ("Run", "Stop unanswered"), for the CSV's event column: a
// text without commas or quotes.
struct TSpeedEvent {
  std::int64_t TimeMs = 0;
  std::string Text;
};

// The status answers of the last day, oldest dropped first, for the speed chart and its CSV export.
class TSpeedHistory {
public:
  static constexpr std::size_t DayAt2Hz = 24 * 3600 * 2;

  explicit TSpeedHistory(std::size_t capacity = DayAt2Hz);

  void Add(const TSpeedPoint& point);
  std::size_t Size() const { return Ring.size(); }
  void Clear();
  // Index 0 is the oldest point kept.
  const TSpeedPoint& At(std::size_t index) const { return Ring[(Oldest + index) % Ring.size()]; }
  // The points of the last spanMs before the newest (all of them without a span), in time order,
  // thinned to at most maxPoints (at least 2) for drawing; the first and the last always stay.
  std::vector<TSpeedPoint> Points(std::optional<std::int64_t> spanMs, std::size_t maxPoints) const;
  // The same points cut into stretches wherever more than gapMs passed between two answers (polling
  // stopped) or the controller changed, each thinned on its own to its share of maxPoints: no line is drawn
  // over a time without answers, nor from one controller's speed to another's.
  std::vector<std::vector<TSpeedPoint>> Stretches(std::optional<std::int64_t> spanMs, std::size_t maxPoints,
                                                  std::int64_t gapMs) const;
  // "time,output_rpm,revolutions,event,address", then a row a point or event (given in time order) with the
  // time in ISO 8601 local time; an event's row has no speed nor address, a point's no event. The address
  // comes last, so that a reader of the first four columns reads them as before.
  void WriteCsv(std::ostream& out, const std::vector<TSpeedEvent>& events = {}) const;

  static bool Apart(const TSpeedPoint& before, const TSpeedPoint& after, std::int64_t gapMs)
  {
    return after.TimeMs - before.TimeMs > gapMs || after.Address != before.Address;
  }

private:
  std::size_t FirstInSpan(std::int64_t spanMs) const;
  void Thin(std::size_t first, std::size_t last, std::size_t maxPoints, std::vector<TSpeedPoint>& points) const;
  void AddExtremes(std::size_t begin, std::size_t end, std::vector<TSpeedPoint>& points) const;

  std::size_t Capacity;
  std::vector<TSpeedPoint> Ring; // grows to Capacity, then wraps
  std::size_t Oldest = 0;
};

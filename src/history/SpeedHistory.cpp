#include "history/SpeedHistory.h"

#include "history/LogExport.h"
#include "protocol/OzmCommands.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <ostream>
#include <ranges>

namespace {

// The shortest text that reads back as the same double, whatever the locale.
void WriteNumber(std::ostream& out, double value)
{
  std::array<char, 32> text;
  const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
  out.write(text.data(), result.ptr - text.data());
}

} // namespace

TSpeedHistory::TSpeedHistory(std::size_t capacity) : Capacity(std::max<std::size_t>(capacity, 1))
{
}

void TSpeedHistory::Add(const TSpeedPoint& point)
{
  if (Ring.size() < Capacity) {
    Ring.push_back(point);
    return;
  }
  Ring[Oldest] = point;
  Oldest = (Oldest + 1) % Capacity;
}

void TSpeedHistory::Clear()
{
  Ring.clear();
  Oldest = 0;
}

// Answers come in time order; should the wall clock step back, the search still ends inside the ring.
std::size_t TSpeedHistory::FirstInSpan(std::int64_t spanMs) const
{
  const std::int64_t from = At(Size() - 1).TimeMs - spanMs;
  const auto indices = std::views::iota(std::size_t{0}, Size());
  return *std::ranges::partition_point(indices, [&](std::size_t i) { return At(i).TimeMs < from; });
}

std::vector<TSpeedPoint> TSpeedHistory::Points(std::optional<std::int64_t> spanMs, std::size_t maxPoints) const
{
  std::vector<TSpeedPoint> points;
  if (Size() != 0)
    Thin(spanMs ? FirstInSpan(*spanMs) : 0, Size() - 1, maxPoints, points);
  return points;
}

std::vector<std::vector<TSpeedPoint>> TSpeedHistory::Stretches(std::optional<std::int64_t> spanMs,
                                                               std::size_t maxPoints, std::int64_t gapMs) const
{
  std::vector<std::vector<TSpeedPoint>> stretches;
  if (Size() == 0)
    return stretches;
  const std::size_t first = spanMs ? FirstInSpan(*spanMs) : 0;
  const std::size_t total = Size() - first;
  std::size_t begin = first;
  for (std::size_t i = first + 1; i <= Size(); ++i)
    if (i == Size() || Apart(At(i - 1), At(i), gapMs)) {
      // A share in proportion to the answers, and at least the ends and one bucket's slowest and
      // fastest: a short stretch keeps its peak too.
      const std::size_t share = std::max<std::size_t>(maxPoints * (i - begin) / total, 4);
      Thin(begin, i - 1, share, stretches.emplace_back());
      begin = i;
    }
  return stretches;
}

void TSpeedHistory::Thin(std::size_t first, std::size_t last, std::size_t maxPoints,
                         std::vector<TSpeedPoint>& points) const
{
  if (last - first + 1 <= std::max<std::size_t>(maxPoints, 2)) {
    for (std::size_t i = first; i <= last; ++i)
      points.push_back(At(i));
    return;
  }
  // Each bucket gives its slowest and its fastest point: a short dip or peak of speed stays on the
  // chart, where taking every k-th point would often skip it.
  const std::size_t buckets = (maxPoints - 2) / 2;
  const std::size_t inner = last - first - 1; // more than 2 x buckets, so no bucket is empty
  points.reserve(points.size() + 2 * buckets + 2);
  points.push_back(At(first));
  for (std::size_t b = 0; b < buckets; ++b)
    AddExtremes(first + 1 + b * inner / buckets, first + 1 + (b + 1) * inner / buckets, points);
  points.push_back(At(last));
}

void TSpeedHistory::AddExtremes(std::size_t begin, std::size_t end, std::vector<TSpeedPoint>& points) const
{
  std::size_t slowest = begin, fastest = begin;
  for (std::size_t i = begin + 1; i < end; ++i) {
    if (At(i).OutputRpm < At(slowest).OutputRpm)
      slowest = i;
    if (At(i).OutputRpm > At(fastest).OutputRpm)
      fastest = i;
  }
  points.push_back(At(std::min(slowest, fastest)));
  if (slowest != fastest)
    points.push_back(At(std::max(slowest, fastest)));
}

void TSpeedHistory::WriteCsv(std::ostream& out, const std::vector<TSpeedEvent>& events) const
{
  out << "time,output_rpm,revolutions,event,address\n";
  auto event = events.begin();
  const auto writeEventsBefore = [&](std::int64_t timeMs) {
    for (; event != events.end() && event->TimeMs < timeMs; ++event)
      out << TLogExport::IsoTime(event->TimeMs) << ",,," << event->Text << ",\n";
  };
  for (std::size_t i = 0; i < Size(); ++i) {
    const TSpeedPoint& point = At(i);
    writeEventsBefore(point.TimeMs);
    out << TLogExport::IsoTime(point.TimeMs);
    out << ',';
    WriteNumber(out, point.OutputRpm);
    out << ',' << point.Revolutions << ",," << TOzmCommands::HexAddress(point.Address) << '\n';
  }
  writeEventsBefore(std::numeric_limits<std::int64_t>::max());
}

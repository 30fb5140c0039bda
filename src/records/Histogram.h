#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// Values counted into bins of one width over a span that holds them and the limits, so that the bins
// show how near the values come to each limit.
struct THistogram {
  double From = 0, Width = 0;
  std::vector<std::int64_t> Counts; // none without a value

  static THistogram Of(const std::vector<double>& values, std::optional<double> low, std::optional<double> high,
                       std::size_t bins);
  double To() const { return From + Width * static_cast<double>(Counts.size()); }
};

#include "records/Histogram.h"

#include <algorithm>
#include <cmath>

THistogram THistogram::Of(const std::vector<double>& values, std::optional<double> low, std::optional<double> high,
                          std::size_t bins)
{
  THistogram histogram;
  if (values.empty() || bins == 0)
    return histogram;
  const auto [least, most] = std::minmax_element(values.begin(), values.end());
  double from = std::min(*least, low.value_or(*least));
  double to = std::max(*most, high.value_or(*most));
  if (to <= from) { // one value and no limit apart from it: a bin of width one around it
    from -= 0.5;
    to += 0.5;
  }
  histogram.From = from;
  histogram.Width = (to - from) / static_cast<double>(bins);
  histogram.Counts.assign(bins, 0);
  for (const double value : values) {
    // The span's upper end belongs to the last bin.
    const auto bin = static_cast<std::size_t>(std::floor((value - from) / histogram.Width));
    ++histogram.Counts[std::min(bin, bins - 1)];
  }
  return histogram;
}

#include "records/Histogram.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

// The span holds the values and the limits; the upper end belongs to the last bin; every value is counted.
TEST(Histogram, BinsHoldEveryValueAndReachEachLimit)
{
  const struct {
    const char* Name;
    std::vector<double> Values;
    std::optional<double> Low, High;
    std::size_t Bins;
    double From, Width;
    std::vector<std::int64_t> Counts;
  } cases[] = {
      {"the upper end in the last bin", {1, 2, 3, 4}, {}, {}, 3, 1, 1, {1, 1, 2}},
      {"limits widen the span", {5}, 0, 10, 10, 0, 1, {0, 0, 0, 0, 0, 1, 0, 0, 0, 0}},
      {"a value below the low limit", {90, 100}, 95, 105, 3, 90, 5, {1, 0, 1}},
      {"a value above the high limit", {100, 110}, 95, 105, 3, 95, 5, {0, 1, 1}},
      {"one value, no limit", {7}, {}, {}, 4, 6.5, 0.25, {0, 0, 1, 0}},
      {"equal values at the limit", {5, 5}, 5, {}, 2, 4.5, 0.5, {0, 2}},
      {"no value", {}, 0, 10, 5, 0, 0, {}},
      {"no bin", {1, 2}, {}, {}, 0, 0, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const THistogram histogram = THistogram::Of(c.Values, c.Low, c.High, c.Bins);
    EXPECT_DOUBLE_EQ(histogram.From, c.From);
    EXPECT_DOUBLE_EQ(histogram.Width, c.Width);
    EXPECT_EQ(histogram.Counts, c.Counts);
    if (!c.Counts.empty()) {
      EXPECT_EQ(std::accumulate(histogram.Counts.begin(), histogram.Counts.end(), std::int64_t{0}),
                static_cast<std::int64_t>(c.Values.size()));
    }
  }
}

} // namespace

#include "files/UtcTime.h"

#include <cstdio>
#include <ctime>

namespace {

std::string Formatted(std::chrono::system_clock::time_point time, const char* format)
{
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char text[40];
  return {text, std::strftime(text, sizeof text, format, &utc)};
}

} // namespace

std::string UtcText(std::chrono::system_clock::time_point time)
{
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count() % 1000;
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%03dZ", static_cast<int>(ms));
  return Formatted(time, "%Y-%m-%dT%H:%M:%S") + fraction;
}

std::string UtcStamp(std::chrono::system_clock::time_point time)
{
  return Formatted(time, "%Y%m%dT%H%M%SZ");
}

#include "SimLineSettings.h"

#include "SimTermios2.h"
#include "protocol/WireTime.h"

#include <algorithm>
#include <termios.h>

namespace {

struct TParityName {
  TSimParity Parity;
  std::string_view Name;
  char Letter;
};

constexpr TParityName ParityNames[] = {{TSimParity::None, "none", 'N'},
                                       {TSimParity::Odd, "odd", 'O'},
                                       {TSimParity::Even, "even", 'E'},
                                       {TSimParity::Mark, "mark", 'M'},
                                       {TSimParity::Space, "space", 'S'}};

// Without termios2 only the rates with a B constant can be told or set.
std::optional<TSimLineSettings> ReadTermios(int fd)
{
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0)
    return std::nullopt;
  const std::uint32_t rate = RateOfSpeedFlag(::cfgetospeed(&tio));
  if (rate == 0)
    return std::nullopt;
  TSimLineSettings settings{.Baud = rate};
  ReadFraming(tio.c_cflag, settings);
  return settings;
}

bool ApplyRawTermios(int fd, const TSimLineSettings& settings)
{
  const speed_t speed = SpeedFlag(settings.Baud);
  termios tio{};
  if (speed == 0 || ::tcgetattr(fd, &tio) != 0)
    return false;
  ::cfmakeraw(&tio);
  tio.c_cflag = (tio.c_cflag & ~FramingMask()) | FramingFlags(settings);
  return ::cfsetspeed(&tio, speed) == 0 && ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

} // namespace

unsigned TSimLineSettings::BitsPerByte() const
{
  return ::BitsPerByte(DataBits, Parity != TSimParity::None, StopBits == 2);
}

std::chrono::nanoseconds TSimLineSettings::WireTime(std::size_t bytes) const
{
  return ::WireTime(bytes, Baud, BitsPerByte());
}

std::string TSimLineSettings::Text() const
{
  const auto named = std::find_if(std::begin(ParityNames), std::end(ParityNames),
                                  [&](const TParityName& entry) { return entry.Parity == Parity; });
  const char letter = named == std::end(ParityNames) ? '?' : named->Letter;
  return std::to_string(Baud) + " " + std::to_string(DataBits) + letter + std::to_string(StopBits);
}

std::optional<TSimParity> TSimLineSettings::ParityNamed(std::string_view name)
{
  const auto named = std::find_if(std::begin(ParityNames), std::end(ParityNames),
                                  [&](const TParityName& entry) { return entry.Name == name; });
  return named == std::end(ParityNames) ? std::nullopt : std::optional(named->Parity);
}

std::optional<TSimLineSettings> TSimLineSettings::Read(int fd)
{
  if (auto settings = ReadTermios2(fd))
    return settings;
  return ReadTermios(fd);
}

bool TSimLineSettings::ApplyRaw(int fd, const TSimLineSettings& settings)
{
  return ApplyRawTermios2(fd, settings) || ApplyRawTermios(fd, settings);
}

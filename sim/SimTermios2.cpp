#include "SimTermios2.h"

#include <algorithm>
#include <array>
#include <utility>

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Past any library that wraps ioctl(), as a test bed's preloaded one does for the devices it emulates.
int Ioctl(int fd, unsigned long request, termios2* settings)
{
  return static_cast<int>(::syscall(SYS_ioctl, fd, request, settings));
}

// The rates that have a B constant: these are set as such, so that tcgetattr() names them too.
constexpr std::array<std::pair<std::uint32_t, std::uint32_t>, 30> Rates = {{
    {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},         {B150, 150},
    {B200, 200},         {B300, 300},         {B600, 600},         {B1200, 1200},       {B1800, 1800},
    {B2400, 2400},       {B4800, 4800},       {B9600, 9600},       {B19200, 19200},     {B38400, 38400},
    {B57600, 57600},     {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
    {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000}, {B1500000, 1500000},
    {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000}, {B3500000, 3500000}, {B4000000, 4000000},
}};

} // namespace

std::uint32_t SpeedFlag(std::uint32_t baud)
{
  const auto rate = std::find_if(Rates.begin(), Rates.end(), [&](const auto& entry) { return entry.second == baud; });
  return rate == Rates.end() ? 0 : rate->first;
}

std::uint32_t RateOfSpeedFlag(std::uint32_t flag)
{
  const auto rate = std::find_if(Rates.begin(), Rates.end(), [&](const auto& entry) { return entry.first == flag; });
  return rate == Rates.end() ? 0 : rate->second;
}

std::uint32_t FramingMask()
{
  return CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
}

std::uint32_t FramingFlags(const TSimLineSettings& settings)
{
  constexpr tcflag_t Sizes[] = {CS5, CS6, CS7, CS8};
  tcflag_t flags = Sizes[settings.DataBits >= 5 && settings.DataBits <= 8 ? settings.DataBits - 5 : 3];
  switch (settings.Parity) {
  case TSimParity::Odd: flags |= PARENB | PARODD; break;
  case TSimParity::Even: flags |= PARENB; break;
  case TSimParity::Mark: flags |= PARENB | CMSPAR | PARODD; break; // the parity bit is always 1
  case TSimParity::Space: flags |= PARENB | CMSPAR; break;         // always 0
  case TSimParity::None: break;
  }
  return flags | (settings.StopBits == 2 ? CSTOPB : 0);
}

void ReadFraming(std::uint32_t cflag, TSimLineSettings& settings)
{
  switch (cflag & CSIZE) {
  case CS5: settings.DataBits = 5; break;
  case CS6: settings.DataBits = 6; break;
  case CS7: settings.DataBits = 7; break;
  default: settings.DataBits = 8; break;
  }
  if (!(cflag & PARENB))
    settings.Parity = TSimParity::None;
  else if (cflag & CMSPAR)
    settings.Parity = (cflag & PARODD) ? TSimParity::Mark : TSimParity::Space;
  else
    settings.Parity = (cflag & PARODD) ? TSimParity::Odd : TSimParity::Even;
  settings.StopBits = (cflag & CSTOPB) ? 2 : 1;
}

std::optional<TSimLineSettings> ReadTermios2(int fd)
{
  termios2 tio{};
  if (Ioctl(fd, TCGETS2, &tio) != 0)
    return std::nullopt;
  // The kernel fills c_ospeed with the real rate whether it was set as a B constant or as BOTHER.
  TSimLineSettings settings{.Baud = static_cast<std::uint32_t>(tio.c_ospeed)};
  ReadFraming(tio.c_cflag, settings);
  return settings;
}

bool ApplyRawTermios2(int fd, const TSimLineSettings& settings)
{
  termios2 tio{};
  if (Ioctl(fd, TCGETS2, &tio) != 0)
    return false;
  // What cfmakeraw() clears, so bytes pass unchanged both ways.
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT) | FramingMask());
  const tcflag_t speed = SpeedFlag(settings.Baud) != 0 ? SpeedFlag(settings.Baud) : BOTHER;
  tio.c_cflag |= CREAD | CLOCAL | speed | (speed << IBSHIFT) | FramingFlags(settings);
  tio.c_ispeed = settings.Baud;
  tio.c_ospeed = settings.Baud;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  return Ioctl(fd, TCSETS2, &tio) == 0;
}

#include "serial/SerialDevice.h"

// termios2 (for 14400 and 56000 baud) lives in the kernel's headers, which clash with <termios.h>;
// this file therefore uses only the kernel's definitions.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <asm/termios.h>
#include <linux/serial.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Straight to the driver, past any library that wraps ioctl(): umockdev's test bed answers there
// for the hardware it emulates, not for the pseudo-terminal behind its device node.
template <class T>
int Ioctl(int fd, unsigned long request, T argument)
{
  return static_cast<int>(::syscall(SYS_ioctl, fd, request, argument));
}

// A terminal device: its driver takes the terminal calls (a file or /dev/null does not).
bool IsTerminal(int fd)
{
  termios2 settings{};
  return Ioctl(fd, TCGETS2, &settings) == 0;
}

tcflag_t DataBitsFlag(std::uint8_t bits)
{
  switch (bits) {
  case 5: return CS5;
  case 6: return CS6;
  case 7: return CS7;
  default: return CS8;
  }
}

tcflag_t ParityFlags(std::uint8_t parity)
{
  switch (parity) {
  case 1: return PARENB | PARODD;
  case 2: return PARENB;
  case 3: return PARENB | CMSPAR | PARODD; // mark: the parity bit is always 1
  case 4: return PARENB | CMSPAR;          // space: always 0
  default: return 0;
  }
}

std::uint8_t ParityCode(tcflag_t cflag)
{
  if (!(cflag & PARENB))
    return 0;
  if (cflag & CMSPAR)
    return (cflag & PARODD) ? 3 : 4;
  return (cflag & PARODD) ? 1 : 2;
}

std::uint8_t DataBitsOf(tcflag_t cflag)
{
  switch (cflag & CSIZE) {
  case CS5: return 5;
  case CS6: return 6;
  case CS7: return 7;
  default: return 8;
  }
}

// No modem lines at all (a pseudo-terminal) is a line that is off, not a failure.
bool NoModemLines(int error)
{
  return error == ENOTTY || error == EINVAL;
}

} // namespace

TSerialDevice::~TSerialDevice()
{
  Close();
}

bool TSerialDevice::Open(const std::string& path)
{
  Close();
  LastOpenError = ENOENT;
  if (path.empty())
    return false;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    LastOpenError = errno;
    return false;
  }
  // A file or /dev/null would take the frames silently: only a terminal device is a line.
  // TIOCEXCL does not stop root; the lock keeps a second program (or a second open) out.
  if (!IsTerminal(fd))
    LastOpenError = ENOTTY;
  else if (Ioctl(fd, TIOCEXCL, 0) != 0 && !NoModemLines(errno))
    LastOpenError = errno;
  else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
    LastOpenError = errno;
  else
    LastOpenError = 0;
  if (LastOpenError != 0) {
    ::close(fd);
    return false;
  }
  Fd = fd;
  Path = path;
  HungUp = false;
  ErrorCounts = {};
  ClearErrors();
  return true;
}

void TSerialDevice::Close()
{
  if (Fd < 0)
    return;
  ::close(Fd);
  Fd = -1;
}

bool TSerialDevice::Apply(const TLineSettings& settings)
{
  if (Fd < 0)
    return false;
  termios2 tio{};
  tio.c_cflag = CLOCAL | CREAD | BOTHER | (BOTHER << IBSHIFT) | DataBitsFlag(settings.DataBits) |
                ParityFlags(settings.Parity) | (settings.StopBits != 0 ? CSTOPB : 0);
  tio.c_ispeed = settings.Baud;
  tio.c_ospeed = settings.Baud;
  // Every byte counts as input: the receive thread decides what makes a block.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (Ioctl(Fd, TCSETS2, &tio) != 0)
    return false;
  Baud = settings.Baud;
  // RTS on as the controller expects, DTR off; a device without modem lines ignores both.
  const int rts = TIOCM_RTS;
  const int dtr = TIOCM_DTR;
  Ioctl(Fd, TIOCMBIS, &rts);
  Ioctl(Fd, TIOCMBIC, &dtr);
  // Not asked for, the mode stays as the system set it: a board may enable it for its own port.
  Note = settings.Rs485 ? SetRs485Mode() : "";
  return true;
}

std::string TSerialDevice::SetRs485Mode() const
{
  serial_rs485 mode{};
  // From here the driver drives RTS, over the RTS raised above: on while sending, off after it; no delays.
  mode.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
  if (Ioctl(Fd, TIOCSRS485, &mode) == 0)
    return {};
  const int error = errno;
  if (error == ENOTTY)
    return Rs485NotSet + Path +
           " has none (a pseudo-terminal or a USB adapter, which switches direction itself); the port works "
           "without it.";
  return Rs485NotSet + Path + " refused it (" + std::strerror(error) + "); the port works without it.";
}

bool TSerialDevice::ReadBack(TLineSettings& settings) const
{
  termios2 tio{};
  if (Fd < 0 || Ioctl(Fd, TCGETS2, &tio) != 0)
    return false;
  settings.Baud = tio.c_ospeed;
  settings.DataBits = DataBitsOf(tio.c_cflag);
  settings.Parity = ParityCode(tio.c_cflag);
  settings.StopBits = (tio.c_cflag & CSTOPB) ? 2 : 0;
  return true;
}

std::uint32_t TSerialDevice::ModemStatus() const
{
  int lines = 0;
  if (Fd < 0)
    return ModemUnreadable;
  if (Ioctl(Fd, TIOCMGET, &lines) != 0)
    return NoModemLines(errno) ? 0 : ModemUnreadable;
  std::uint32_t status = 0;
  if (lines & TIOCM_CTS)
    status |= ModemCts;
  if (lines & TIOCM_DSR)
    status |= ModemDsr;
  if (lines & TIOCM_RNG)
    status |= ModemRing;
  if (lines & TIOCM_CD)
    status |= ModemCarrier;
  return status;
}

TLineStatus TSerialDevice::ClearErrors()
{
  TLineStatus status;
  int queued = 0;
  if (Fd >= 0 && Ioctl(Fd, FIONREAD, &queued) == 0 && queued > 0)
    status.InQueue = static_cast<std::uint32_t>(queued);
  if (Fd >= 0 && Ioctl(Fd, TIOCOUTQ, &queued) == 0 && queued > 0)
    status.OutQueue = static_cast<std::uint32_t>(queued);
  // Linux counts line errors instead of flagging them; a device without counters (a pty) has none.
  serial_icounter_struct counts{};
  if (Fd < 0 || Ioctl(Fd, TIOCGICOUNT, &counts) != 0)
    return status;
  const std::array<int, 5> now = {counts.buf_overrun, counts.overrun, counts.parity, counts.frame, counts.brk};
  const std::uint32_t flags[] = {TLineStatus::InputOverflow, TLineStatus::Overrun, TLineStatus::ParityError,
                                 TLineStatus::FramingError, TLineStatus::Break};
  for (std::size_t i = 0; i < now.size(); ++i)
    if (now[i] != ErrorCounts[i])
      status.Errors |= flags[i];
  ErrorCounts = now;
  return status;
}

bool TSerialDevice::Write(const std::uint8_t* bytes, std::size_t count)
{
  using namespace std::chrono;
  // Ten bits a byte on the wire, a second to spare: a stuck driver fails the write instead of hanging it.
  const auto deadline = steady_clock::now() + seconds(1) + milliseconds(count * 10'000 / (Baud ? Baud : 1));
  return Fd >= 0 && WriteAll(Fd, std::span(bytes, count), deadline,
                             [](int fd, const std::uint8_t* out, std::size_t size) { return ::write(fd, out, size); });
}

std::size_t TSerialDevice::Read(std::uint8_t* bytes, std::size_t count)
{
  if (Fd < 0 || count == 0)
    return 0;
  ssize_t n;
  do
    n = ::read(Fd, bytes, count);
  while (n < 0 && errno == EINTR);
  HungUp = HungUp || n == 0 || (n < 0 && errno != EAGAIN);
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

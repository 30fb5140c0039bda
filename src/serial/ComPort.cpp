#include "serial/ComPort.h"

#include "devices/PortLinks.h"
#include "protocol/WireTime.h"
#include "serial/SerialDevice.h"

#include <cerrno>
#include <chrono>
#include <sys/stat.h>
#include <thread>

namespace {
// Marks an open or a close as under way for as long as it lasts.
class TChangeGuard {
public:
  explicit TChangeGuard(bool& flag) : Flag(flag) { Flag = true; }
  TChangeGuard(const TChangeGuard&) = delete;
  TChangeGuard& operator=(const TChangeGuard&) = delete;
  ~TChangeGuard() { Flag = false; }

private:
  bool& Flag;
};
} // namespace

TComPort::TComPort() : Device(std::make_unique<TSerialDevice>())
{
}

TComPort::~TComPort()
{
  Close();
}

std::string TComPort::DeviceName() const
{
  return DeviceNameFor(DataFolder, PortNumber);
}

std::string TComPort::DeviceNameFor(const std::string& dataFolder, std::int32_t portNumber)
{
  if (portNumber <= 0)
    return {};
  const std::string link = dataFolder + "/COM" + std::to_string(portNumber);
  struct stat info {};
  // Only a link that is not there falls back. Any other failure (an unreadable Data folder, a loop)
  // names the link, whose open then fails the same way and is told, rather than open another line.
  if (!dataFolder.empty() && (::lstat(link.c_str(), &info) == 0 || errno != ENOENT))
    return link;
  return "/dev/ttyS" + std::to_string(portNumber - 1);
}

bool TComPort::Open()
{
  if (IsOpen() || Changing())
    return IsOpen();
  const TChangeGuard guard(ChangeUnderWay);
  {
    std::lock_guard lock(DeviceMutex);
    // The links are followed here, hop by hop, rather than by the kernel: the same device, and a
    // test bed that emulates /dev sees every hop.
    const std::string device = TPortLinks::DeviceBehind(DeviceName());
    Device = TLine::For(device);
    if (!Device->Open(device))
      return false;
    DeviceOpened = device;
    Opened = true;
  }
  ApplySettings();
  if (!ReadThread) {
    ReadThread = std::make_unique<TReadThread>(*this, *Device);
    ReadThread->SetLineRate(LineSettings().Baud);
  }
  return true;
}

int TComPort::OpenError() const
{
  std::lock_guard lock(DeviceMutex);
  return Device->OpenError();
}

void TComPort::Close()
{
  if (!IsOpen() || Changing())
    return;
  const TChangeGuard guard(ChangeUnderWay);
  // The receive thread ends before the device closes, so no thread touches a closed descriptor.
  ReadThread.reset();
  std::lock_guard lock(DeviceMutex);
  Device->Close();
  Opened = false;
}

void TComPort::SetReading(bool on)
{
  if (ReadThread)
    ReadThread->SetReading(on);
}

void TComPort::SetPortNumber(std::int32_t n)
{
  if (n == PortNumber)
    return;
  if (!IsOpen()) {
    PortNumber = n;
    return;
  }
  Close();
  PortNumber = n;
  Open();
}

template <class T>
void TComPort::SetSetting(T& field, T value)
{
  if (field == value)
    return;
  field = value;
  ApplySettings();
}

void TComPort::SetBaudIndex(std::uint8_t v)
{
  SetSetting(BaudIndex, v);
}

void TComPort::SetByteSize(std::uint8_t v)
{
  SetSetting(ByteSize, v);
}

void TComPort::SetParity(std::uint8_t v)
{
  SetSetting(Parity, v);
}

void TComPort::SetStopBits(std::uint8_t v)
{
  SetSetting(StopBits, v);
}

void TComPort::SetRs485(bool on)
{
  SetSetting(Rs485, on);
}

TLineSettings TComPort::LineSettings() const
{
  TLineSettings s;
  // An index outside the table keeps the line at 9600 rather than reading past it.
  s.Baud = BaudIndex < BaudRates.size() ? BaudRates[BaudIndex] : 9600;
  s.DataBits = static_cast<std::uint8_t>(5 + (ByteSize & 0x03));
  s.Parity = Parity;
  s.StopBits = StopBits;
  s.Rs485 = Rs485;
  return s;
}

void TComPort::ApplySettings()
{
  const TLineSettings line = LineSettings();
  ByteOnWireNs = WireTime(1, line.Baud, BitsPerByte(line.DataBits, line.Parity != 0, line.StopBits != 0)).count();
  if (!IsOpen())
    return;
  {
    std::lock_guard lock(DeviceMutex);
    Device->Apply(LineSettings()); // a refused setting keeps the device's previous one
  }
  if (ReadThread)
    ReadThread->SetLineRate(LineSettings().Baud);
}

std::chrono::nanoseconds TComPort::TimeOnWire(std::size_t bytes) const
{
  return std::chrono::nanoseconds(ByteOnWireNs.load() * static_cast<std::chrono::nanoseconds::rep>(bytes));
}

bool TComPort::ReadBackSettings(TLineSettings& settings) const
{
  std::lock_guard lock(DeviceMutex);
  return Device->ReadBack(settings);
}

TLineStatus TComPort::ClearErrors(std::uint64_t* epoch)
{
  std::lock_guard lock(DeviceMutex);
  if (epoch)
    *epoch = ReadEpoch;
  return Device->ClearErrors();
}

// One lock from the drop to the write: nothing read in between can slip into the frame's epoch,
// and the dropped bytes are told before the answer can be.
bool TComPort::WriteFrame(std::span<const std::uint8_t> bytes,
                          const std::function<void(std::vector<std::uint8_t>)>& dropped)
{
  std::lock_guard lock(DeviceMutex);
  if (std::vector<std::uint8_t> stale = Device->DropInput(); !stale.empty())
    dropped(std::move(stale));
  ++ReadEpoch;
  return Device->Write(bytes.data(), bytes.size());
}

std::size_t TComPort::ReadQueued(std::uint8_t* bytes, std::size_t count, std::uint64_t epoch)
{
  std::lock_guard lock(DeviceMutex);
  return epoch == ReadEpoch ? Device->Read(bytes, count) : 0;
}

bool TComPort::WriteBlock(std::span<const std::uint8_t> bytes)
{
  std::this_thread::sleep_for(std::chrono::milliseconds(WritePauseMs));
  return WriteBytes(bytes.data(), bytes.size());
}

bool TComPort::WriteBytes(const std::uint8_t* bytes, std::size_t count)
{
  std::lock_guard lock(DeviceMutex);
  return Device->Write(bytes, count);
}

std::uint32_t TComPort::ModemStatus() const
{
  std::lock_guard lock(DeviceMutex);
  return Device->ModemStatus();
}

std::string TComPort::FailureReason() const
{
  std::lock_guard lock(DeviceMutex);
  return Device->FailureReason();
}

std::string TComPort::SettingsNote() const
{
  std::lock_guard lock(DeviceMutex);
  return Device->SettingsNote();
}

std::chrono::steady_clock::time_point TComPort::LastBlockRead() const
{
  return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(LastBlockTicks.load()));
}

TComPort::TClaim TComPort::NoteBlockRead(std::uint64_t epoch)
{
  LastBlockTicks = std::chrono::steady_clock::now().time_since_epoch().count();
  return OnRead ? OnRead(epoch) : 0;
}

void TComPort::SetInBufSize(std::uint32_t size)
{
  if (!IsOpen() && size != 0)
    BufSize = size;
}

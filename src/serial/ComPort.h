#pragma once

#include "serial/Line.h"
#include "serial/ReadThread.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

// The serial port: device N chosen by number, its line settings, the receive thread that hands
// incoming blocks to OnReceive, and the writes and modem status the exchange worker needs.
// The window's thread opens, closes and configures it; the exchange worker writes and reads the
// modem status; the device is guarded so that a close never pulls it from under a write.
class TComPort {
public:
  // What the port's owner makes of a block as it is read (the answer to which frame, if any), handed to
  // OnReceive with the block.
  using TClaim = std::uint32_t;
  using TReadHandler = std::function<TClaim(std::uint64_t epoch)>;
  using TReceiveHandler =
      std::function<void(const std::uint8_t* data, std::int32_t count, std::uint32_t errors, TClaim claim)>;

  static constexpr std::array<std::uint32_t, 13> BaudRates = {110,   300,   600,   1200,  2400,  4800, 9600,
                                                               14400, 19200, 38400, 56000, 57600, 115200};
  // Every frame is preceded by this much silence on the line.
  static constexpr int WritePauseMs = 50;

  TComPort();
  TComPort(const TComPort&) = delete;
  TComPort& operator=(const TComPort&) = delete;
  ~TComPort();

  bool Open();
  void Close();
  bool IsOpen() const { return Opened; }
  // The errno of the step that made the last Open fail.
  int OpenError() const;
  // True while an open or a close is under way. A close waits for the receive thread and runs the
  // window's pending calls meanwhile; a recovery among them must not open or close the port beneath it.
  bool Changing() const { return ChangeUnderWay; }
  void SetReading(bool on);

  void SetPortNumber(std::int32_t n);
  void SetBaudIndex(std::uint8_t v);
  void SetByteSize(std::uint8_t v);
  void SetParity(std::uint8_t v);
  void SetStopBits(std::uint8_t v);
  void SetRs485(bool on);
  void ApplySettings();
  // The line settings as the driver holds them; false while closed.
  bool ReadBackSettings(TLineSettings& settings) const;

  // Line errors since the last call and the queue sizes; the receive thread's. `epoch` gets the read
  // epoch in force at that look.
  TLineStatus ClearErrors(std::uint64_t* epoch = nullptr);
  bool WriteBlock(std::span<const std::uint8_t> bytes);
  bool WriteBytes(const std::uint8_t* bytes, std::size_t count);
  std::uint32_t ModemStatus() const;
  // Why the line gave up by itself (it flooded); "" when it did not.
  std::string FailureReason() const;
  // What the last open or settings change could not set, and why (RS-485 mode); "" when it set all.
  std::string SettingsNote() const;

  // Read epochs tell which write a block follows: each frame's write begins a new one, and the
  // receive thread reads every block within one, so a block read before the write is never taken
  // for the frame's answer.
  std::uint64_t Epoch() const { return ReadEpoch; }
  // The worker: drops what the driver has queued (none of it can be this frame's answer), hands it
  // to `dropped` when there is any, then writes the frame in a new epoch.
  bool WriteFrame(std::span<const std::uint8_t> bytes, const std::function<void(std::vector<std::uint8_t>)>& dropped);
  // The receive thread: reads queued bytes while the epoch is still `epoch`; 0 once it has changed.
  std::size_t ReadQueued(std::uint8_t* bytes, std::size_t count, std::uint64_t epoch);

  // When the receive thread last took a block from the driver: the line has been silent since.
  std::chrono::steady_clock::time_point LastBlockRead() const;
  // The receive thread, as it takes a block in the read epoch `epoch`: what OnRead makes of it (0 without one).
  TClaim NoteBlockRead(std::uint64_t epoch);

  std::uint32_t InBufSize() const { return BufSize; }
  // Taken only while closed and only when not 0: the receive thread sizes its buffer at open.
  void SetInBufSize(std::uint32_t size);

  // Port N is the link Data/COM<N> in DataFolder when it exists, else /dev/ttyS<N-1>; 0 is none.
  std::string DeviceName() const;
  static std::string DeviceNameFor(const std::string& dataFolder, std::int32_t portNumber);
  // The device the last successful Open reached at the end of DeviceName's links.
  const std::string& OpenedDevice() const { return DeviceOpened; }

  std::uint8_t BaudIndex = 0;
  std::uint8_t ByteSize = 0;
  std::uint8_t Parity = 0;
  std::uint8_t StopBits = 0;
  bool Rs485 = false; // the kernel's RS-485 mode, RTS driving the bus direction
  std::int32_t PortNumber = 0;
  bool WaitFullBuffer = true;
  TReceiveHandler OnReceive;
  // Called on the receive thread as each block is read, with its read epoch: an answer is claimed as it arrives,
  // whatever the window's thread, which hands it to OnReceive, is busy with meanwhile.
  TReadHandler OnRead;
  std::unique_ptr<TReadThread> ReadThread;
  // The folder of the program's settings and COM<N> links; the owner sets it.
  std::string DataFolder;

  // The rate, data bits, parity, stop bits and RS-485 mode in force, as the device takes them.
  TLineSettings LineSettings() const;
  // How long `bytes` bytes take on the line at the settings in force; any thread.
  std::chrono::nanoseconds TimeOnWire(std::size_t bytes) const;

private:
  template <class T>
  void SetSetting(T& field, T value);

  mutable std::mutex DeviceMutex;
  std::unique_ptr<TLine> Device; // never null: the kind of line is chosen anew at each Open
  std::atomic<bool> Opened{false};
  std::string DeviceOpened; // window's thread only
  bool ChangeUnderWay = false; // window's thread only
  std::atomic<std::chrono::steady_clock::rep> LastBlockTicks{0};
  std::atomic<std::uint64_t> ReadEpoch{1}; // changed only under DeviceMutex
  std::atomic<std::chrono::nanoseconds::rep> ByteOnWireNs{0};
  std::uint32_t BufSize = 5;
};

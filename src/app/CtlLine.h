#pragma once

#include "CommonDatas.h"
#include "SerialDevice.h"

#include <chrono>
#include <span>
#include <string>

// The serial line as ozmetctl uses it: one frame at a time, from this thread, with no receive thread
// or event loop. Each frame waits the window's pause of silence, then up to a timeout for its answer.
class TCtlLine {
public:
  enum class TReply { Answered, NoAnswer, BadChecksum };

  // Opens the device a port name leads to; throws TCtlError (port) with the window's reason.
  void Open(const std::string& name, const TLineSettings& settings);
  // Sends the frame and reads its five-byte answer. A short answer is a bad checksum, as in the
  // window. Throws TCtlError (no answer) when the line itself fails.
  TReply Exchange(std::span<const std::uint8_t> frame, std::chrono::milliseconds timeout, TFrame& answer);

private:
  void DiscardInput();
  // The bytes of the answer that came by the deadline, at most five.
  std::size_t ReadAnswer(TFrame& answer, std::chrono::steady_clock::time_point deadline);

  TSerialDevice Device;
};

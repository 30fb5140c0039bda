#pragma once

#include "protocol/CommonDatas.h"
#include "serial/Line.h"

#include <chrono>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

// A serial line driven one frame at a time from the calling thread, with no receive thread or event
// loop: ozmetctl's line, the bus scan's and the test sequence's. Each frame waits the worker's pause of
// silence, then up to a timeout for its answer.
class TFrameLine {
public:
  enum class TReply { Answered, NoAnswer, BadChecksum };
  // Told every frame written ("tx"), answer read ("rx") and stale bytes dropped ("stale").
  using TTrace = std::function<void(std::string_view what, std::span<const std::uint8_t> bytes)>;

  // Opens the device a port name leads to; throws TLineError (OpenFailed) with the window's reason.
  void Open(const std::string& name, const TLineSettings& settings);
  // Sends the frame after the pause and reads its five-byte answer. A short answer is a bad checksum, as in the
  // window. Throws TLineError (LineFailed) when the line itself fails. The scan's: it waits out no late answer,
  // since it asks again whatever it suspects.
  TReply Exchange(std::span<const std::uint8_t> frame, std::chrono::milliseconds timeout, TFrame& answer);
  // For a caller that waits the pause itself, so that it can cut it short: after a missing or damaged answer it
  // first waits out the late answer's grace, so that a late answer is dropped as stale, never taken for this one's.
  TReply ExchangeNow(std::span<const std::uint8_t> frame, std::chrono::milliseconds timeout, TFrame& answer);
  // The protocol's 300 ms for an answer plus the time the frame and its answer take on this line.
  std::chrono::milliseconds AnswerTimeout() const;
  // What the open could not set, and why (RS-485 mode); "" when it set all.
  std::string SettingsNote() const { return Device ? Device->SettingsNote() : ""; }
  void SetTrace(TTrace trace) { Trace = std::move(trace); }
  // What the last Exchange dropped before its write: bytes that answered no frame of ours.
  const std::vector<std::uint8_t>& StaleBytes() const { return Stale; }

private:
  // Writes the frame and reads its answer until the timeout.
  TReply Transfer(std::span<const std::uint8_t> frame, std::chrono::milliseconds timeout, TFrame& answer);
  // The bytes of the answer that came by the deadline, at most five.
  std::size_t ReadAnswer(TFrame& answer, std::chrono::steady_clock::time_point deadline);

  // The words of a line failure: the line's own reason when it gave one, else `otherwise`.
  std::string Failed(const std::string& otherwise) const;
  void Traced(std::string_view what, std::span<const std::uint8_t> bytes) const;

  std::unique_ptr<TLine> Device;
  TLineSettings Settings;
  std::vector<std::uint8_t> Stale;
  bool AnsweredBefore = false; // something came back on this line since it opened
  std::chrono::steady_clock::time_point QuietUntil{}; // no write before: a late answer may still come
  TTrace Trace;
};

#include "serial/FrameLine.h"

#include "devices/OpenFailure.h"
#include "devices/PortLinks.h"
#include "protocol/OzmCommands.h"
#include "protocol/WireTime.h"
#include "serial/ComPort.h"
#include "serial/LineError.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <thread>

namespace {

// What a serial device server said before it closed the line: ser2net tells a second client "Port
// already in use" in plain text. Empty when the bytes are no such text.
std::string ServerWords(std::span<const std::uint8_t> bytes)
{
  std::string text(bytes.begin(), bytes.end());
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
    text.pop_back();
  const bool printable = std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
  return text.size() >= 4 && printable ? text : "";
}

// The reason a line failed, with the server's own words when it said any: a server that refuses the
// line before anything was answered on it refused to open it, whether that came before or after
// the settings were sent.
TLineError Closed(std::span<const std::uint8_t> said, const std::string& otherwise, bool answeredBefore)
{
  const std::string words = ServerWords(said);
  if (words.empty())
    return TLineError(TLineError::TKind::LineFailed, otherwise);
  return TLineError(answeredBefore ? TLineError::TKind::LineFailed : TLineError::TKind::OpenFailed,
                    "the server closed the line, saying \"" + words +
                        "\": its port or its device is in use by another client");
}

} // namespace

void TFrameLine::Open(const std::string& name, const TLineSettings& settings)
{
  // As the window opens it: the links followed hop by hop, and the reason told about the name.
  const std::string device = TPortLinks::DeviceBehind(name);
  AnsweredBefore = false;
  Device = TLine::For(device);
  if (!Device->Open(device))
    throw TLineError(TLineError::TKind::OpenFailed, TOpenFailure::Explain(name, Device->OpenError()));
  if (!Device->Apply(settings)) {
    const std::string words = ServerWords(Device->DropInput());
    throw TLineError(TLineError::TKind::OpenFailed,
                     words.empty() ? name + " refuses the line settings."
                                   : name + ": the server closed the line, saying \"" + words +
                                         "\": its port or its device is in use by another client.");
  }
  Settings = settings;
}

std::chrono::milliseconds TFrameLine::AnswerTimeout() const
{
  const auto onWire = WireTime(2 * TFrame{}.size(), Settings.Baud,
                               BitsPerByte(Settings.DataBits, Settings.Parity != 0, Settings.StopBits != 0));
  return std::chrono::milliseconds(TCommonDatas::AnswerTimeout) +
         std::chrono::ceil<std::chrono::milliseconds>(onWire);
}

TFrameLine::TReply TFrameLine::Exchange(std::span<const std::uint8_t> frame, std::chrono::milliseconds timeout,
                                    TFrame& answer)
{
  std::this_thread::sleep_for(std::chrono::milliseconds(TComPort::WritePauseMs));
  return Transfer(frame, timeout, answer);
}

TFrameLine::TReply TFrameLine::ExchangeNow(std::span<const std::uint8_t> frame, std::chrono::milliseconds timeout,
                                           TFrame& answer)
{
  std::this_thread::sleep_until(QuietUntil);
  const TReply reply = Transfer(frame, timeout, answer);
  if (reply != TReply::Answered)
    QuietUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(TCommonDatas::LateAnswerGrace);
  return reply;
}

TFrameLine::TReply TFrameLine::Transfer(std::span<const std::uint8_t> frame, std::chrono::milliseconds timeout,
                                        TFrame& answer)
{
  Stale = Device->DropInput(); // a late answer or a stray byte must not pass for this frame's answer
  if (!Stale.empty())
    Traced("stale", Stale);
  if (!Device->Write(frame.data(), frame.size())) {
    const std::vector<std::uint8_t> more = Device->DropInput();
    std::vector<std::uint8_t> said = Stale;
    said.insert(said.end(), more.begin(), more.end());
    throw Closed(said, Failed("the frame could not be written"), AnsweredBefore);
  }
  Traced("tx", frame);
  const std::size_t count = ReadAnswer(answer, std::chrono::steady_clock::now() + timeout);
  Traced("rx", std::span(answer).first(count));
  if (count == 0)
    return TReply::NoAnswer;
  AnsweredBefore = true;
  if (count < answer.size() || TOzmCommands::Crc8(std::span(answer).first(4)) != answer[4])
    return TReply::BadChecksum;
  return TReply::Answered;
}

std::string TFrameLine::Failed(const std::string& otherwise) const
{
  const std::string reason = Device->FailureReason();
  return "the line failed: " + (reason.empty() ? otherwise : reason);
}

void TFrameLine::Traced(std::string_view what, std::span<const std::uint8_t> bytes) const
{
  if (Trace)
    Trace(what, bytes);
}

std::size_t TFrameLine::ReadAnswer(TFrame& answer, std::chrono::steady_clock::time_point deadline)
{
  using namespace std::chrono;
  std::size_t count = 0;
  while (count < answer.size()) {
    const auto left = duration_cast<nanoseconds>(deadline - steady_clock::now()).count();
    if (left <= 0)
      break;
    const timespec wait{static_cast<time_t>(left / 1'000'000'000), static_cast<long>(left % 1'000'000'000)};
    pollfd pfd{Device->Handle(), POLLIN, 0};
    const int ready = ::ppoll(&pfd, 1, &wait, nullptr);
    if (ready < 0 && errno == EINTR)
      continue; // Ctrl+C is looked at between frames, never inside one
    if (ready <= 0)
      break;
    const std::size_t got = Device->Read(answer.data() + count, answer.size() - count);
    count += got;
    // Readable with nothing for the line (a network line's own talk) is no failure; an end is.
    if (Device->Ended() || (got == 0 && (pfd.revents & (POLLHUP | POLLERR))))
      throw Closed(std::span(answer).first(count), Failed("the device hung up"), AnsweredBefore);
  }
  return count;
}

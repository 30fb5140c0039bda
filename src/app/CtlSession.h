#pragma once

#include "app/CtlOutput.h"
#include "serial/FrameLine.h"

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The line of one ozmetctl process, shared by every line of a script: opened at its first frame, and
// the one place that knows where a Run may have reached, so that every way out of the process sends
// those controllers Stop, whichever command or script line sent the Run.
class TCtlSession {
public:
  using TClock = std::chrono::steady_clock;

  explicit TCtlSession(TCtlOutput& output);

  // Where the line is: the name as the user gave it (a path, a port's link, a URL, serial:NUMBER),
  // the path it names, and its settings. Nothing opens yet.
  void Aim(const std::string& given, const std::string& path, const TLineSettings& settings);
  bool Aimed() const { return !Given.empty(); }
  // The device behind the links, or the URL: the line as the window names it too.
  const std::string& DeviceName() const { return Device; }
  // "/path/Data/COM1 (/dev/pts/3)": the name as given, the device behind it after it when it differs.
  std::string Where() const;
  const TLineSettings& LineSettings() const { return Settings; }

  // Sends the frame after the pause and returns its sound answer. Throws TCtlError for a missing or
  // damaged answer, and for an interrupt before the write: after an interrupt only a Stop goes out.
  TFrame Ask(std::span<const std::uint8_t> frame);
  // The same, the reply as it came: for a caller that goes on past a missing answer. An answered
  // Stop ends the address's count as running, whoever sent it (a test's step too).
  TFrameLine::TReply Send(std::span<const std::uint8_t> frame, TFrame& answer);
  // "no answer to set speed (A3) from $07 on /dev/ttyUSB0", for a reply that was not sound.
  std::string Failed(TFrameLine::TReply reply, std::span<const std::uint8_t> frame) const;
  // A frame that no controller answers (the address setting's): sent even after an interrupt, so
  // that no controller is left waiting; the answer time passes in silence.
  void Broadcast(std::span<const std::uint8_t> frame);
  // True when a controller answers at the address, soundly or not.
  bool Answers(std::uint8_t address);
  // The open line, opened now if it is not yet.
  TFrameLine& Line();
  // Opens the line again after it failed; false when it cannot be opened yet.
  bool Reopen();
  // For stop: a line that an ozmetctl or ozmet of this user holds is taken over: that program is
  // asked to end (it stops its motors on that way out) and the line is opened once it has let go.
  // What happened is said in the result of the Stop.
  void OpenTakingOver();

  // Stop to the address, again while it is not answered (retries more times): nothing when it was
  // answered, else what went wrong. An answered Stop ends the address's count as running.
  std::optional<std::string> TryStop(std::uint8_t address, int retries);
  // One Stop, not sent again: nothing when it was answered, else what went wrong.
  std::optional<std::string> StopOnce(std::uint8_t address);
  // After the line failed under a Stop: the line opened again and the Stop sent until LostLineStops after the loss.
  std::optional<std::string> StopOverALostLine(std::uint8_t address, std::string failure);
  // The way out: Stop to every controller that a Run sent since `since` (RunsSent()) may have
  // reached; each unanswered Stop is a stop-failed warning. True when every Stop was answered.
  // fields: what the stop object of an address carries besides it.
  bool StopOnTheWayOut(std::size_t since = 0,
                       const std::function<std::vector<TCtlOutput::TField>(std::uint8_t)>& fields = {});
  // How often a Stop to the address is sent again on the way out, when a Run went there (2).
  void StopRetries(std::uint8_t address, int retries);
  std::size_t RunsSent() const { return RunLog.size(); }
  // The result of a Stop that was answered, with the takeover said when there was one; `how` follows
  // "stopped" in the text.
  void ReportStopped(std::uint8_t address, std::vector<TCtlOutput::TField> fields = {}, const std::string& how = "");

private:
  // The pause of silence before a frame; false when an interrupt cut it short.
  bool Pause(bool evenWhenInterrupted) const;
  void Open();

  TCtlOutput& Output;
  std::string Given;
  std::string Path;
  std::string Device; // behind the links
  TLineSettings Settings;
  std::optional<TFrameLine> Frames;
  std::map<std::uint8_t, int> MayRun;  // address -> the retries its Stop gets
  std::map<std::uint8_t, int> Retries;
  std::vector<std::uint8_t> RunLog;    // every Run sent, in order
  std::string TakenOver;               // "ozmetctl (pid 812)" when stop took the line over
  std::optional<TClock::time_point> LineLostAt; // the line failed under a Stop and has carried none since
};

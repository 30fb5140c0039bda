#pragma once

#include <chrono>
#include <optional>
#include <string>

class TCommonDatas;

inline constexpr const char* MotorRevsResetText = "Motor revolutions counter: 0 rev";
inline constexpr const char* GearedRevsResetText = "Gearmotor revolutions counter: 0 rev";

// What the live status labels show. An empty optional means the label keeps what it shows: the counters
// freeze while feedback is off or the counter overflowed, and the direction words stay for a direction
// the controller does not report as 0 or 1.
struct TStatusTexts {
  std::string Speed;
  std::string Feedback;
  bool FeedbackRed = false;
  std::optional<std::string> MotorRevs;
  std::optional<std::string> GearedRevs;
  std::optional<bool> Backward;
  // The state is no longer known: the labels are greyed and the speed line says since when.
  bool Unknown = false;
};

// Whether the record still tells the motor's state: from a missing status answer or a port failure
// on it does not, until the next status answer is decoded.
class TStatusWatch {
public:
  using TClock = std::chrono::system_clock;

  // A status answer was decoded; true when it ends an unknown state.
  bool Answered(double speedRpm, TClock::time_point at);
  void Lost() { Known = false; }
  bool Unknown() const { return !Known; }

private:
  friend TStatusTexts StatusTexts(const TCommonDatas& datas, const TStatusWatch& watch);

  bool Known = true;
  std::optional<double> LastSpeedRpm; // none answered yet
  TClock::time_point LastAt;
};

TStatusTexts StatusTexts(const TCommonDatas& datas, const TStatusWatch& watch = {});

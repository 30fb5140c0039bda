#pragma once

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
};

TStatusTexts StatusTexts(const TCommonDatas& datas);

#include "motor/StatusDisplay.h"

#include "files/NumberFormat.h"
#include "protocol/CommonDatas.h"

#include <cmath>
#include <ctime>

namespace {

struct TFeedbackLook {
  const char* Text;
  bool Red;
  bool CountersLive;
};

constexpr TFeedbackLook Overflowed{"Feedback: counter overflowed", true, false};
constexpr TFeedbackLook FeedbackOff{"Feedback: no", false, false};
constexpr TFeedbackLook FeedbackOn{"Feedback: on", false, true};

// The overflow wins over everything: it stays until the operator clears the counters.
const TFeedbackLook& FeedbackLook(const TCommonDatas& datas)
{
  if (datas.CounterOverflow)
    return Overflowed;
  return datas.FeedbackOn ? FeedbackOn : FeedbackOff;
}

std::optional<bool> Backward(std::uint8_t direction)
{
  if (direction > 1)
    return std::nullopt;
  return direction == 1;
}

// "Current speed: unknown (last 1020 rpm at 17:34:17)": the speed as it was shown, whole, at local time.
std::string UnknownSpeed(std::optional<double> lastRpm, std::chrono::system_clock::time_point at)
{
  std::string text = "Current speed: unknown";
  if (!lastRpm)
    return text;
  const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
  std::tm local{};
  char clock[16] = "";
  if (localtime_r(&seconds, &local))
    std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
  return text + " (last " + std::to_string(std::lround(*lastRpm)) + " rpm at " + clock + ")";
}

} // namespace

bool TStatusWatch::Answered(double speedRpm, TClock::time_point at)
{
  const bool wasUnknown = !Known;
  Known = true;
  LastSpeedRpm = speedRpm;
  LastAt = at;
  return wasUnknown;
}

TStatusTexts StatusTexts(const TCommonDatas& datas, const TStatusWatch& watch)
{
  if (watch.Unknown()) { // the feedback word stays, greyed; counters and direction keep what they show
    TStatusTexts texts;
    texts.Unknown = true;
    texts.Speed = UnknownSpeed(watch.LastSpeedRpm, watch.LastAt);
    texts.Feedback = FeedbackLook(datas).Text;
    return texts;
  }
  const TFeedbackLook& look = FeedbackLook(datas);
  TStatusTexts texts;
  texts.Speed = "Current speed " + FormatFixed2(datas.CurrentSpeedRpm) + " rpm";
  texts.Feedback = look.Text;
  texts.FeedbackRed = look.Red;
  texts.Backward = Backward(datas.ActualDirection);
  if (look.CountersLive) {
    const double geared = datas.MotorRevCounter / datas.GearRatio;
    texts.MotorRevs = "Motor revolutions counter: " + std::to_string(datas.MotorRevCounter) + " rev";
    texts.GearedRevs = "Gearmotor revolutions counter: " + FormatGeneral(geared) + " rev";
  }
  return texts;
}

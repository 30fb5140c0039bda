#include "StatusDisplay.h"

#include "CommonDatas.h"
#include "NumberFormat.h"

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

} // namespace

TStatusTexts StatusTexts(const TCommonDatas& datas)
{
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

#include "CommonDatas.h"
#include "MotorParameters.h"
#include "NumberFormat.h"
#include "OzmCommands.h"
#include "RecordingView.h"
#include "StatusDisplay.h"
#include "ValueReader.h"
#include "WorkParameters.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace {

using TTexts = std::vector<std::string>;
constexpr std::int32_t IntMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t IntMax = std::numeric_limits<std::int32_t>::max();
constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double Untouched = -7.5;
const std::optional<double> Malformed;

TTexts MessageCalls(const std::string& message)
{
  return message.empty() ? TTexts{} : TTexts{"message " + message};
}

std::string RangeMessage(std::int32_t low, std::int32_t high)
{
  return "Please, set correct value from " + std::to_string(low) + " to " + std::to_string(high) + "!";
}

TTexts Texts(const TMotorFields& f)
{
  return {f.Address, f.Encoder, f.MaxSpeed, f.GearRatio};
}

TTexts Texts(const TWorkFields& f)
{
  return {f.Speed, f.Accel, f.Decel, f.Time, std::to_string(f.Direction), std::to_string(f.MotionType)};
}

// Value is Malformed where the text is no integer; the message then names the range.
struct TReadCase {
  const char* Name;
  std::string Text;
  std::int32_t Low, High;
  std::optional<double> Value;
  bool InRange;
};

class ReadValueInRangeCase : public ::testing::TestWithParam<TReadCase> {};

TEST_P(ReadValueInRangeCase, ReadsOrRefuses)
{
  const TReadCase& c = GetParam();
  TRecordingView view;
  double value = Untouched;
  EXPECT_EQ(ReadValueInRange(c.Text, c.Low, c.High, value, view), c.Value && c.InRange);
  EXPECT_EQ(value, c.Value.value_or(Untouched));
  EXPECT_EQ(view.Calls, MessageCalls(c.Value ? "" : RangeMessage(c.Low, c.High)));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ReadValueInRangeCase,
    ::testing::Values(
        TReadCase{"Decimal", "26", 0, 254, 26, true}, TReadCase{"DollarHex", "$1A", 0, 254, 26, true},
        TReadCase{"XHex", "x1F", 0, 254, 31, true}, TReadCase{"ZeroXHex", "0X1f", 0, 254, 31, true},
        TReadCase{"LeadingBlanks", " \t26", 0, 254, 26, true}, TReadCase{"MinusZero", "-0", 0, 254, 0, true},
        TReadCase{"Plus", "+5", 0, 254, 5, true}, TReadCase{"SignedHex", "-$10", -99, 99, -16, true},
        TReadCase{"Int32Min", "-2147483648", IntMin, IntMax, IntMin, true},
        TReadCase{"HexInt32Min", "-$80000000", IntMin, IntMax, IntMin, true},
        TReadCase{"TenThousandZeros", std::string(10000, '0') + "26", 0, 254, 26, true},
        TReadCase{"AboveRange", "$FF", 0, 254, 255, false}, TReadCase{"BelowRange", "0", 1, 24, 0, false},
        TReadCase{"TrailingBlank", "26 ", 0, 254, Malformed, false},
        TReadCase{"BadDigit", "1G", 0, 254, Malformed, false}, TReadCase{"Empty", "", 0, 254, Malformed, false},
        TReadCase{"DollarOnly", "$", 0, 254, Malformed, false}, TReadCase{"ZeroXOnly", "0x", 0, 254, Malformed, false},
        TReadCase{"BlankAfterSign", "- 5", 0, 254, Malformed, false},
        TReadCase{"SignAfterDollar", "$-5", 0, 254, Malformed, false},
        TReadCase{"PastInt32Max", "2147483648", IntMin, IntMax, Malformed, false},
        TReadCase{"PastInt32Min", "-2147483649", IntMin, IntMax, Malformed, false},
        TReadCase{"HexPastInt32Max", "$80000000", IntMin, IntMax, Malformed, false},
        TReadCase{"TenThousandDigits", "1" + std::string(9999, '0'), 0, 254, Malformed, false},
        TReadCase{"FullWidthDigits", "\xEF\xBC\x92\xEF\xBC\x96", 1, 3600000, Malformed, false},
        TReadCase{"LongNonAscii", "26" + std::string(10000, '\xC3'), 0, 254, Malformed, false}),
    [](const auto& info) { return info.param.Name; });

struct TFormatCase { double Value; const char* General; const char* Fixed2; };

class FormatCase : public ::testing::TestWithParam<TFormatCase> {};

TEST_P(FormatCase, GeneralAndFixed)
{
  EXPECT_EQ(FormatGeneral(GetParam().Value), GetParam().General);
  EXPECT_EQ(FormatFixed2(GetParam().Value), GetParam().Fixed2);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, FormatCase,
    ::testing::Values(TFormatCase{4020 / 12.5, "321.6", "321.60"}, TFormatCase{4020, "4020", "4020.00"},
                      TFormatCase{0.1, "0.1", "0.10"}, TFormatCase{-5.5, "-5.5", "-5.50"},
                      TFormatCase{2.0 / 3, "0.666666666666667", "0.67"}, TFormatCase{-0.0, "0", "0.00"},
                      // The speed label keeps to ten significant digits, however small the ratio.
                      TFormatCase{123456789.126, "123456789.126", "123456789.10"},
                      TFormatCase{9999999999.996, "9999999999.996", "1e+10"},
                      TFormatCase{123456789012345, "123456789012345", "1.23456789e+14"},
                      TFormatCase{std::numeric_limits<double>::max(), "1.79769313486232e+308", "1.797693135e+308"},
                      TFormatCase{1e20, "1e+20", "1e+20"}, TFormatCase{1e-7, "1e-07", "0.00"},
                      TFormatCase{std::numeric_limits<double>::quiet_NaN(), "NAN", "NAN"},
                      TFormatCase{-Inf, "-INF", "-INF"}));

struct TParseCase { std::string Text; std::optional<double> Value; }; // Malformed: refused

class ParseRealCase : public ::testing::TestWithParam<TParseCase> {};

TEST_P(ParseRealCase, ReadsOrRefuses)
{
  double value = Untouched;
  EXPECT_EQ(ParseReal(GetParam().Text, value), GetParam().Value.has_value()) << GetParam().Text.substr(0, 20);
  EXPECT_EQ(value, GetParam().Value.value_or(Untouched));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseRealCase,
    ::testing::Values(TParseCase{"12.5", 12.5}, TParseCase{"12,5", 12.5}, TParseCase{" \t-3", -3.0},
                      TParseCase{"+2", 2.0}, TParseCase{".5", 0.5}, TParseCase{"5.", 5.0}, TParseCase{"2,5e+1", 25.0},
                      TParseCase{"1E-2", 0.01}, TParseCase{std::string(10000, '0') + "1", 1.0},
                      TParseCase{"", Malformed}, TParseCase{"abc", Malformed}, TParseCase{"1.2.3", Malformed},
                      TParseCase{"1.2,3", Malformed}, TParseCase{"12 ", Malformed}, TParseCase{"inf", Malformed},
                      TParseCase{"-infinity", Malformed}, TParseCase{"nan", Malformed}, TParseCase{".", Malformed},
                      TParseCase{"+-1", Malformed}, TParseCase{"1e", Malformed}, TParseCase{"1e+", Malformed},
                      TParseCase{"0x10", Malformed}, TParseCase{"1e400", Malformed}, TParseCase{"1e-400", Malformed},
                      TParseCase{"1" + std::string(9999, '0'), Malformed}, TParseCase{"\xEF\xBC\x91", Malformed}));

// The record, the queue and the window stand-in that Apply works on.
class ConsoleLogicTest : public ::testing::Test {
protected:
  // Address, command and value of each queued frame.
  std::vector<std::vector<int>> Frames() const
  {
    std::vector<std::vector<int>> frames;
    for (std::size_t i = 0; i < Datas.QueueCount; ++i)
      frames.push_back({Datas.CommandQueue[i][1], Datas.CommandQueue[i][2], Datas.CommandQueue[i][3]});
    return frames;
  }
  std::vector<double> Stored() const
  {
    return {double(Datas.MotorAddress), double(Datas.EncoderPulses), double(Datas.MaxSpeedRps), Datas.GearRatio,
            double(Datas.WorkSpeedRps), double(Datas.Acceleration), double(Datas.Deceleration),
            double(Datas.WorkDirection), double(Datas.MotionType), double(Datas.MotionTimeMs)};
  }

  TCommonDatas Datas;
  TRecordingView View;
  TOzmCommands Commands{Datas, View};
  TMotorParameters Motor{Datas, Commands, View};
  TWorkParameters Work{Datas, Commands, View};
};

template <class TCase>
class ConsoleLogicCase : public ConsoleLogicTest, public ::testing::WithParamInterface<TCase> {};

TEST_F(ConsoleLogicTest, CancelBeforeAnyApplyShowsTheDefaults)
{
  EXPECT_EQ(Texts(Motor.StoredFields()), (TTexts{"$00", "2", "4020", "1"}));
  EXPECT_EQ(Texts(Work.StoredFields()), (TTexts{"960", "24", "24", "", "0", "0"}));
}

TEST_F(ConsoleLogicTest, MotorApplyQueuesEncoderThenMaximumToTheNewAddress)
{
  for (const char* address : {"$1A", "26"}) {
    Datas.ClearQueue();
    Datas.MotorAddress = 0;
    TMotorFields fields{address, "100", "4000", "12,5"};
    ASSERT_TRUE(Motor.ApplyMotorParameters(fields)) << address;
    EXPECT_EQ(Frames(), (std::vector<std::vector<int>>{{26, CmdSetEncoder, 100}, {26, CmdSetMaxSpeed, 67}}));
    EXPECT_EQ(Texts(Motor.StoredFields()), (TTexts{"$1A", "100", "4020", "12.5"}));
    EXPECT_EQ(fields.MaxSpeed, "4020");
    EXPECT_EQ(Motor.MaxGearedSpeedText(), "Max. output speed after gearhead: 321.6 rpm");
  }
  EXPECT_EQ(View.Calls.size(), View.MemoLines().size()); // no message
}

struct TMaxSpeedCase { const char* Typed; int Rps; const char* Shown; };

using MaxSpeedRounding = ConsoleLogicCase<TMaxSpeedCase>;

TEST_P(MaxSpeedRounding, SendsWholeRpsRoundedHalfUp)
{
  TMotorFields fields;
  fields.MaxSpeed = GetParam().Typed;
  ASSERT_TRUE(Motor.ApplyMotorParameters(fields));
  EXPECT_EQ(Frames().at(1), (std::vector<int>{0, CmdSetMaxSpeed, GetParam().Rps}));
  EXPECT_EQ(fields.MaxSpeed, GetParam().Shown);
}

INSTANTIATE_TEST_SUITE_P(Speeds, MaxSpeedRounding,
                         ::testing::Values(TMaxSpeedCase{"4010", 67, "4020"}, TMaxSpeedCase{"3990", 67, "4020"},
                                           TMaxSpeedCase{"3989", 66, "3960"}, TMaxSpeedCase{"15000", 250, "15000"},
                                           TMaxSpeedCase{"0", 0, "0"}));

TEST_F(ConsoleLogicTest, MaxGearedSpeedFollowsTheRatio)
{
  for (const auto& [ratio, text] : {std::pair{"1", "4020"}, {"7", "574.285714285714"}, {"0,5", "8040"}}) {
    TMotorFields fields;
    fields.GearRatio = ratio;
    ASSERT_TRUE(Motor.ApplyMotorParameters(fields));
    EXPECT_EQ(Motor.MaxGearedSpeedText(), std::string("Max. output speed after gearhead: ") + text + " rpm");
  }
}

struct TWorkCase { const char* Name; double Ratio; int MaxRps; const char* Typed; int Rps; const char* Shown; };

using WorkSpeed = ConsoleLogicCase<TWorkCase>;

TEST_P(WorkSpeed, SendsWholeRpsBelowTheMaximum)
{
  const TWorkCase& c = GetParam();
  Datas.GearRatio = c.Ratio;
  Datas.MaxSpeedRps = static_cast<std::uint8_t>(c.MaxRps);
  TWorkFields fields{c.Typed, "$0A", "12", "", 1, 0};
  ASSERT_TRUE(Work.ApplyOperationParameters(fields));
  EXPECT_EQ(Frames(),
            (std::vector<std::vector<int>>{
                {0, CmdSetAccel, 10}, {0, CmdSetDecel, 12}, {0, CmdSetDirection, 1}, {0, CmdSetSpeed, c.Rps}}));
  EXPECT_EQ(Texts(fields), (TTexts{c.Shown, "10", "12", "", "1", "0"}));
  EXPECT_EQ(Texts(Work.StoredFields()), Texts(fields));
}

INSTANTIATE_TEST_SUITE_P(Speeds, WorkSpeed,
                         ::testing::Values(TWorkCase{"BelowMaximum", 1, 67, "1000", 17, "1020"},
                                           TWorkCase{"AtMaximum", 1, 67, "4020", 66, "3960"},
                                           // Above the maximum it is one step down, not down to the maximum.
                                           TWorkCase{"AboveMaximum", 1, 67, "5000", 82, "4920"},
                                           TWorkCase{"FastestMotor", 1, 67, "15000", 249, "14940"},
                                           TWorkCase{"Ratio2", 2, 67, "1000", 33, "990"},
                                           TWorkCase{"ShownSpeedIsCut", 0.7, 67, "1000", 12, "1028"},
                                           TWorkCase{"ZeroMaximumNeverWraps", 1, 0, "0", 0, "0"},
                                           TWorkCase{"StepDownFromZeroMaximum", 1, 0, "300", 4, "240"}),
                         [](const auto& info) { return info.param.Name; });

TEST_F(ConsoleLogicTest, TimedMotionStoresMillisecondsAndOnlyItemOneCounts)
{
  for (const auto& [typed, ms] : {std::pair{"10", 10000u}, {"3600000", 3600000000u}}) {
    TWorkFields fields{"1000", "24", "24", typed, 1, 1};
    ASSERT_TRUE(Work.ApplyOperationParameters(fields));
    EXPECT_EQ(Datas.MotionTimeMs, ms);
    EXPECT_EQ(Texts(Work.StoredFields()), (TTexts{"1020", "24", "24", typed, "1", "1"}));
  }
  // Out-of-range items (none selected is -1) are forward and continuous; the time is not read then.
  TWorkFields fields{"1000", "24", "24", "not a time", -1, 2};
  ASSERT_TRUE(Work.ApplyOperationParameters(fields));
  EXPECT_EQ(Texts(Work.StoredFields()), (TTexts{"1020", "24", "24", "", "0", "0"}));
  EXPECT_EQ(Datas.MotionTimeMs, 3600000000u);
}

// Message empty: refused silently.
struct TMotorRefusal { const char* Name; TMotorFields Fields; std::string Message; };

using MotorRefusal = ConsoleLogicCase<TMotorRefusal>;

TEST_P(MotorRefusal, StoresAndQueuesNothing)
{
  const std::vector<double> before = Stored();
  TMotorFields fields = GetParam().Fields;
  EXPECT_FALSE(Motor.ApplyMotorParameters(fields));
  EXPECT_EQ(View.Calls, MessageCalls(GetParam().Message));
  EXPECT_EQ(Datas.QueueCount, 0);
  EXPECT_EQ(Stored(), before);
  EXPECT_EQ(Texts(fields), Texts(GetParam().Fields));
}

const std::string RatioMessage = "Enter correct reduction ration";

INSTANTIATE_TEST_SUITE_P(
    Fields, MotorRefusal,
    ::testing::Values(TMotorRefusal{"AddressIsBroadcast", {"$FF", "9", "4000", "2"}, ""},
                      TMotorRefusal{"AddressMalformed", {"1G", "9", "4000", "abc"},
                                    "Please, set correct value from 0 to 254!"},
                      TMotorRefusal{"MaximumTooHigh", {"1", "9", "15001", "2"}, ""},
                      TMotorRefusal{"MaximumMalformed", {"1", "9", "x", "2"}, RangeMessage(0, 15000)},
                      TMotorRefusal{"RatioZero", {"1", "9", "4000", "0"}, RatioMessage},
                      TMotorRefusal{"RatioNegative", {"1", "9", "4000", "-1"}, RatioMessage},
                      TMotorRefusal{"RatioEmpty", {"1", "9", "4000", ""}, RatioMessage},
                      TMotorRefusal{"RatioBeforeEncoder", {"1", "abc", "4000", "abc"}, RatioMessage},
                      TMotorRefusal{"EncoderTooHigh", {"1", "256", "4000", "2"}, ""},
                      TMotorRefusal{"EncoderMalformed", {"1", "abc", "4000", "2"}, RangeMessage(0, 255)}),
    [](const auto& info) { return info.param.Name; });

struct TWorkRefusal { const char* Name; double Ratio; TWorkFields Fields; std::string Message; };

using WorkRefusal = ConsoleLogicCase<TWorkRefusal>;

TEST_P(WorkRefusal, StoresAndQueuesNothing)
{
  Datas.GearRatio = GetParam().Ratio;
  const std::vector<double> before = Stored();
  TWorkFields fields = GetParam().Fields;
  EXPECT_FALSE(Work.ApplyOperationParameters(fields));
  EXPECT_EQ(View.Calls, MessageCalls(GetParam().Message));
  EXPECT_EQ(Datas.QueueCount, 0);
  EXPECT_EQ(Stored(), before);
  EXPECT_EQ(Texts(fields), Texts(GetParam().Fields));
}

const std::string SpeedMessage = TWorkParameters::SpeedMessage;

INSTANTIATE_TEST_SUITE_P(
    Fields, WorkRefusal,
    ::testing::Values(TWorkRefusal{"SpeedMalformed", 1, {"fast", "9", "9", "", 0, 0}, RangeMessage(0, 1500000)},
                      TWorkRefusal{"SpeedNegative", 1, {"-1", "9", "9", "", 0, 0}, ""},
                      TWorkRefusal{"MotorTooFast", 2, {"7600", "abc", "9", "", 0, 0}, SpeedMessage},
                      TWorkRefusal{"MotorJustTooFast", 1, {"15001", "9", "9", "", 0, 0}, SpeedMessage},
                      TWorkRefusal{"AccelZero", 1, {"1000", "0", "9", "", 0, 0}, ""},
                      TWorkRefusal{"AccelTooHigh", 1, {"1000", "25", "9", "", 0, 0}, ""},
                      TWorkRefusal{"AccelMalformed", 1, {"1000", "abc", "9", "", 0, 1}, RangeMessage(1, 24)},
                      TWorkRefusal{"DecelMalformed", 1, {"1000", "9", "abc", "", 0, 0}, RangeMessage(1, 24)},
                      TWorkRefusal{"TimeEmpty", 1, {"1000", "9", "9", "", 0, 1}, RangeMessage(1, 3600000)},
                      TWorkRefusal{"TimeZero", 1, {"1000", "9", "9", "0", 0, 1}, ""}),
    [](const auto& info) { return info.param.Name; });

// An empty optional: the label keeps its text.
struct TFeedbackCase {
  const char* Name;
  bool FeedbackOn, Overflow;
  std::int32_t Counter;
  double Ratio;
  const char* Feedback;
  std::optional<std::string> MotorRevs, GearedRevs;
  std::uint8_t Direction;
  std::optional<bool> Backward;
};

class StatusFeedback : public ::testing::TestWithParam<TFeedbackCase> {};

TEST_P(StatusFeedback, ShowsTheCountersOnlyWhileFeedbackWorks)
{
  const TFeedbackCase& c = GetParam();
  TCommonDatas datas;
  datas.FeedbackOn = c.FeedbackOn;
  datas.CounterOverflow = c.Overflow;
  datas.MotorRevCounter = c.Counter;
  datas.GearRatio = c.Ratio;
  datas.ActualDirection = c.Direction;
  const TStatusTexts texts = StatusTexts(datas);
  EXPECT_EQ(texts.Feedback, c.Feedback);
  EXPECT_EQ(texts.FeedbackRed, c.Overflow);
  EXPECT_EQ(texts.MotorRevs, c.MotorRevs);
  EXPECT_EQ(texts.GearedRevs, c.GearedRevs);
  EXPECT_EQ(texts.Backward, c.Backward);
}

INSTANTIATE_TEST_SUITE_P(
    States, StatusFeedback,
    ::testing::Values(
        TFeedbackCase{"On", true, false, 10, 4, "Feedback: on", "Motor revolutions counter: 10 rev",
                      "Gearmotor revolutions counter: 2.5 rev", 0, false},
        TFeedbackCase{"OnBackward", true, false, IntMin, 2, "Feedback: on",
                      "Motor revolutions counter: -2147483648 rev", "Gearmotor revolutions counter: -1073741824 rev", 1,
                      true},
        TFeedbackCase{"OnAtZero", true, false, 0, 12.5, "Feedback: on", MotorRevsResetText, GearedRevsResetText, 2,
                      std::nullopt},
        TFeedbackCase{"Off", false, false, 10, 4, "Feedback: no", std::nullopt, std::nullopt, 255, std::nullopt},
        TFeedbackCase{"Overflowed", true, true, 10, 4, "Feedback: counter overflowed", std::nullopt, std::nullopt, 1,
                      true}),
    [](const auto& info) { return info.param.Name; });

// Status answers drive the labels: the answer's speed byte is in rps, the status byte holds the flags.
class StatusFromAnswers : public ConsoleLogicTest {
protected:
  TStatusTexts Answer(std::uint8_t status, std::uint8_t count, std::uint8_t speedRps)
  {
    TFrame answer{0, status, count, speedRps, 0};
    answer[4] = TOzmCommands::Crc8(std::span(answer).first(4));
    Commands.DecodeAnswer(answer);
    return StatusTexts(Datas);
  }
  static constexpr std::uint8_t On = 0x80, Overflow = 0x40;
};

TEST_F(StatusFromAnswers, SpeedIsOutputRpmWithTwoDecimals)
{
  EXPECT_EQ(Answer(On, 0, 17).Speed, "Current speed 1020.00 rpm");
  Datas.GearRatio = 3;
  EXPECT_EQ(Answer(On, 0, 17).Speed, "Current speed 340.00 rpm");
}

TEST_F(StatusFromAnswers, OverflowStaysRedAndFeedbackOffFreezesTheCounters)
{
  EXPECT_EQ(Answer(On, 5, 0).MotorRevs, "Motor revolutions counter: 5 rev");
  EXPECT_EQ(Answer(0, 0, 0).MotorRevs, std::nullopt);
  EXPECT_EQ(Answer(On, 2, 0).MotorRevs, "Motor revolutions counter: 7 rev");
  for (std::uint8_t status : {std::uint8_t(On | Overflow), On}) {
    const TStatusTexts texts = Answer(status, 3, 0);
    EXPECT_EQ(texts.Feedback, "Feedback: counter overflowed");
    EXPECT_TRUE(texts.FeedbackRed);
    EXPECT_EQ(texts.MotorRevs, std::nullopt);
  }
}

} // namespace

#include "CasePrinter.h"
#include "RecordingView.h"
#include "TempDir.h"
#include "files/NumberFormat.h"
#include "history/DailyLogFile.h"
#include "history/LogExport.h"
#include "history/SpeedHistory.h"
#include "motor/MotorParameters.h"
#include "motor/ParameterFile.h"
#include "motor/StatusDisplay.h"
#include "motor/ValueReader.h"
#include "motor/WorkParameters.h"
#include "protocol/CommonDatas.h"
#include "protocol/LinkCounters.h"
#include "protocol/OzmCommands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using CasePrinter::PrintTo;

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
  EXPECT_EQ(view.Calls, MessageCalls(c.Value && c.InRange ? "" : RangeMessage(c.Low, c.High)));
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
void PrintTo(const TFormatCase& c, std::ostream* out) { *out << c.General; }

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
void PrintTo(const TParseCase& c, std::ostream* out) { *out << '"' << c.Text << '"'; }

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

// Message empty: refused silently. Field and Reason: the fault FirstFault names, as a file reader shows it.
struct TMotorRefusal { const char* Name; TMotorFields Fields; std::string Message; TField Field; std::string Reason; };

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
  const std::optional<TFieldFault> fault = TMotorParameters::FirstFault(fields);
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->Field, GetParam().Field);
  EXPECT_EQ(fault->Message, GetParam().Message);
  EXPECT_EQ(fault->Reason, GetParam().Reason);
}

const std::string RatioMessage = "Enter correct reduction ration";
const std::string RatioReason = "not a number above 0";
const std::string NotWhole = "not a whole number";

INSTANTIATE_TEST_SUITE_P(
    Fields, MotorRefusal,
    ::testing::Values(
        TMotorRefusal{"AddressIsBroadcast", {"$FF", "9", "4000", "2"}, RangeMessage(0, 254), TField::Address, "outside 0..254"},
        TMotorRefusal{"AddressMalformed", {"1G", "9", "4000", "abc"}, "Please, set correct value from 0 to 254!",
                      TField::Address, NotWhole},
        TMotorRefusal{"MaximumTooHigh", {"1", "9", "15001", "2"}, RangeMessage(0, 15000), TField::MaxSpeed, "outside 0..15000"},
        TMotorRefusal{"MaximumMalformed", {"1", "9", "x", "2"}, RangeMessage(0, 15000), TField::MaxSpeed, NotWhole},
        TMotorRefusal{"RatioZero", {"1", "9", "4000", "0"}, RatioMessage, TField::GearRatio, RatioReason},
        TMotorRefusal{"RatioNegative", {"1", "9", "4000", "-1"}, RatioMessage, TField::GearRatio, RatioReason},
        TMotorRefusal{"RatioEmpty", {"1", "9", "4000", ""}, RatioMessage, TField::GearRatio, RatioReason},
        TMotorRefusal{"RatioBeforeEncoder", {"1", "abc", "4000", "abc"}, RatioMessage, TField::GearRatio, RatioReason},
        TMotorRefusal{"EncoderTooHigh", {"1", "256", "4000", "2"}, RangeMessage(0, 255), TField::Encoder, "outside 0..255"},
        TMotorRefusal{"EncoderMalformed", {"1", "abc", "4000", "2"}, RangeMessage(0, 255), TField::Encoder, NotWhole}),
    [](const auto& info) { return info.param.Name; });

struct TWorkRefusal {
  const char* Name;
  double Ratio;
  TWorkFields Fields;
  std::string Message;
  TField Field;
  std::string Reason;
};

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
  const std::optional<TFieldFault> fault = TWorkParameters::FirstFault(fields, GetParam().Ratio);
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->Field, GetParam().Field);
  EXPECT_EQ(fault->Message, GetParam().Message);
  EXPECT_EQ(fault->Reason, GetParam().Reason);
}

const std::string SpeedMessage = TWorkParameters::SpeedMessage;

INSTANTIATE_TEST_SUITE_P(
    Fields, WorkRefusal,
    ::testing::Values(TWorkRefusal{"SpeedMalformed", 1, {"fast", "9", "9", "", 0, 0}, RangeMessage(0, 1500000),
                                   TField::Speed, NotWhole},
                      TWorkRefusal{"SpeedNegative", 1, {"-1", "9", "9", "", 0, 0}, RangeMessage(0, 1500000), TField::Speed,
                                   "outside 0..1500000"},
                      TWorkRefusal{"MotorTooFast", 2, {"7600", "abc", "9", "", 0, 0}, SpeedMessage, TField::Speed,
                                   "motor speed 15200 rpm outside 0..15000 at ratio 2"},
                      TWorkRefusal{"MotorJustTooFast", 1, {"15001", "9", "9", "", 0, 0}, SpeedMessage, TField::Speed,
                                   "motor speed 15001 rpm outside 0..15000 at ratio 1"},
                      TWorkRefusal{"AccelZero", 1, {"1000", "0", "9", "", 0, 0}, RangeMessage(1, 24), TField::Accel,
                                   "outside 1..24"},
                      TWorkRefusal{"AccelTooHigh", 1, {"1000", "25", "9", "", 0, 0}, RangeMessage(1, 24), TField::Accel,
                                   "outside 1..24"},
                      TWorkRefusal{"AccelMalformed", 1, {"1000", "abc", "9", "", 0, 1}, RangeMessage(1, 24),
                                   TField::Accel, NotWhole},
                      TWorkRefusal{"DecelMalformed", 1, {"1000", "9", "abc", "", 0, 0}, RangeMessage(1, 24),
                                   TField::Decel, NotWhole},
                      TWorkRefusal{"TimeEmpty", 1, {"1000", "9", "9", "", 0, 1}, RangeMessage(1, 3600000),
                                   TField::Time, "empty"},
                      TWorkRefusal{"TimeZero", 1, {"1000", "9", "9", "0", 0, 1}, RangeMessage(1, 3600000), TField::Time,
                                   "outside 1..3600000"}),
    [](const auto& info) { return info.param.Name; });

// The parameter file: the sample as an operator would save it.
const TMotorFields FileMotor{"$05", "2", "4000", "1"};
const TWorkFields FileWork{"1000", "24", "24", "", 0, 0};
const std::string FileText = "# Ozmet console parameters\n[motor]\naddress=$05\nencoder=2\nmax_speed=4000\nratio=1\n"
                             "[operation]\nspeed=1000\nacceleration=24\ndeceleration=24\ndirection=forward\n"
                             "motion=continuous\ntime=\n";

TEST(ParameterFile, WritesTheSampleAndReadsBackWhatItWrote)
{
  EXPECT_EQ(TParameterFile::Write(FileMotor, FileWork), FileText);
  // A continuous motion keeps whatever time was typed, unchecked, as the panel does.
  const std::pair<TMotorFields, TWorkFields> sets[] = {
      {FileMotor, FileWork},
      {{"26", "255", "15000", "12,5"}, {"600", "1", "$18", "3600000", 1, 1}},
      {{"-0", "0", "0", "1e-3"}, {"0", "1", "1", "not a time", 1, 0}}};
  for (const auto& [motor, work] : sets) {
    const TParameterFile::TReadResult read = TParameterFile::Read(TParameterFile::Write(motor, work));
    ASSERT_TRUE(read.Contents) << read.Error;
    EXPECT_EQ(Texts(read.Contents->Motor), Texts(motor));
    EXPECT_EQ(Texts(read.Contents->Work), Texts(work));
  }
}

TEST(ParameterFile, SavesAndLoadsOrNamesThePathAndTheReason)
{
  TTempDir temp;
  const std::string path = temp.Path() + "/motor.ini";
  EXPECT_EQ(TParameterFile::Save(path, FileMotor, FileWork), std::nullopt);
  const TParameterFile::TReadResult loaded = TParameterFile::Load(path);
  ASSERT_TRUE(loaded.Contents) << loaded.Error;
  EXPECT_EQ(Texts(loaded.Contents->Work), Texts(FileWork));
  EXPECT_EQ(TParameterFile::Save(temp.Path() + "/no/p.ini", FileMotor, FileWork),
            "Cannot write " + temp.Path() + "/no/p.ini: No such file or directory");
  EXPECT_EQ(TParameterFile::Load(temp.Path() + "/none.ini").Error,
            "Cannot open " + temp.Path() + "/none.ini: No such file or directory");
  EXPECT_EQ(TParameterFile::Load(temp.Path()).Error, "Cannot read " + temp.Path() + ": Is a directory");
}

// The sample with every From replaced by To. Error empty: it still reads as the sample.
struct TFileCase { const char* Name; std::string From, To, Error; };

class ParameterFileText : public ::testing::TestWithParam<TFileCase> {};

TEST_P(ParameterFileText, ReadsOrNamesTheFault)
{
  const TFileCase& c = GetParam();
  std::string text = FileText;
  for (std::size_t at = text.find(c.From); at != std::string::npos; at = text.find(c.From, at + c.To.size()))
    text.replace(at, c.From.size(), c.To);
  ASSERT_NE(text, FileText);
  const TParameterFile::TReadResult read = TParameterFile::Read(text);
  EXPECT_EQ(read.Error, c.Error);
  ASSERT_EQ(read.Contents.has_value(), c.Error.empty());
  if (read.Contents) {
    EXPECT_EQ(Texts(read.Contents->Motor), Texts(FileMotor));
    EXPECT_EQ(Texts(read.Contents->Work), Texts(FileWork));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, ParameterFileText,
    ::testing::Values(
        TFileCase{"CommentsAndBlankLines", "[operation]\n", "\n; speeds in rpm\n  # ramps 1..24\n[operation]\n", ""},
        TFileCase{"CrLf", "\n", "\r\n", ""},
        TFileCase{"Utf8ByteOrderMark", "# Ozmet", "\xEF\xBB\xBF# Ozmet", ""},
        TFileCase{"AnyOrderAndBlanks", "address=$05\nencoder=2", "encoder = 2 \n\taddress= $05", ""},
        TFileCase{"BadValue", "acceleration=24", "acceleration=fast", "line 9: acceleration: not a whole number"},
        TFileCase{"OutOfRange", "address=$05", "address=$FF", "line 3: address: outside 0..254"},
        TFileCase{"UnknownKey", "encoder=2\n", "encoder=2\nfoo=1\n", "line 5: unknown key \"foo\""},
        TFileCase{"KeyOfTheOtherSection", "ratio=1\n", "ratio=1\nspeed=5\n", "line 7: unknown key \"speed\""},
        TFileCase{"Duplicate", "time=\n", "time=\nspeed=5\n", "line 14: duplicate key \"speed\" (first on line 8)"},
        TFileCase{"Missing", "ratio=1\n", "", "missing key ratio"},
        TFileCase{"BadDirection", "=forward", "=left", "line 11: direction: not forward or backward"},
        TFileCase{"SpeedBeyondTheFilesRatio", "ratio=1", "ratio=20",
                  "line 8: speed: motor speed 20000 rpm outside 0..15000 at ratio 20"},
        TFileCase{"TimedWithoutTime", "=continuous", "=timed", "line 13: time: empty"},
        TFileCase{"UnknownSection", "[operation]", "[run]", "line 7: unknown section \"[run]\""},
        TFileCase{"NotKeyValue", "ratio=1", "ratio 1", "line 6: not a key=value line"}),
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

// From a lost status answer on, the speed line says the state is unknown, with the last speed shown
// (whole rpm) and its local time; the other labels keep their texts; the next answer ends it.
TEST_F(StatusFromAnswers, LostStateIsUnknownUntilTheNextAnswer)
{
  std::tm at{};
  at.tm_year = 124, at.tm_mon = 2, at.tm_mday = 5, at.tm_hour = 17, at.tm_min = 34, at.tm_sec = 7, at.tm_isdst = -1;
  const auto seen = std::chrono::system_clock::from_time_t(std::mktime(&at)) + std::chrono::milliseconds(900);
  TStatusWatch watch;
  watch.Lost();
  EXPECT_EQ(StatusTexts(Datas, watch).Speed, "Current speed: unknown") << "no answer yet: no last speed";
  Datas.GearRatio = 7;
  Answer(On, 4, 17); // 145.71 rpm shown
  EXPECT_TRUE(watch.Answered(Datas.CurrentSpeedRpm, seen)) << "ends the unknown state";
  EXPECT_FALSE(watch.Answered(Datas.CurrentSpeedRpm, seen));
  const TStatusTexts live = StatusTexts(Datas, watch);
  watch.Lost();
  const TStatusTexts unknown = StatusTexts(Datas, watch);
  EXPECT_TRUE(unknown.Unknown);
  EXPECT_FALSE(live.Unknown);
  EXPECT_EQ(unknown.Speed, "Current speed: unknown (last 146 rpm at 17:34:07)");
  EXPECT_EQ(unknown.Feedback, live.Feedback);
  EXPECT_EQ(unknown.MotorRevs, std::nullopt) << "the counters keep what they show";
  EXPECT_EQ(unknown.Backward, std::nullopt);
  watch.Answered(Datas.CurrentSpeedRpm, seen);
  EXPECT_EQ(StatusTexts(Datas, watch).Speed, live.Speed);
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


// Points a second apart from 0 s, each turning at its second's rpm.
struct THistoryCase {
  const char* Name;
  std::size_t Capacity;
  int Added;
  std::optional<std::int64_t> SpanMs;
  std::vector<std::int64_t> Seconds; // of the points kept in the span
};

class SpeedHistorySpan : public ::testing::TestWithParam<THistoryCase> {};

TEST_P(SpeedHistorySpan, KeepsTheNewestWithinCapacityAndSpan)
{
  const THistoryCase& c = GetParam();
  TSpeedHistory history(c.Capacity);
  for (int s = 0; s < c.Added; ++s)
    history.Add({s * 1000, double(s), s});
  EXPECT_EQ(history.Size(), std::min<std::size_t>(c.Added, c.Capacity));
  std::vector<std::int64_t> seconds;
  for (const TSpeedPoint& point : history.Points(c.SpanMs, 1000))
    seconds.push_back(point.TimeMs / 1000);
  EXPECT_EQ(seconds, c.Seconds);
}

INSTANTIATE_TEST_SUITE_P(
    Rings, SpeedHistorySpan,
    ::testing::Values(THistoryCase{"Empty", 5, 0, std::nullopt, {}},
                      THistoryCase{"FullDropsOldest", 5, 8, std::nullopt, {3, 4, 5, 6, 7}},
                      THistoryCase{"SpanEndsAtNewest", 100, 20, 5000, {14, 15, 16, 17, 18, 19}},
                      THistoryCase{"SpanLongerThanHistory", 100, 3, 60000, {0, 1, 2}},
                      THistoryCase{"SpanAfterWrap", 5, 8, 2000, {5, 6, 7}}),
    [](const auto& info) { return info.param.Name; });

TEST(SpeedHistory, ThinningKeepsEndsOrderAndExtremes)
{
  TSpeedHistory history;
  for (int s = 0; s < 5000; ++s)
    history.Add({s * 1000, s == 1234 ? 9000.0 : s == 3210 ? -50.0 : 100.0, s});
  for (std::size_t most : {2u, 3u, 7u, 100u, 2000u}) {
    const std::vector<TSpeedPoint> points = history.Points(std::nullopt, most);
    ASSERT_LE(points.size(), most);
    EXPECT_EQ(points.front().TimeMs, 0);
    EXPECT_EQ(points.back().TimeMs, 4999000);
    EXPECT_TRUE(std::ranges::is_sorted(points, std::less_equal{}, &TSpeedPoint::TimeMs)) << most;
    const auto rpm = [&](double value) { return std::ranges::count(points, value, &TSpeedPoint::OutputRpm); };
    EXPECT_EQ(rpm(9000) + rpm(-50), most >= 4 ? 2 : 0) << most; // a peak and a dip survive thinning to 4 or more
  }
}

// One answer's spike, wherever it falls in a bucket (its first, inner or last point) or at an end, stays
// on the chart; so it does when a gap cuts the answers in two and each part is thinned apart.
TEST(SpeedHistory, ThinningKeepsALoneSpikeAtEveryIndex)
{
  struct TSize {
    int Answers;
    std::size_t Most;
  };
  for (const auto [answers, most] : {TSize{9, 8}, TSize{50, 8}, TSize{101, 10}, TSize{333, 21}, TSize{1000, 100}})
    for (int spike = 0; spike < answers; ++spike)
      for (const double height : {9000.0, -50.0}) {
        TSpeedHistory history;
        for (int a = 0; a < answers; ++a) // 500 ms apart, then a minute without answers halfway
          history.Add({a * 500 + (a >= answers / 2 ? 60'000 : 0), a == spike ? height : 100.0, a});
        const auto at = ::testing::Message() << answers << " answers, " << most << " points, spike " << spike;
        const std::vector<TSpeedPoint> points = history.Points(std::nullopt, most);
        EXPECT_LE(points.size(), most) << at;
        EXPECT_EQ(std::ranges::count(points, height, &TSpeedPoint::OutputRpm), 1) << at;
        const auto stretches = history.Stretches(std::nullopt, most, 1000);
        ASSERT_EQ(stretches.size(), 2u) << at;
        EXPECT_EQ(stretches[0].back().TimeMs, (answers / 2 - 1) * 500) << at;
        EXPECT_EQ(stretches[1].front().TimeMs, answers / 2 * 500 + 60'000) << at;
        EXPECT_LE(stretches[0].size() + stretches[1].size(), most) << at;
        EXPECT_EQ(std::ranges::count(stretches[0], height, &TSpeedPoint::OutputRpm) +
                      std::ranges::count(stretches[1], height, &TSpeedPoint::OutputRpm),
                  1)
            << at;
      }
}

TEST(SpeedHistory, CsvRowsInLocalTimeWithMilliseconds)
{
  const char* zone = std::getenv("TZ");
  const std::string saved = zone ? zone : "";
  ::setenv("TZ", "EST5", 1); // five hours behind UTC, never summer time
  ::tzset();
  TSpeedHistory history;
  for (const TSpeedPoint& point :
       {TSpeedPoint{-1, 0, 0}, TSpeedPoint{1700000000123, 1020.5, 7}, TSpeedPoint{1700000001005, 4020 / 7.0, -2, 0xFE}})
    history.Add(point);
  std::ostringstream csv;
  history.WriteCsv(csv, {{1700000000500, "Run"}, {1700000009000, "Stop unanswered"}});
  if (zone)
    ::setenv("TZ", saved.c_str(), 1);
  else
    ::unsetenv("TZ");
  ::tzset();
  EXPECT_EQ(csv.str(), "time,output_rpm,revolutions,event,address\n"
                       "1969-12-31T18:59:59.999,0,0,,$00\n"
                       "2023-11-14T17:13:20.123,1020.5,7,,$00\n"
                       "2023-11-14T17:13:20.500,,,Run,\n"
                       "2023-11-14T17:13:21.005,574.2857142857143,-2,,$FE\n"
                       "2023-11-14T17:13:29.000,,,Stop unanswered,\n");
}

// The saved log: the local time with milliseconds, and CSV fields that survive commas and quotes.
struct TLogLineCase {
  TLogLine Line;
  std::string Text, Csv;
};
void PrintTo(const TLogLineCase& c, std::ostream* out) { *out << c.Text; }

class LogExportLines : public ::testing::TestWithParam<TLogLineCase> {};

TEST_P(LogExportLines, TextAndCsvCarryTheTimeAndTheKind)
{
  const std::string zone = std::getenv("TZ") ? std::getenv("TZ") : "";
  ::setenv("TZ", "EST5", 1);
  ::tzset();
  const std::string text = TLogExport::TextLine(GetParam().Line);
  const std::string csv = TLogExport::CsvLine(GetParam().Line);
  zone.empty() ? ::unsetenv("TZ") : ::setenv("TZ", zone.c_str(), 1);
  ::tzset();
  EXPECT_EQ(text, GetParam().Text);
  EXPECT_EQ(csv, GetParam().Csv);
}

// Each line typed as a TLogLine: from plain nested braces GCC 12 at -O3 warns of an uninitialised string.
INSTANTIATE_TEST_SUITE_P(
    Lines, LogExportLines,
    ::testing::Values(
        TLogLineCase{TLogLine{1700000000123, TLogColour::Blue, false, "Motor stop"},
                     "2023-11-14T17:13:20.123 Motor stop", "2023-11-14T17:13:20.123,step,blue,\"Motor stop\""},
        TLogLineCase{TLogLine{1700000001005, TLogColour::Green, false, "Comand transfered 52"},
                     "2023-11-14T17:13:21.005 Comand transfered 52",
                     "2023-11-14T17:13:21.005,progress,green,\"Comand transfered 52\""},
        TLogLineCase{TLogLine{-1, TLogColour::Red, true, "a \"quoted\", text"},
                     "1969-12-31T18:59:59.999 a \"quoted\", text",
                     "1969-12-31T18:59:59.999,port failure,red,\"a \"\"quoted\"\", text\""}));

std::string FileContents(const std::string& path)
{
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

const TLogLine Monday{1700000000123, TLogColour::Blue, false, "one"};

TEST(DailyLogFile, AppendsEachDayToItsOwnFileAndSaysWhyItCannot)
{
  TTempDir folder;
  TDailyLogFile daily(folder.Path() + "/logs", "session");
  const TLogLine tuesday{1700000000123 + 86400000, TLogColour::Red, false, "two"};
  ASSERT_TRUE(daily.Append(Monday));
  ASSERT_TRUE(daily.Append(Monday));
  ASSERT_TRUE(daily.Append(tuesday));
  // Read while the file is still open: every line is on disk as soon as it is written.
  const std::string head = TLogExport::IsoTime(Monday.MsSinceEpoch) + " session\n";
  EXPECT_EQ(FileContents(daily.PathFor(Monday)), head + TLogExport::TextLine(Monday) + "\n" + TLogExport::TextLine(Monday) + "\n");
  EXPECT_NE(daily.PathFor(Monday), daily.PathFor(tuesday));
  EXPECT_TRUE(FileContents(daily.PathFor(tuesday)).ends_with(" session\n" + TLogExport::TextLine(tuesday) + "\n"));

  TDailyLogFile blocked("/proc/ozmet-logs", "session");
  EXPECT_FALSE(blocked.Append(Monday));
  EXPECT_NE(blocked.Problem().find("/proc/ozmet-logs/ozmet-"), std::string::npos) << blocked.Problem();
}

// Runs write in a child process that may write files of at most `bytes` bytes, as on a full disk;
// true when write returned true there.
bool UnderFileLimit(rlim_t bytes, const std::function<bool()>& write)
{
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead
    const rlimit limit{bytes, bytes};
    ::_exit(::setrlimit(RLIMIT_FSIZE, &limit) == 0 && write() ? 0 : 1);
  }
  int status = 0;
  return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A save that fails halfway says so and leaves the previous file as it was, with no leftovers.
TEST(WholeFiles, AFailedSaveKeepsThePreviousFile)
{
  const std::vector<TLogLine> lines(40, Monday);
  const struct {
    const char* Name;
    std::function<std::optional<std::string>(const std::string&)> Save;
  } saves[] = {
      {"parameters", [](const std::string& path) { return TParameterFile::Save(path, FileMotor, FileWork); }},
      {"log text", [&](const std::string& path) { return TLogExport::Save(path, TLogExport::TFormat::Text, {"h"}, lines); }},
      {"log csv", [&](const std::string& path) { return TLogExport::Save(path, TLogExport::TFormat::Csv, {}, lines); }},
  };
  for (const auto& save : saves) {
    SCOPED_TRACE(save.Name);
    TTempDir temp;
    const std::string path = temp.Path() + "/saved";
    const std::string previous(300, 'x');
    std::ofstream(path) << previous;
    EXPECT_TRUE(UnderFileLimit(100, [&] {
      const auto problem = save.Save(path);
      return problem == "Cannot write " + path + ": File too large";
    })) << "the save reports the failure";
    EXPECT_EQ(FileContents(path), previous);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.Path()), {}), 1);
    ASSERT_EQ(save.Save(path), std::nullopt);
    EXPECT_NE(FileContents(path), previous);
  }
}

// A line the disk takes in part is cut off: the file ends with the last whole line, and a later
// session carries on from there.
// The failing session is not the file's first: the cut is measured from the size found at open.
TEST(DailyLogFile, AFailedWriteLeavesNoPartOfTheLine)
{
  TTempDir folder;
  const std::string path = TDailyLogFile(folder.Path(), "session").PathFor(Monday);
  const std::size_t lineSize = TLogExport::TextLine(Monday).size() + 1;
  ASSERT_TRUE(TDailyLogFile(folder.Path(), "session").Append(Monday)); // two lines: head and line
  EXPECT_TRUE(UnderFileLimit(static_cast<rlim_t>(lineSize * 5 + lineSize / 2), [&] {
    TDailyLogFile daily(folder.Path(), "session");
    for (int i = 0; i < 10; ++i)
      if (!daily.Append(Monday))
        return i == 2 && daily.Problem() == path + ": File too large";
    return false;
  }));
  TDailyLogFile again(folder.Path(), "session");
  ASSERT_TRUE(again.Append(Monday));
  const std::string head = TLogExport::IsoTime(Monday.MsSinceEpoch) + " session\n";
  const std::string line = TLogExport::TextLine(Monday) + "\n";
  EXPECT_EQ(FileContents(path), head + line + head + line + line + head + line);
}

TEST(LinkCounters, ShortBlocksAndAnswersAreToldApartAndResetClearsAll)
{
  TLinkCounters counters;
  EXPECT_FALSE(counters.SinceLastAnswer());
  for (std::size_t size : {5u, 4u, 1u, 5u})
    counters.BlockReceived(size);
  counters.FramesSent = 3;
  counters.Stale = 1;
  EXPECT_EQ(counters.Summary(), "frames sent 3, answers received 2, answers missing 0, checksum failures 0, short "
                                "blocks 2, port failures 0, stale 1");
  EXPECT_TRUE(counters.SinceLastAnswer());
  counters.Reset();
  EXPECT_EQ(counters.Summary(), "frames sent 0, answers received 0, answers missing 0, checksum failures 0, short "
                                "blocks 0, port failures 0, stale 0");
  EXPECT_FALSE(counters.SinceLastAnswer());
}

} // namespace

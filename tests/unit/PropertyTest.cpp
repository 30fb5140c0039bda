// Randomised checks of the answer decoder, the frame builders, the value reader and the settings file
// against small reference models. The seed is fixed, so a failure repeats exactly.
#include "RecordingView.h"
#include "TempDir.h"
#include "motor/ValueReader.h"
#include "protocol/CommonDatas.h"
#include "protocol/OzmCommands.h"
#include "serial/EncodedStream.h"
#include "serial/PortSettingsFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int InputCount = 1'000'000;
constexpr std::uint64_t BaseSeed = 0x0E6015020240ULL;

constexpr std::int64_t Int32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t Int32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t TwoTo31 = std::int64_t{1} << 31;
constexpr std::int64_t TwoTo32 = std::int64_t{1} << 32;

// Choices made from the engine's raw output, so the sequence does not depend on the standard library's
// distributions.
class TRandom {
public:
  explicit TRandom(std::uint64_t seed) : Engine(seed) {}

  std::uint64_t Bits() { return Engine(); }
  std::uint8_t Byte() { return static_cast<std::uint8_t>(Engine() >> 56); }
  std::uint32_t Below(std::uint64_t bound) { return static_cast<std::uint32_t>(Engine() % bound); }
  bool OneIn(std::uint64_t n) { return Below(n) == 0; }
  std::int64_t Between(std::int64_t low, std::int64_t high)
  {
    return low + static_cast<std::int64_t>(Engine() % static_cast<std::uint64_t>(high - low + 1));
  }
  double Uniform(double low, double high) { return low + (high - low) * static_cast<double>(Engine() >> 11) * 0x1p-53; }

  template <class T, std::size_t N>
  const T& Pick(const T (&items)[N])
  {
    return items[Below(N)];
  }

private:
  std::mt19937_64 Engine;
};

std::int32_t InterestingInt32(TRandom& random)
{
  static constexpr std::int32_t Edges[] = {0, 1, -1, 255, 256, -256, Int32Max, Int32Min, Int32Max - 1, Int32Min + 1};
  switch (random.Below(3)) {
  case 0: return random.Pick(Edges);
  case 1: return static_cast<std::int32_t>(random.Between(-1000, 1000));
  default: return static_cast<std::int32_t>(static_cast<std::uint32_t>(random.Bits()));
  }
}

// Collects the disagreements of a whole run: a broken property reports how many inputs failed and the
// first few of them instead of a million lines, and spends no time describing the rest.
class TMismatches {
public:
  template <class T>
  void Equal(const char* what, const T& expected, const T& actual)
  {
    if (expected == actual)
      return;
    InputFailed = true;
    if (Failed < ShownInputs)
      Pending += std::string(what) + ": expected " + ::testing::PrintToString(expected) + ", got " +
                 ::testing::PrintToString(actual) + "; ";
  }

  // describe() runs only for a failed input that is shown.
  template <class TDescribe>
  void EndInput(int index, TDescribe describe)
  {
    if (!InputFailed)
      return;
    if (Failed < ShownInputs)
      Examples += "input #" + std::to_string(index) + " [" + describe() + "]: " + Pending + "\n";
    ++Failed;
    InputFailed = false;
    Pending.clear();
  }

  void ExpectNone() const { EXPECT_EQ(Failed, 0) << Examples; }

private:
  static constexpr int ShownInputs = 3;
  bool InputFailed = false;
  std::string Pending;
  std::string Examples;
  int Failed = 0;
};

// Guards against a generator that stopped producing one of the input classes a property is about.
void ExpectShare(const char* what, int count, int atLeast)
{
  EXPECT_GE(count, atLeast) << what << " came up too rarely for the property to mean anything";
}

char UpperHexDigit(unsigned nibble)
{
  return static_cast<char>(nibble < 10 ? '0' + nibble : 'A' + (nibble - 10));
}

void AppendHex(std::string& out, std::uint8_t byte)
{
  out += UpperHexDigit(byte >> 4u);
  out += UpperHexDigit(byte & 0x0Fu);
}

std::string SpacedHex(std::string_view bytes)
{
  std::string out;
  for (char c : bytes) {
    AppendHex(out, static_cast<std::uint8_t>(c));
    out += ' ';
  }
  return out;
}

// CRC-8/MAXIM-DOW one bit at a time: reflected polynomial 0x8C, start value given, no final XOR.
constexpr std::uint8_t ReferenceCrc(std::span<const std::uint8_t> bytes, std::uint8_t start = 0)
{
  unsigned crc = start;
  for (std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 1u) ? (crc >> 1u) ^ 0x8Cu : crc >> 1u;
  }
  return static_cast<std::uint8_t>(crc);
}

// The reference is anchored to facts from outside this code: the catalogue check value of the nine
// digits, and the status request to address 0 that the README sends by hand (E6 00 50 DB).
constexpr std::uint8_t NineDigits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
static_assert(ReferenceCrc(NineDigits) == 0xA1);
constexpr std::uint8_t StatusToAddressZero[] = {0x00, 0x50};
static_assert(ReferenceCrc(StatusToAddressZero) == 0xDB);

// Digits to their value, or nothing when a character is no digit of the base or the value passes 2^31.
// Leading zeros carry no value, so only the significant digits are counted against the limit.
std::optional<std::int64_t> ReferenceMagnitude(std::string_view digits, int base)
{
  static constexpr std::string_view LowerDigits = "0123456789abcdef";
  if (digits.empty())
    return std::nullopt;
  std::int64_t value = 0;
  std::size_t significant = 0;
  for (char c : digits) {
    const char lower = (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
    const std::size_t digit = LowerDigits.substr(0, static_cast<std::size_t>(base)).find(lower);
    if (digit == std::string_view::npos)
      return std::nullopt;
    if (value > 0 || digit > 0)
      ++significant;
    if (significant > 10) // past 2^31 in either base; up to here the value fits in 64 bits
      return std::nullopt;
    value = value * base + static_cast<std::int64_t>(digit);
  }
  if (value > TwoTo31)
    return std::nullopt;
  return value;
}

std::optional<std::int32_t> SignedInt32(bool negative, std::int64_t magnitude)
{
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value < Int32Min || value > Int32Max)
    return std::nullopt;
  return static_cast<std::int32_t>(value);
}

// ---------------------------------------------------------------------------------------------------
// The answer decoder

// The fields a received block may change, and the ones that steer its decoding.
struct TDriveState {
  bool StatusPolling = false;
  bool MotorStopped = false;
  bool FeedbackOn = false;
  bool CounterOverflow = false;
  std::uint8_t ActualDirection = 0;
  std::int8_t DirectionSign = +1;
  std::int32_t MotorRevCounter = 0;
  double GearRatio = 1.0;
  double CurrentSpeedRpm = 0.0;
  std::uint8_t QueueCount = 0;

  bool operator==(const TDriveState&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TDriveState& s)
{
  return out << "{polling " << s.StatusPolling << ", stopped " << s.MotorStopped << ", feedback " << s.FeedbackOn
             << ", overflow " << s.CounterOverflow << ", direction " << int{s.ActualDirection} << "/"
             << int{s.DirectionSign} << ", counter " << s.MotorRevCounter << ", gear " << s.GearRatio << ", rpm "
             << s.CurrentSpeedRpm << ", queue " << int{s.QueueCount} << "}";
}

TDriveState ReadState(const TCommonDatas& datas)
{
  return {datas.StatusPolling,  datas.MotorStopped,    datas.FeedbackOn, datas.CounterOverflow,
          datas.ActualDirection, datas.DirectionSign,  datas.MotorRevCounter, datas.GearRatio,
          datas.CurrentSpeedRpm, datas.QueueCount};
}

void WriteState(const TDriveState& state, TCommonDatas& datas)
{
  datas.StatusPolling = state.StatusPolling;
  datas.Answers.Open(1, state.StatusPolling); // polling here: the status request is out
  datas.MotorStopped = state.MotorStopped;
  datas.FeedbackOn = state.FeedbackOn;
  datas.CounterOverflow = state.CounterOverflow;
  datas.ActualDirection = state.ActualDirection;
  datas.DirectionSign = state.DirectionSign;
  datas.MotorRevCounter = state.MotorRevCounter;
  datas.GearRatio = state.GearRatio;
  datas.CurrentSpeedRpm = state.CurrentSpeedRpm;
  datas.QueueCount = state.QueueCount;
}

struct TReceivedBlock {
  std::array<std::uint8_t, 12> Bytes{};
  std::int32_t Length = 0;
  std::uint32_t Errors = 0;
  TDriveState Before;
};

// Starting counters near both ends of the range, so that the wraparound is crossed often.
std::int32_t RandomRevCounter(TRandom& random)
{
  switch (random.Below(3)) {
  case 0: return static_cast<std::int32_t>(Int32Max - random.Below(8192));
  case 1: return static_cast<std::int32_t>(Int32Min + random.Below(8192));
  default: return static_cast<std::int32_t>(static_cast<std::uint32_t>(random.Bits()));
  }
}

double RandomGearRatio(TRandom& random)
{
  static constexpr double Common[] = {1.0, 2.5, 12.5, 3.0, 100.0};
  return random.OneIn(2) ? random.Pick(Common) : std::exp(random.Uniform(-7.0, 7.0));
}

TDriveState RandomDriveState(TRandom& random)
{
  TDriveState state;
  state.StatusPolling = !random.OneIn(4);
  state.MotorStopped = random.OneIn(2);
  state.FeedbackOn = random.OneIn(2);
  state.CounterOverflow = random.OneIn(2);
  state.ActualDirection = random.OneIn(2) ? 1 : 0;
  state.DirectionSign = state.ActualDirection ? -1 : +1;
  state.MotorRevCounter = RandomRevCounter(random);
  state.GearRatio = RandomGearRatio(random);
  state.CurrentSpeedRpm = random.Uniform(0.0, 20000.0);
  state.QueueCount = static_cast<std::uint8_t>(random.Below(QueueSlots + 1));
  return state;
}

std::span<const std::uint8_t> BlockBytes(const TReceivedBlock& block)
{
  return std::span(block.Bytes).first(static_cast<std::size_t>(block.Length));
}

TReceivedBlock RandomBlock(TRandom& random)
{
  TReceivedBlock block;
  block.Length = random.OneIn(4) ? static_cast<std::int32_t>(random.Below(13)) : 5;
  for (std::uint8_t& b : block.Bytes)
    b = random.Byte();
  if (random.OneIn(4))
    block.Bytes[3] = 0; // a motor at rest: the answer that may end polling
  // Random bytes almost never carry a good checksum, so most five-byte blocks get one.
  if (block.Length == 5 && !random.OneIn(3))
    block.Bytes[4] = ReferenceCrc(std::span(block.Bytes).first(4));
  block.Errors = static_cast<std::uint32_t>(random.Bits());
  block.Before = RandomDriveState(random);
  return block;
}

bool IsStatusAnswer(const TReceivedBlock& block)
{
  return block.Before.StatusPolling && block.Length == 5 &&
         ReferenceCrc(std::span(block.Bytes).first(4)) == block.Bytes[4];
}

std::int32_t WrapToInt32(std::int64_t value)
{
  const std::int64_t offset = ((value - Int32Min) % TwoTo32 + TwoTo32) % TwoTo32;
  return static_cast<std::int32_t>(Int32Min + offset);
}

TDriveState DecodedState(const TReceivedBlock& block)
{
  const TDriveState& before = block.Before;
  const unsigned status = block.Bytes[1];
  const bool backward = (status >> 4u) % 2 == 1;
  const std::int64_t count = (status % 16) * 256 + block.Bytes[2];

  TDriveState after = before;
  after.FeedbackOn = status >= 0x80;
  after.CounterOverflow = before.CounterOverflow || (status >> 6u) % 2 == 1;
  after.ActualDirection = backward ? 1 : 0;
  after.DirectionSign = backward ? -1 : +1;
  after.MotorRevCounter = WrapToInt32(before.MotorRevCounter + (backward ? -count : count));
  after.CurrentSpeedRpm = 60.0 * block.Bytes[3] / before.GearRatio;
  after.StatusPolling = false;
  return after;
}

void ExpectedAnswerCalls(const TReceivedBlock& block, bool decoded, std::vector<std::string>& calls)
{
  calls.clear();
  if (decoded) {
    if (block.Bytes[3] == 0 && block.Before.MotorStopped)
      calls.emplace_back("poll-off");
    calls.emplace_back("show");
  } else if (block.Before.StatusPolling) {
    calls.push_back(std::string("log Red ") + CrcErrorText);
  }
  std::string line = "log InForce ";
  for (std::uint8_t b : BlockBytes(block)) {
    line += '$';
    AppendHex(line, b);
  }
  calls.push_back(std::move(line));
  calls.emplace_back("scroll");
  calls.emplace_back("answer");
}

std::string DescribeBlock(const TReceivedBlock& block)
{
  std::string bytes(BlockBytes(block).begin(), BlockBytes(block).end());
  return "bytes " + SpacedHex(bytes) + "before " + ::testing::PrintToString(block.Before);
}

TEST(AnswerDecoderProperty, EveryBlockIsLoggedAndOnlyAGoodAnswerDecodes)
{
  TRandom random(BaseSeed + 1);
  TCommonDatas datas;
  TRecordingView view;
  TOzmCommands commands(datas, view);
  TMismatches mismatches;
  std::vector<std::string> expectedCalls;
  int decoded = 0, refused = 0, pollingEnded = 0, notPolling = 0;

  for (int i = 0; i < InputCount; ++i) {
    const TReceivedBlock block = RandomBlock(random);
    WriteState(block.Before, datas);
    view.Calls.clear();
    commands.PortDataReceived(block.Bytes.data(), block.Length, block.Errors, commands.BlockRead(1));

    const bool isAnswer = IsStatusAnswer(block);
    ExpectedAnswerCalls(block, isAnswer, expectedCalls);
    mismatches.Equal("state", isAnswer ? DecodedState(block) : block.Before, ReadState(datas));
    mismatches.Equal("calls", expectedCalls, view.Calls);
    mismatches.EndInput(i, [&] { return DescribeBlock(block); });

    decoded += isAnswer;
    refused += block.Before.StatusPolling && !isAnswer;
    notPolling += !block.Before.StatusPolling;
    pollingEnded += isAnswer && expectedCalls.front() == "poll-off";
  }
  mismatches.ExpectNone();
  ExpectShare("decoded answers", decoded, InputCount / 5);
  ExpectShare("refused blocks", refused, InputCount / 5);
  ExpectShare("blocks while not polling", notPolling, InputCount / 10);
  ExpectShare("answers that end polling", pollingEnded, InputCount / 50);
}

// ---------------------------------------------------------------------------------------------------
// The frame builders

struct TQueueCall {
  bool Broadcast = false;
  std::uint8_t Command = 0;
  std::uint8_t Value = 0;
};

struct TQueueInput {
  std::uint8_t Address = 0;
  std::size_t CallCount = 0;
  std::array<TQueueCall, 10> Calls{};
};

TQueueInput RandomQueueInput(TRandom& random)
{
  TQueueInput input;
  input.Address = random.Byte();
  input.CallCount = random.Below(input.Calls.size() + 1);
  for (TQueueCall& call : input.Calls)
    call = {random.OneIn(4), random.Byte(), random.Byte()};
  return input;
}

TFrame ReferenceFrame(std::uint8_t address, std::uint8_t command, std::uint8_t value)
{
  TFrame frame{0xE6, address, command, value, 0};
  frame[4] = ReferenceCrc(std::span(frame).subspan(1, 3));
  return frame;
}

std::string MemoCall(const TFrame& frame)
{
  std::string line = "memo ";
  for (std::uint8_t b : frame)
    AppendHex(line, b);
  return line;
}

std::string DescribeQueueInput(const TQueueInput& input)
{
  std::string text = "address " + std::to_string(input.Address) + ", calls";
  for (std::size_t k = 0; k < input.CallCount; ++k) {
    const TQueueCall& call = input.Calls[k];
    text += (call.Broadcast ? " broadcast " : " frame ") + std::to_string(call.Command) + "/" +
            std::to_string(call.Value);
  }
  return text;
}

// Runs one input's calls after ClearQueue, checking the whole queue and every memo line after each call:
// a frame takes the next free slot, and once the seven are full a call changes nothing at all.
void CheckQueueCalls(const TQueueInput& input, TCommonDatas& datas, TOzmCommands& commands,
                     const TRecordingView& view, TMismatches& mismatches)
{
  TCommandQueue model = datas.CommandQueue;
  std::uint8_t modelCount = 0;
  std::vector<std::string> modelCalls;
  for (std::size_t k = 0; k < input.CallCount; ++k) {
    const TQueueCall& call = input.Calls[k];
    if (call.Broadcast)
      commands.QueueBroadcastFrame(call.Command, call.Value);
    else
      commands.QueueFrame(call.Command, call.Value);
    if (modelCount < 7) {
      model[modelCount] = ReferenceFrame(call.Broadcast ? 0xFF : input.Address, call.Command, call.Value);
      modelCalls.push_back(MemoCall(model[modelCount]));
      ++modelCount;
    }
    mismatches.Equal("queue", model, datas.CommandQueue);
    mismatches.Equal("count", modelCount, datas.QueueCount.load());
    mismatches.Equal("calls", modelCalls, view.Calls);
  }
}

void CheckClearedQueue(const TCommonDatas& datas, TMismatches& mismatches)
{
  mismatches.Equal("count after ClearQueue", std::uint8_t{0}, datas.QueueCount.load());
  for (const TFrame& slot : datas.CommandQueue)
    mismatches.Equal("marker after ClearQueue", std::uint8_t{0}, slot[0]);
}

void CheckStatusRequest(std::uint8_t address, TCommonDatas& datas, TOzmCommands& commands, TMismatches& mismatches)
{
  const std::uint8_t addressed[] = {address, 0x50};
  const TStatusRequest expected{0xE6, address, 0x50, ReferenceCrc(addressed)};
  mismatches.Equal("StatusRequestFor", expected, TOzmCommands::StatusRequestFor(address));
  commands.BuildStatusRequest();
  mismatches.Equal("BuildStatusRequest", expected, datas.StatusRequest.load());
}

TEST(FrameBuilderProperty, QueuedFramesAreExactAndTheEighthIsDropped)
{
  TRandom random(BaseSeed + 2);
  TCommonDatas datas;
  TRecordingView view;
  TOzmCommands commands(datas, view);
  TMismatches mismatches;
  int overfilled = 0;

  for (int i = 0; i < InputCount; ++i) {
    const TQueueInput input = RandomQueueInput(random);
    datas.MotorAddress = input.Address;
    datas.ClearQueue();
    view.Calls.clear();
    CheckClearedQueue(datas, mismatches);
    CheckQueueCalls(input, datas, commands, view, mismatches);
    CheckStatusRequest(input.Address, datas, commands, mismatches);
    mismatches.EndInput(i, [&] { return DescribeQueueInput(input); });
    overfilled += input.CallCount > QueueSlots;
  }
  mismatches.ExpectNone();
  ExpectShare("calls past a full queue", overfilled, InputCount / 5);
}

TEST(CrcProperty, EveryFormMatchesTheBitwiseReference)
{
  for (unsigned data = 0; data < 256; ++data)
    for (unsigned crc = 0; crc < 256; ++crc) {
      const std::uint8_t byte[] = {static_cast<std::uint8_t>(data)};
      ASSERT_EQ(TOzmCommands::Crc8Step(byte[0], static_cast<std::uint8_t>(crc)),
                ReferenceCrc(byte, static_cast<std::uint8_t>(crc)))
          << "data " << data << ", crc " << crc;
    }

  TRandom random(BaseSeed + 3);
  TMismatches mismatches;
  std::array<std::uint8_t, 16> bytes{};
  for (int i = 0; i < InputCount; ++i) {
    for (std::uint8_t& b : bytes)
      b = random.Byte();
    // Counts 0 and past 5 are rare in use but documented: b1 is always folded in, nothing past b5.
    const std::uint8_t count = random.OneIn(8) ? random.Byte() : static_cast<std::uint8_t>(random.Below(7));
    const std::size_t folded = std::clamp<std::size_t>(count, 1, 5);
    const std::size_t length = random.Below(bytes.size() + 1);

    mismatches.Equal("Crc8(count, ...)", ReferenceCrc(std::span(bytes).first(folded)),
                     TOzmCommands::Crc8(count, bytes[0], bytes[1], bytes[2], bytes[3], bytes[4]));
    mismatches.Equal("Crc8(span)", ReferenceCrc(std::span(bytes).first(length)),
                     TOzmCommands::Crc8(std::span<const std::uint8_t>(bytes).first(length)));
    mismatches.EndInput(i, [&] {
      return "count " + std::to_string(count) + ", length " + std::to_string(length) + ", bytes " +
             SpacedHex(std::string(bytes.begin(), bytes.end()));
    });
  }
  mismatches.ExpectNone();
}

// ---------------------------------------------------------------------------------------------------
// The value reader

// The accepted grammar, read independently: blanks, an optional sign, an optional hex prefix, digits.
std::optional<std::int32_t> ReferenceReadValue(std::string_view text)
{
  std::size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
    ++at;
  const bool negative = at < text.size() && text[at] == '-';
  if (at < text.size() && (text[at] == '-' || text[at] == '+'))
    ++at;
  const std::string_view rest = text.substr(at);
  const auto isX = [](char c) { return c == 'x' || c == 'X'; };
  std::size_t prefix = 0;
  if (!rest.empty() && (rest[0] == '$' || isX(rest[0])))
    prefix = 1;
  else if (rest.size() >= 2 && rest[0] == '0' && isX(rest[1]))
    prefix = 2;
  const std::optional<std::int64_t> magnitude = ReferenceMagnitude(rest.substr(prefix), prefix ? 16 : 10);
  return magnitude ? SignedInt32(negative, *magnitude) : std::nullopt;
}

enum class TIntent { WellFormed, Malformed, Unknown };

// A text with what it was built to be; Unknown texts are left to the reference alone.
struct TValueText {
  std::string Text;
  TIntent Intent = TIntent::Unknown;
  std::int64_t Value = 0;
};

// The parts of a number as an operator may type it.
struct TNumberParts {
  std::string Blanks, Sign, Prefix, Zeros, Digits;

  std::string Join() const { return Blanks + Sign + Prefix + Zeros + Digits; }
};

constexpr std::string_view HexPrefixes[] = {"$", "0x", "0X", "x", "X"};

std::string RandomBlanks(TRandom& random, std::size_t count)
{
  std::string blanks(count, ' ');
  for (char& c : blanks)
    c = random.OneIn(3) ? '\t' : ' ';
  return blanks;
}

std::string DigitsOf(std::uint64_t magnitude, unsigned base)
{
  std::string digits;
  do {
    digits.insert(digits.begin(), "0123456789abcdef"[magnitude % base]);
    magnitude /= base;
  } while (magnitude > 0);
  return digits;
}

void MixCase(std::string& digits, TRandom& random)
{
  for (char& c : digits)
    if (c >= 'a' && random.OneIn(2))
      c = static_cast<char>(c - 'a' + 'A');
}

TNumberParts NumberParts(TRandom& random, bool negative, std::uint64_t magnitude)
{
  TNumberParts parts;
  parts.Blanks = random.OneIn(3) ? RandomBlanks(random, random.Between(1, 3)) : "";
  if (negative)
    parts.Sign = "-";
  else if (random.OneIn(4))
    parts.Sign = magnitude == 0 && random.OneIn(2) ? "-" : "+";
  const bool hex = random.OneIn(2);
  parts.Prefix = hex ? random.Pick(HexPrefixes) : "";
  parts.Zeros = std::string(random.OneIn(4) ? random.Below(4) : 0, '0');
  parts.Digits = DigitsOf(magnitude, hex ? 16 : 10);
  MixCase(parts.Digits, random);
  return parts;
}

std::uint64_t MagnitudeOf(std::int64_t value)
{
  return value < 0 ? static_cast<std::uint64_t>(-value) : static_cast<std::uint64_t>(value);
}

TNumberParts Int32Parts(TRandom& random, std::int32_t value)
{
  return NumberParts(random, value < 0, MagnitudeOf(value));
}

TValueText WellFormedText(TRandom& random)
{
  const std::int32_t value = InterestingInt32(random);
  return {Int32Parts(random, value).Join(), TIntent::WellFormed, value};
}

// Just past the 32-bit range on either side, far past it, and many digits past it.
TValueText OutOfRangeText(TRandom& random)
{
  const bool negative = random.OneIn(2);
  const std::uint64_t limit = negative ? TwoTo31 + 1 : TwoTo31;
  std::uint64_t magnitude = limit + random.Below(4096);
  if (random.OneIn(2))
    magnitude = std::max(limit, random.Bits() >> random.Below(32));
  TNumberParts parts = NumberParts(random, negative, magnitude);
  if (random.OneIn(8))
    parts.Digits += std::string(random.Between(1, 30), '7');
  return {parts.Join(), TIntent::Malformed, 0};
}

// A well-formed number with one fault that the grammar never allows.
TValueText CorruptedText(TRandom& random)
{
  static constexpr char BadTail[] = {' ', '\t', '.', ',', 'g', 'G', 'z', '\n', '\r', '\0', '-', '+', '$', 'x', '\xC3'};
  static constexpr std::string_view DoubleSigns[] = {"+-", "-+", "--", "++"};
  static constexpr std::string_view OtherSpaces[] = {"\n", "\r", "\v", "\f", "\xC2\xA0"};
  TNumberParts parts = Int32Parts(random, InterestingInt32(random));
  switch (random.Below(8)) {
  case 0: parts.Digits += random.Pick(BadTail); break;
  case 1: {
    std::string* const candidates[] = {&parts.Sign, &parts.Prefix, &parts.Zeros, &parts.Digits};
    std::string* part = random.Pick(candidates);
    (part->empty() ? parts.Digits : *part) += random.OneIn(2) ? ' ' : '\t';
    break;
  }
  case 2: parts.Sign = random.Pick(DoubleSigns); break;
  case 3: parts.Prefix = std::string(parts.Prefix.empty() ? "$" : parts.Prefix) + (random.OneIn(2) ? "-" : "+"); break;
  case 4: parts.Prefix = std::string(random.Pick(HexPrefixes)) + std::string(random.Pick(HexPrefixes)); break;
  case 5: parts.Zeros.clear(); parts.Digits.clear(); break;
  case 6: parts.Blanks = std::string(random.Pick(OtherSpaces)) + parts.Blanks; break;
  default: parts.Prefix.clear(); parts.Digits += random.OneIn(2) ? 'a' : 'F'; break;
  }
  return {parts.Join(), TIntent::Malformed, 0};
}

// Non-ASCII bytes are never part of the grammar, wherever they stand.
TValueText NonAsciiText(TRandom& random)
{
  static constexpr std::string_view Sequences[] = {
      "\xEF\xBC\x91", // full-width one
      "\xD9\xA3",     // Arabic-Indic three
      "\xC2\xB2",     // superscript two
      "\xC2\xA0",     // no-break space
      "\xE2\x80\x8B", // zero-width space
      "\xC3\xA9",
  };
  std::string text = random.OneIn(4) ? "" : Int32Parts(random, InterestingInt32(random)).Join();
  const std::size_t count = random.Between(1, 3);
  for (std::size_t k = 0; k < count; ++k)
    text.insert(random.Below(text.size() + 1), random.Pick(Sequences));
  return {text, TIntent::Malformed, 0};
}

TValueText EmptyLikeText(TRandom& random)
{
  static constexpr std::string_view Texts[] = {"", " ", "\t \t", "+", "-", "$", "0x", "x", "-$", "+0X", " -", "$ "};
  return {std::string(random.Pick(Texts)), TIntent::Malformed, 0};
}

// Short texts over the characters that matter, so that near misses and accidental numbers both occur.
TValueText FreeText(TRandom& random)
{
  static constexpr char Alphabet[] = " \t+-$xX0123456789aAfFgG.";
  std::string text(random.Below(13), ' ');
  for (char& c : text)
    c = Alphabet[random.Below(sizeof Alphabet - 1)];
  return {text, TIntent::Unknown, 0};
}

TValueText RandomBytesText(TRandom& random, std::size_t length)
{
  std::string text(length, ' ');
  for (char& c : text)
    c = static_cast<char>(random.Byte());
  return {text, TIntent::Unknown, 0};
}

// Thousands of characters: the value must not depend on how long the text is.
TValueText LongText(TRandom& random)
{
  const std::size_t length = random.Between(1000, 4000);
  const std::int32_t value = InterestingInt32(random);
  TNumberParts parts = Int32Parts(random, value);
  switch (random.Below(5)) {
  case 0: parts.Zeros = std::string(length, '0'); return {parts.Join(), TIntent::WellFormed, value};
  case 1: parts.Blanks = RandomBlanks(random, length); return {parts.Join(), TIntent::WellFormed, value};
  case 2:
    parts.Digits = std::string(1, static_cast<char>('1' + random.Below(9))) + std::string(length, '0');
    return {parts.Join(), TIntent::Malformed, 0};
  case 3: return {parts.Join() + std::string(length, random.OneIn(2) ? '\xC3' : 'Z'), TIntent::Malformed, 0};
  default: return RandomBytesText(random, length);
  }
}

TValueText RandomValueText(TRandom& random)
{
  if (random.OneIn(256))
    return LongText(random);
  switch (random.Below(8)) {
  case 0:
  case 1: return WellFormedText(random);
  case 2: return OutOfRangeText(random);
  case 3: return CorruptedText(random);
  case 4: return NonAsciiText(random);
  case 5: return EmptyLikeText(random);
  case 6: return FreeText(random);
  default: return RandomBytesText(random, random.Below(20));
  }
}

std::int32_t ClampToInt32(std::int64_t value)
{
  return static_cast<std::int32_t>(std::clamp(value, Int32Min, Int32Max));
}

// Ranges around the value as often as not, so both answers of a well-formed text come up.
std::pair<std::int32_t, std::int32_t> RandomRange(TRandom& random, std::int64_t near)
{
  static constexpr std::pair<std::int32_t, std::int32_t> Typical[] = {
      {0, 254}, {1, 24}, {1, 3600000}, {-99, 99},
      {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()}};
  switch (random.Below(4)) {
  case 0: return random.Pick(Typical);
  case 1: return {ClampToInt32(near - random.Below(3)), ClampToInt32(near + random.Below(3))};
  case 2: return {ClampToInt32(near + random.Between(-100, 100)), ClampToInt32(near + random.Between(-100, 100))};
  default: return {InterestingInt32(random), InterestingInt32(random)}; // in either order
  }
}

std::string DecimalText(std::int64_t value)
{
  return (value < 0 ? "-" : "") + DigitsOf(MagnitudeOf(value), 10);
}

struct TReadOutcome {
  bool Result = false;
  double Value = 0.0;
  std::vector<std::string> Calls;

  bool operator==(const TReadOutcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TReadOutcome& o)
{
  return out << "{result " << o.Result << ", value " << o.Value << ", calls " << ::testing::PrintToString(o.Calls)
             << "}";
}

constexpr double Untouched = 0.25;

TReadOutcome ExpectedRead(std::optional<std::int32_t> parsed, std::int32_t low, std::int32_t high)
{
  const std::vector<std::string> message{"message Please, set correct value from " + DecimalText(low) + " to " +
                                         DecimalText(high) + "!"};
  if (!parsed)
    return {false, Untouched, message};
  // A well-formed number outside the range gets the same message as a malformed one.
  const bool inRange = low <= *parsed && *parsed <= high;
  return {inRange, static_cast<double>(*parsed), inRange ? std::vector<std::string>{} : message};
}

std::string DescribeValueText(const TValueText& text, std::int32_t low, std::int32_t high)
{
  const std::string_view shown = std::string_view(text.Text).substr(0, 40);
  return "text of " + std::to_string(text.Text.size()) + " bytes starting " + SpacedHex(shown) + "range " +
         std::to_string(low) + ".." + std::to_string(high);
}

// The generator's own claim and the reference must agree, or the test itself is wrong.
void CheckIntent(const TValueText& text, std::optional<std::int32_t> parsed, TMismatches& mismatches)
{
  if (text.Intent == TIntent::WellFormed)
    mismatches.Equal("reference vs construction", std::optional(static_cast<std::int32_t>(text.Value)), parsed);
  else if (text.Intent == TIntent::Malformed)
    mismatches.Equal("reference vs construction", std::optional<std::int32_t>(), parsed);
}

TEST(ValueReaderProperty, ResultValueAndMessageFollowTheGrammar)
{
  TRandom random(BaseSeed + 4);
  TRecordingView view;
  TMismatches mismatches;
  int accepted = 0, outOfRange = 0, malformed = 0, longTexts = 0;

  for (int i = 0; i < InputCount; ++i) {
    const TValueText text = RandomValueText(random);
    const std::optional<std::int32_t> parsed = ReferenceReadValue(text.Text);
    const auto [low, high] = RandomRange(random, parsed.value_or(text.Value));
    CheckIntent(text, parsed, mismatches);

    view.Calls.clear();
    double value = Untouched;
    const bool result = ReadValueInRange(text.Text, low, high, value, view);
    TReadOutcome actual{result, value, std::move(view.Calls)};
    const TReadOutcome expected = ExpectedRead(parsed, low, high);
    mismatches.Equal("outcome", expected, actual);
    mismatches.EndInput(i, [&] { return DescribeValueText(text, low, high); });

    accepted += expected.Result;
    outOfRange += parsed && !expected.Result;
    malformed += !parsed;
    longTexts += text.Text.size() >= 1000;
  }
  mismatches.ExpectNone();
  ExpectShare("accepted values", accepted, InputCount / 10);
  ExpectShare("well-formed values out of range", outOfRange, InputCount / 20);
  ExpectShare("malformed texts", malformed, InputCount / 3);
  ExpectShare("long texts", longTexts, InputCount / 1000);
}

// ---------------------------------------------------------------------------------------------------
// The settings file

// Pinned here, not taken from the stream: files saved by earlier builds must stay readable.
constexpr std::uint8_t PinnedKey = 0x5A;

// How an input reaches the disk: scrambled by the test, by TEncodedStream, not scrambled at all, by Save;
// or no file: a missing name and a folder.
enum class TWriter { Pinned, Stream, Raw, Save, Missing, Folder };

struct TSettingsInput {
  TWriter Writer = TWriter::Pinned;
  // The text before scrambling; for Raw the bytes exactly as on disk.
  std::string Plain;
  // Past Plain the file is a hole, which reads as zero bytes.
  std::uint64_t Size = 0;
  std::int32_t Saved = 0;
};

std::uint8_t ShiftOnDisk(const TSettingsInput& input)
{
  return input.Writer == TWriter::Raw ? 0 : PinnedKey;
}

std::string OnDisk(const TSettingsInput& input)
{
  std::string bytes = input.Plain;
  for (char& c : bytes)
    c = static_cast<char>(static_cast<std::uint8_t>(c) + ShiftOnDisk(input));
  return bytes;
}

// The first line of what Load may look at, unscrambled, and whether that line is an optional sign and
// decimal digits within the 32-bit range. A line that does not end before the look ends is no number
// unless the file ends there too.
std::optional<std::int32_t> ReferencePortNumber(const TSettingsInput& input)
{
  std::array<char, TPortSettingsFile::MaxReadBytes> head{};
  const std::size_t looked = static_cast<std::size_t>(std::min<std::uint64_t>(input.Size, head.size()));
  for (std::size_t i = 0; i < looked; ++i) {
    // A hole reads as zero bytes.
    const unsigned onDisk = i < input.Plain.size() ? static_cast<std::uint8_t>(input.Plain[i]) + ShiftOnDisk(input) : 0;
    head[i] = static_cast<char>(static_cast<std::uint8_t>(onDisk - PinnedKey));
  }

  const std::string_view text(head.data(), looked);
  const std::size_t end = text.find_first_of("\r\n");
  if (end == std::string_view::npos && input.Size > looked)
    return std::nullopt;
  std::string_view line = text.substr(0, end);
  const bool negative = line.starts_with('-');
  if (line.starts_with('-') || line.starts_with('+'))
    line.remove_prefix(1);
  const std::optional<std::int64_t> magnitude = ReferenceMagnitude(line, 10);
  return magnitude ? SignedInt32(negative, *magnitude) : std::nullopt;
}

std::string RandomLineEnd(TRandom& random)
{
  static constexpr std::string_view Ends[] = {"\r\n", "\n", "\r", "\n\r", "\r\r\n"};
  return std::string(random.Pick(Ends));
}

// Mostly 32-bit values, now and then just or far past the range; leading zeros sometimes push the line
// across the look of MaxReadBytes.
std::string NumberLine(TRandom& random)
{
  const bool negative = random.OneIn(2);
  std::uint64_t magnitude = MagnitudeOf(InterestingInt32(random));
  if (random.OneIn(8))
    magnitude = (negative ? TwoTo31 + 1 : TwoTo31) + (random.OneIn(2) ? random.Below(100) : random.Bits() >> 20);
  const std::string sign = negative && magnitude > 0 ? "-" : random.OneIn(5) ? "+" : random.OneIn(9) ? "-" : "";
  const std::size_t zeros = random.OneIn(4) ? random.Between(40, 70) : random.OneIn(4) ? random.Below(3) : 0;
  return sign + std::string(zeros, '0') + DigitsOf(magnitude, 10);
}

std::string RandomTail(TRandom& random)
{
  switch (random.Below(4)) {
  case 0: return "";
  case 1: return NumberLine(random) + RandomLineEnd(random);
  default: return RandomBytesText(random, random.Below(100)).Text;
  }
}

// One fault in the first line: blanks, a second sign, a fraction, an exponent, hex, a NUL, an empty line.
std::string NearNumberLine(TRandom& random)
{
  std::string line = NumberLine(random);
  switch (random.Below(8)) {
  case 0: return " " + line;
  case 1: return line + (random.OneIn(2) ? " " : "\t");
  case 2: return (random.OneIn(2) ? "+-" : "-+") + line;
  case 3: return line + ".5";
  case 4: return (random.OneIn(2) ? "$" : "0x") + line;
  case 5: return line + "e3";
  case 6: return line.insert(random.Below(line.size() + 1), 1, '\0');
  default: return RandomLineEnd(random) + line;
  }
}

// Bytes that are mostly digits, signs and line ends, so some files hold numbers by accident.
std::string NumberishBytes(TRandom& random)
{
  static constexpr char Alphabet[] = "0123456789+-\r\n ";
  std::string bytes(random.Below(80), ' ');
  for (char& c : bytes)
    c = Alphabet[random.Below(sizeof Alphabet - 1)];
  return bytes;
}

std::string RandomPlainText(TRandom& random)
{
  switch (random.Below(6)) {
  case 0:
  case 1: return NumberLine(random) + (random.OneIn(6) ? "" : RandomLineEnd(random) + RandomTail(random));
  case 2: return NearNumberLine(random) + RandomLineEnd(random) + RandomTail(random);
  case 3: return NumberishBytes(random);
  case 4: return RandomBytesText(random, random.Below(100)).Text;
  default: return random.OneIn(4) ? "" : NumberLine(random) + std::string(random.Between(50, 80), '7');
  }
}

// Save and TEncodedStream create a file each, which costs a third of a millisecond on a busy ext4, so
// they are one in four thousand; the rest is written by the test.
TWriter RandomWriter(TRandom& random)
{
  const std::uint32_t roll = random.Below(4096);
  if (roll < 1)
    return TWriter::Save;
  if (roll < 2)
    return TWriter::Stream;
  if (roll < 18)
    return TWriter::Missing;
  if (roll < 34)
    return TWriter::Folder;
  return roll < 290 ? TWriter::Raw : TWriter::Pinned;
}

constexpr std::uint64_t HugeFrom = std::uint64_t{1} << 20;
constexpr std::size_t HugeRealBytes = 512; // more than any Plain the generator makes

TSettingsInput RandomSettingsInput(TRandom& random)
{
  TSettingsInput input;
  input.Writer = RandomWriter(random);
  if (input.Writer == TWriter::Save) {
    input.Saved = InterestingInt32(random);
    input.Plain = DecimalText(input.Saved) + "\r\n";
  } else {
    input.Plain = RandomPlainText(random);
  }
  input.Size = input.Plain.size();
  // Now and then a file of megabytes to gigabytes; only its first bytes are real, the rest is a hole.
  if (input.Writer == TWriter::Pinned && random.OneIn(1000))
    input.Size = static_cast<std::uint64_t>(random.Between(HugeFrom, std::int64_t{1} << 33));
  return input;
}

std::string DescribeSettingsInput(const TSettingsInput& input)
{
  static constexpr const char* Names[] = {"pinned", "stream", "raw", "save", "missing", "folder"};
  return std::string("writer ") + Names[static_cast<int>(input.Writer)] + ", size " + std::to_string(input.Size) +
         ", plain " + SpacedHex(std::string_view(input.Plain).substr(0, 80));
}

// The first bytes of a file as they are on disk, without unscrambling.
std::string RawHead(const std::string& path)
{
  std::string bytes(TPortSettingsFile::MaxReadBytes, '\0');
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const ssize_t got = fd >= 0 ? ::pread(fd, bytes.data(), bytes.size(), 0) : -1;
  if (fd >= 0)
    ::close(fd);
  bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return bytes;
}

// A file of a fixed size whose bytes the test writes through a shared mapping. Load reads the same page
// cache, so it sees every write, and a write costs no system call and no inode update.
class TMappedFile {
public:
  TMappedFile(const std::string& path, std::uint64_t size, std::size_t mappedBytes)
      : Fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)), Length(mappedBytes)
  {
    if (Fd >= 0 && ::ftruncate(Fd, static_cast<off_t>(size)) == 0 && Length > 0) {
      void* map = ::mmap(nullptr, Length, PROT_READ | PROT_WRITE, MAP_SHARED, Fd, 0);
      Bytes = map == MAP_FAILED ? nullptr : static_cast<char*>(map);
    }
  }
  ~TMappedFile()
  {
    if (Bytes)
      ::munmap(Bytes, Length);
    if (Fd >= 0)
      ::close(Fd);
  }
  TMappedFile(const TMappedFile&) = delete;
  TMappedFile& operator=(const TMappedFile&) = delete;

  // Writes the plain bytes shifted from the start and zeros after them up to the end of the mapping, which
  // clears what an earlier input left; false when the file could not be made.
  bool Put(std::string_view plain, std::uint8_t shift) const
  {
    if (Fd < 0 || plain.size() > Length || (Length > 0 && !Bytes))
      return false;
    for (std::size_t i = 0; i < Length; ++i)
      Bytes[i] = i < plain.size() ? static_cast<char>(static_cast<std::uint8_t>(plain[i]) + shift) : '\0';
    return true;
  }

  // Keeps the mapped bytes, so the size never falls below them.
  bool Resize(std::uint64_t size) const { return size >= Length && ::ftruncate(Fd, static_cast<off_t>(size)) == 0; }

private:
  int Fd;
  std::size_t Length;
  char* Bytes = nullptr;
};

// The files the inputs are written to, each rewritten in place, one per size: a million file creations,
// or a million writes that cut and regrow one file, would cost several times the reading under test.
class TScratchSettings {
public:
  TScratchSettings()
      : FreshPath(Dir.Path() + "/portp.dat"), MissingPath(Dir.Path() + "/missing.dat"),
        HugePath(Dir.Path() + "/huge.dat"), Huge(HugePath, HugeFrom, HugeRealBytes)
  {
  }

  // Puts the input on disk; false when that failed, a fault of the test machine rather than of Load.
  bool Put(const TSettingsInput& input)
  {
    switch (input.Writer) {
    case TWriter::Pinned:
    case TWriter::Raw: return PutMapped(input);
    case TWriter::Stream: return StreamWrite(input.Plain);
    case TWriter::Save: return TPortSettingsFile(FreshPath).Save(input.Saved);
    default: return true;
    }
  }

  TPortSettingsFile::TLoadResult Load(const TSettingsInput& input) const
  {
    return TPortSettingsFile(PathOf(input)).Load();
  }

  // The bytes Save or the stream put on disk; the file goes, so that the next one is created afresh
  // (emptying an ext4 file makes its next close wait for the disk).
  std::string TakeFresh() const
  {
    std::string head = RawHead(FreshPath);
    ::unlink(FreshPath.c_str());
    return head;
  }

private:
  const std::string& PathOf(const TSettingsInput& input) const
  {
    switch (input.Writer) {
    case TWriter::Stream:
    case TWriter::Save: return FreshPath;
    case TWriter::Missing: return MissingPath;
    case TWriter::Folder: return Dir.Path();
    default: return input.Size > input.Plain.size() ? HugePath : SizedPaths[input.Size];
    }
  }

  bool PutMapped(const TSettingsInput& input)
  {
    const bool huge = input.Size > input.Plain.size();
    if (huge && !Huge.Resize(input.Size))
      return false;
    return (huge ? Huge : Sized(input.Size)).Put(input.Plain, ShiftOnDisk(input));
  }

  const TMappedFile& Sized(std::uint64_t size)
  {
    const std::size_t index = static_cast<std::size_t>(size);
    if (index >= SizedFiles.size()) {
      SizedFiles.resize(index + 1);
      SizedPaths.resize(index + 1);
    }
    if (!SizedFiles[index]) {
      SizedPaths[index] = Dir.Path() + "/size" + std::to_string(index) + ".dat";
      SizedFiles[index] = std::make_unique<TMappedFile>(SizedPaths[index], index, index);
    }
    return *SizedFiles[index];
  }

  bool StreamWrite(const std::string& plain) const
  {
    TEncodedStream stream(FreshPath, TEncodedStream::TMode::Create, true);
    return stream.Write(reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size()) == plain.size();
  }

  TTempDir Dir;
  std::string FreshPath, MissingPath, HugePath;
  TMappedFile Huge;
  std::vector<std::string> SizedPaths;
  std::vector<std::unique_ptr<TMappedFile>> SizedFiles;
};

struct TLoadOutcome {
  bool Readable = false;
  std::optional<std::int32_t> PortNumber;

  bool operator==(const TLoadOutcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TLoadOutcome& o)
{
  return out << "{readable " << o.Readable << ", port " << ::testing::PrintToString(o.PortNumber) << "}";
}

TLoadOutcome ExpectedLoad(const TSettingsInput& input)
{
  if (input.Writer == TWriter::Missing || input.Writer == TWriter::Folder)
    return {};
  return {true, ReferencePortNumber(input)};
}

// Save writes the decimal line and CR LF scrambled with the pinned key, and so does the stream.
void CheckFreshBytes(const TSettingsInput& input, TScratchSettings& files, TMismatches& mismatches)
{
  if (input.Writer == TWriter::Save)
    mismatches.Equal("reference vs construction", std::optional<std::int32_t>(input.Saved), ReferencePortNumber(input));
  if (input.Writer == TWriter::Save || input.Writer == TWriter::Stream)
    mismatches.Equal("bytes on disk", OnDisk(input).substr(0, TPortSettingsFile::MaxReadBytes), files.TakeFresh());
}

TEST(SettingsFileProperty, LoadFindsTheNumberOnTheFirstLineOnly)
{
  TRandom random(BaseSeed + 5);
  TScratchSettings files;
  TMismatches mismatches;
  int numbers = 0, noNumber = 0, unreadable = 0, saved = 0, huge = 0, longer = 0;

  for (int i = 0; i < InputCount; ++i) {
    const TSettingsInput input = RandomSettingsInput(random);
    ASSERT_TRUE(files.Put(input)) << DescribeSettingsInput(input);
    const TPortSettingsFile::TLoadResult loaded = files.Load(input);
    const TLoadOutcome expected = ExpectedLoad(input);
    mismatches.Equal("load", expected, TLoadOutcome{loaded.Readable, loaded.PortNumber});
    CheckFreshBytes(input, files, mismatches);
    mismatches.EndInput(i, [&] { return DescribeSettingsInput(input); });

    numbers += expected.PortNumber.has_value();
    noNumber += expected.Readable && !expected.PortNumber;
    unreadable += !expected.Readable;
    saved += input.Writer == TWriter::Save;
    huge += input.Size >= HugeFrom;
    longer += expected.Readable && input.Size > TPortSettingsFile::MaxReadBytes;
  }
  mismatches.ExpectNone();
  ExpectShare("files with a number", numbers, InputCount / 5);
  ExpectShare("readable files without a number", noNumber, InputCount / 5);
  ExpectShare("files longer than Load reads", longer, InputCount / 10);
  ExpectShare("missing files and folders", unreadable, InputCount / 200);
  ExpectShare("saved numbers", saved, InputCount / 8000);
  ExpectShare("huge files", huge, InputCount / 5000);
}

} // namespace

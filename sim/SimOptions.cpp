#include "SimOptions.h"

#include "motor/ValueReader.h"

#include <algorithm>
#include <charconv>
#include <sstream>

namespace {

enum class TArgument { None, Value, OptionalValue, Switch };
enum class TScope { Flag, Command, Both };
using TAction = std::optional<std::string> (*)(TSimSettings&, std::string_view);

struct TOption {
  std::string_view Name;
  TArgument Argument;
  std::string_view ArgumentName;
  TScope Scope;
  std::string_view Help;
  TAction Apply;
};

constexpr std::int32_t MaxAddress = 254;
constexpr unsigned MaxCount = 1'000'000;
constexpr unsigned MaxDelayMs = 60'000;
constexpr unsigned MaxCode = 0xFF;
constexpr unsigned MinBaud = 50;
constexpr unsigned MaxBaud = 4'000'000;
constexpr unsigned MaxMotorRps = 250;
constexpr unsigned MaxSlip = 10;
constexpr unsigned MaxStallSeconds = 3600;

// Decimal, or hexadecimal after 0x; nothing else may follow the digits.
std::optional<unsigned> ParseNumber(std::string_view text, unsigned max)
{
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    base = 16;
  }
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || error != std::errc{} || stop != end || value > max)
    return std::nullopt;
  return value;
}

std::string Invalid(std::string_view what, std::string_view text, unsigned max)
{
  return "invalid " + std::string(what) + " '" + std::string(text) + "': expected 0.." + std::to_string(max) +
         ", decimal or 0x hex";
}

// Parses the number and hands it to `store`, or returns why it was refused.
template <class TStore>
std::optional<std::string> WithNumber(std::string_view text, unsigned max, std::string_view what, TStore store)
{
  const auto value = ParseNumber(text, max);
  if (!value)
    return Invalid(what, text, max);
  store(*value);
  return std::nullopt;
}

std::optional<std::string> SetCount(unsigned& field, std::string_view text, unsigned max = MaxCount)
{
  return WithNumber(text, max, "number", [&](unsigned value) { field = value; });
}

// Bus addresses are written as ozmetctl and the console take them: 7, $07 or 0x07.
std::optional<std::string> WithAddress(std::string_view text, auto store)
{
  const std::optional<std::int32_t> value = ParseValue(text);
  if (!value || *value < 0 || *value > MaxAddress)
    return "invalid address '" + std::string(text) + "': expected 0.." + std::to_string(MaxAddress) +
           ", decimal, $hex or 0x hex";
  store(static_cast<std::uint8_t>(*value));
  return std::nullopt;
}

std::optional<std::string> SetBaud(TSimLineSettings& line, std::string_view text)
{
  const auto value = ParseNumber(text, MaxBaud);
  if (!value || *value < MinBaud)
    return "invalid rate '" + std::string(text) + "': expected " + std::to_string(MinBaud) + ".." +
           std::to_string(MaxBaud);
  line.Baud = *value;
  return std::nullopt;
}

// One of the listed digits, e.g. data bits 5..8 or stop bits 1|2.
std::optional<std::string> SetDigit(std::uint8_t& field, std::string_view text, std::string_view allowed)
{
  if (text.size() != 1 || allowed.find(text[0]) == std::string_view::npos)
    return "invalid value '" + std::string(text) + "': expected one of " + std::string(allowed);
  field = static_cast<std::uint8_t>(text[0] - '0');
  return std::nullopt;
}

// Command codes are written as the log shows them, in hex (51, A5 or 0xA5); three digits, which no
// byte has in hex, are decimal (165).
std::optional<unsigned> ParseCode(std::string_view text)
{
  if (text.size() <= 2 && !text.empty())
    return ParseNumber("0x" + std::string(text), MaxCode);
  return ParseNumber(text, MaxCode);
}

// CODE:MS, the next answer to command CODE that much late.
std::optional<std::string> SetLateOnce(TSimFaults& faults, std::string_view text)
{
  const std::size_t colon = text.find(':');
  const auto code = colon == std::string_view::npos ? std::nullopt : ParseCode(text.substr(0, colon));
  const auto delay = colon == std::string_view::npos ? std::nullopt : ParseNumber(text.substr(colon + 1), MaxDelayMs);
  if (!code || !delay)
    return "invalid late answer '" + std::string(text) +
           "': expected CODE:MS, CODE 00..FF (51, A5, 0xA5 or 165), MS 0.." + std::to_string(MaxDelayMs);
  faults.LateOnceCommand = static_cast<std::uint8_t>(*code);
  faults.LateOnceMs = *delay;
  return std::nullopt;
}

std::optional<std::string> SetSwitch(bool& field, std::string_view text)
{
  if (text != "on" && text != "off")
    return "expected on or off, not '" + std::string(text) + "'";
  field = text == "on";
  return std::nullopt;
}

// A decimal fraction such as 0.9 or 2: no sign, no exponent.
std::optional<std::string> WithFraction(std::string_view text, unsigned max, std::string_view what, auto store)
{
  double value = 0.0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
  // NaN fails the range check too
  if (text.empty() || text[0] == '-' || error != std::errc{} || stop != end || !(value <= max))
    return "invalid " + std::string(what) + " '" + std::string(text) + "': expected 0.." + std::to_string(max) +
           ", decimal (0.9)";
  store(value);
  return std::nullopt;
}

// What a controller does wrong of its own: KEY or KEY=VALUE after its address.
struct TControllerKey {
  std::string_view Key;
  std::string_view ValueName; // empty for a key that takes no value
  std::string_view Help;
  std::optional<std::string> (*Apply)(TSimControllerFaults&, std::string_view);
};

constexpr TControllerKey ControllerKeys[] = {
    {"silent", "", "answer nothing",
     [](TSimControllerFaults& f, std::string_view) -> std::optional<std::string> {
       f.Silent = true;
       return std::nullopt;
     }},
    {"corrupt", "", "give every answer a wrong CRC, as --corrupt-address",
     [](TSimControllerFaults& f, std::string_view) -> std::optional<std::string> {
       f.Corrupt = true;
       return std::nullopt;
     }},
    {"delay", "MS", "send every answer MS milliseconds later than the line's delay",
     [](TSimControllerFaults& f, std::string_view v) { return SetCount(f.DelayMs, v, MaxDelayMs); }},
    {"jitter", "MS", "add a random 0..MS milliseconds to the line's jitter",
     [](TSimControllerFaults& f, std::string_view v) { return SetCount(f.JitterMs, v, MaxDelayMs); }},
    {"max-rps", "N", "the motor goes no faster than N rev/s, whatever speed is commanded",
     [](TSimControllerFaults& f, std::string_view v) {
       return WithNumber(v, MaxMotorRps, "speed", [&](unsigned rps) { f.MaxRps = rps; });
     }},
    {"slip", "F", "the revolution counter reports F x the revolutions made (0.9)",
     [](TSimControllerFaults& f, std::string_view v) {
       return WithFraction(v, MaxSlip, "slip", [&](double slip) { f.Slip = slip; });
     }},
    {"stall-after", "S", "the speed drops to 0 once a run has lasted S seconds, until a stop",
     [](TSimControllerFaults& f, std::string_view v) {
       return WithFraction(v, MaxStallSeconds, "time", [&](double seconds) { f.StallAfterS = seconds; });
     }},
};

std::string ControllerKeyText(const TControllerKey& key)
{
  return key.ValueName.empty() ? std::string(key.Key) : std::string(key.Key) + "=" + std::string(key.ValueName);
}

std::string ControllerKeyList()
{
  std::string list;
  for (const TControllerKey& key : ControllerKeys)
    list += (list.empty() ? "" : ", ") + ControllerKeyText(key);
  return list;
}

// The comma-separated settings after N: in --address N:SETTINGS; `argument` is all of it, for the message.
std::optional<std::string> SetControllerFaults(TSimControllerFaults& faults, std::string_view list,
                                               std::string_view argument)
{
  for (std::string_view rest = list;;) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    const std::size_t equals = item.find('=');
    const std::string_view name = item.substr(0, equals);
    const auto key = std::find_if(std::begin(ControllerKeys), std::end(ControllerKeys),
                                  [&](const TControllerKey& k) { return k.Key == name; });
    if (key == std::end(ControllerKeys))
      return (item.empty() ? "empty controller setting" : "invalid controller setting '" + std::string(item) + "'") +
             " in '" + std::string(argument) + "': expected " + ControllerKeyList();
    const bool hasValue = equals != std::string_view::npos;
    const std::string_view value = hasValue ? item.substr(equals + 1) : "";
    if (hasValue && value.empty())
      return "empty value in '" + std::string(item) + "': expected " + ControllerKeyText(*key);
    if (hasValue == key->ValueName.empty()) // a bare key takes no value, the others need one
      return "invalid controller setting '" + std::string(item) + "': expected " + ControllerKeyText(*key);
    if (auto error = key->Apply(faults, value))
      return error;
    if (comma == std::string_view::npos)
      return std::nullopt;
    rest.remove_prefix(comma + 1);
  }
}

// N or N:SETTINGS; settings given twice for one address add up, the later value winning.
std::optional<std::string> AddController(TSimSettings& settings, std::string_view text)
{
  const std::size_t colon = text.find(':');
  std::uint8_t added = 0;
  if (auto error = WithAddress(text.substr(0, colon), [&](std::uint8_t address) { added = address; }))
    return error;
  settings.Addresses.push_back(added);
  if (colon == std::string_view::npos)
    return std::nullopt;
  return SetControllerFaults(settings.ControllerFaults[added], text.substr(colon + 1), text);
}

constexpr TOption Options[] = {
    {"address", TArgument::Value, "N[:SETTINGS]", TScope::Flag,
     "put a controller at bus address N (0..254: 7, $07 or 0x07), with faults of its own after the colon "
     "(below); repeat for several (default: one at 0)",
     [](TSimSettings& s, std::string_view a) { return AddController(s, a); }},
    {"link", TArgument::Value, "PATH", TScope::Flag, "make PATH a symbolic link to the device while running",
     [](TSimSettings& s, std::string_view a) -> std::optional<std::string> {
       s.LinkPath = a;
       return std::nullopt;
     }},
    {"baud", TArgument::Value, "RATE", TScope::Flag,
     "the controllers' own rate (default 9600); bytes take their wire time at it",
     [](TSimSettings& s, std::string_view a) { return SetBaud(s.Line, a); }},
    {"data-bits", TArgument::Value, "5..8", TScope::Flag, "the controllers' data bits (default 8)",
     [](TSimSettings& s, std::string_view a) { return SetDigit(s.Line.DataBits, a, "5678"); }},
    {"parity", TArgument::Value, "PARITY", TScope::Flag,
     "the controllers' parity: none (default), odd, even, mark or space; a pseudo-terminal carries only "
     "8 data bits without parity",
     [](TSimSettings& s, std::string_view a) -> std::optional<std::string> {
       const auto parity = TSimLineSettings::ParityNamed(a);
       if (!parity)
         return "invalid parity '" + std::string(a) + "': expected none, odd, even, mark or space";
       s.Line.Parity = *parity;
       return std::nullopt;
     }},
    {"stop-bits", TArgument::Value, "1|2", TScope::Flag, "the controllers' stop bits (default 1)",
     [](TSimSettings& s, std::string_view a) { return SetDigit(s.Line.StopBits, a, "12"); }},
    {"silent", TArgument::Switch, "", TScope::Both, "answer nothing at all",
     [](TSimSettings& s, std::string_view a) { return SetSwitch(s.Faults.Silent, a); }},
    {"silent-to-status", TArgument::Switch, "", TScope::Both, "answer everything but the status request",
     [](TSimSettings& s, std::string_view a) { return SetSwitch(s.Faults.SilentToStatus, a); }},
    {"corrupt-every", TArgument::Value, "N", TScope::Both, "give every Nth answer a wrong CRC (0 = off)",
     [](TSimSettings& s, std::string_view a) { return SetCount(s.Faults.CorruptEvery, a); }},
    {"corrupt-address", TArgument::Value, "ADDRESS", TScope::Flag,
     "give every answer of the controller at ADDRESS a wrong CRC, the others stay sound",
     [](TSimSettings& s, std::string_view a) {
       return WithAddress(a, [&](std::uint8_t address) { s.Faults.CorruptAddress = address; });
     }},
    {"drop-byte", TArgument::Value, "N", TScope::Both, "cut the last byte off the Nth answer from now, once (0 = off)",
     [](TSimSettings& s, std::string_view a) { return SetCount(s.Faults.DropByteAt, a); }},
    {"extra-byte", TArgument::Value, "N", TScope::Both, "add one byte to the Nth answer from now, once (0 = off)",
     [](TSimSettings& s, std::string_view a) { return SetCount(s.Faults.ExtraByteAt, a); }},
    {"delay", TArgument::Value, "MS", TScope::Both, "send every answer MS milliseconds late",
     [](TSimSettings& s, std::string_view a) { return SetCount(s.Faults.DelayMs, a, MaxDelayMs); }},
    {"hang-up-after", TArgument::Value, "N", TScope::Both,
     "hang the line up on the Nth frame received from now, unanswered (0 = off)",
     [](TSimSettings& s, std::string_view a) { return SetCount(s.Faults.HangUpAfter, a); }},
    {"jitter", TArgument::Value, "MS", TScope::Both, "send every answer a random 0..MS milliseconds later still",
     [](TSimSettings& s, std::string_view a) { return SetCount(s.Faults.JitterMs, a, MaxDelayMs); }},
    {"late-once", TArgument::Value, "CODE:MS", TScope::Both,
     "send the next answer to command CODE (hex as logged: 51, A5 or 0xA5; 165 in decimal) MS milliseconds late, once",
     [](TSimSettings& s, std::string_view a) { return SetLateOnce(s.Faults, a); }},
    {"stray-byte", TArgument::Value, "N", TScope::Both,
     "send one byte alone 20 ms after the Nth answer from now, once (0 = off)",
     [](TSimSettings& s, std::string_view a) { return SetCount(s.Faults.StrayByteAfter, a); }},
    {"button", TArgument::OptionalValue, "ADDRESS", TScope::Command,
     "press the button of the controller at ADDRESS, or of the first one waiting for it",
     [](TSimSettings& s, std::string_view a) {
       s.ButtonPressed = true;
       return a.empty() ? std::nullopt : WithAddress(a, [&](std::uint8_t address) { s.ButtonAddress = address; });
     }},
    {"verbose", TArgument::None, "", TScope::Flag,
     "log every frame received, answer sent and garbage heard on standard error",
     [](TSimSettings& s, std::string_view) -> std::optional<std::string> {
       s.Verbose = true;
       return std::nullopt;
     }},
    {"no-input", TArgument::None, "", TScope::Flag,
     "read no commands from standard input, even when it is the terminal in the foreground",
     [](TSimSettings& s, std::string_view) -> std::optional<std::string> {
       s.NoInput = true;
       return std::nullopt;
     }},
    {"help", TArgument::None, "", TScope::Flag, "show this help and exit",
     [](TSimSettings& s, std::string_view) -> std::optional<std::string> {
       s.Help = true;
       return std::nullopt;
     }},
    {"version", TArgument::None, "", TScope::Flag, "show the version and exit",
     [](TSimSettings& s, std::string_view) -> std::optional<std::string> {
       s.Version = true;
       return std::nullopt;
     }},
};

bool InScope(const TOption& option, TScope scope)
{
  return option.Scope == scope || option.Scope == TScope::Both;
}

const TOption* Find(std::string_view name, TScope scope)
{
  const auto found = std::find_if(std::begin(Options), std::end(Options),
                                  [&](const TOption& option) { return option.Name == name && InScope(option, scope); });
  return found == std::end(Options) ? nullptr : found;
}

// How the argument is written after the name: a switch is a bare flag but takes on|off as a command.
std::string ArgumentText(const TOption& option, TScope scope)
{
  switch (option.Argument) {
  case TArgument::None: return "";
  case TArgument::Value: return std::string(" ").append(option.ArgumentName);
  case TArgument::OptionalValue: return " [" + std::string(option.ArgumentName) + "]";
  case TArgument::Switch: return scope == TScope::Flag ? "" : " on|off";
  }
  return "";
}

std::vector<std::string_view> Words(std::string_view line)
{
  std::vector<std::string_view> words;
  constexpr std::string_view Blanks = " \t\r";
  for (std::size_t start = line.find_first_not_of(Blanks); start != std::string_view::npos;
       start = line.find_first_not_of(Blanks, start)) {
    const std::size_t end = std::min(line.find_first_of(Blanks, start), line.size());
    words.push_back(line.substr(start, end - start));
    start = end;
  }
  return words;
}

void HelpRow(std::ostringstream& out, const std::string& usage, std::string_view help)
{
  constexpr std::size_t Column = 28;
  out << usage << std::string(Column > usage.size() ? Column - usage.size() : 1, ' ') << help << '\n';
}

void ListOptions(std::ostringstream& out, TScope scope, std::string_view prefix)
{
  for (const TOption& option : Options) {
    if (InScope(option, scope))
      HelpRow(out, "  " + std::string(prefix) + std::string(option.Name) + ArgumentText(option, scope), option.Help);
  }
}

} // namespace

TSimOptions::TParsed TSimOptions::ParseArguments(std::span<const std::string_view> arguments)
{
  TParsed parsed;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    const TOption* option = argument.starts_with("--") ? Find(argument.substr(2), TScope::Flag) : nullptr;
    if (!option)
      return {{}, "unknown argument '" + std::string(argument) + "'"};
    std::string_view value = option->Argument == TArgument::Switch ? "on" : "";
    if (option->Argument == TArgument::Value) {
      if (++i == arguments.size())
        return {{}, std::string(argument) + " needs" + ArgumentText(*option, TScope::Flag)};
      value = arguments[i];
    }
    if (auto error = option->Apply(parsed.Settings, value))
      return {{}, *error};
  }
  if (parsed.Settings.Addresses.empty())
    parsed.Settings.Addresses.push_back(0);
  return parsed;
}

std::optional<std::string> TSimOptions::ApplyCommand(std::string_view line, TSimSettings& settings)
{
  const auto words = Words(line);
  if (words.empty())
    return std::nullopt;
  const TOption* option = Find(words[0], TScope::Command);
  if (!option)
    return "unknown command '" + std::string(words[0]) + "'";
  const bool needsValue = option->Argument == TArgument::Value || option->Argument == TArgument::Switch;
  if (words.size() > 2 || (words.size() == 1 && needsValue))
    return "usage: " + std::string(option->Name) + ArgumentText(*option, TScope::Command);
  return option->Apply(settings, words.size() == 2 ? words[1] : std::string_view());
}

std::string TSimOptions::HelpText()
{
  std::ostringstream out;
  out << "Usage: ozmet-sim [--address N[:SETTINGS] ...] [--link PATH] [line flags] [fault flags] [--verbose]\n"
         "       ozmet-sim --help | --version\n"
         "Simulates Ozmet motor controllers on a pseudo-terminal and prints its device path first.\n"
         "Bytes take their wire time; a console whose line settings differ from the controllers' own\n"
         "(--baud, --data-bits, --parity, --stop-bits; default 9600 8N1) is heard as garbage.\n"
         "Runs until SIGINT, SIGTERM or the line hanging up. Commands are read from standard input until\n"
         "its end; a terminal is read only while the simulator runs in its foreground.\n\nFlags:\n";
  ListOptions(out, TScope::Flag, "--");
  out << "\nController settings, KEY or KEY=VALUE joined by commas (--address 5:delay=100,jitter=50); they add\n"
         "to the line-wide faults above:\n";
  for (const TControllerKey& key : ControllerKeys)
    HelpRow(out, "  " + ControllerKeyText(key), key.Help);
  out << "\nCommands on standard input, one a line:\n";
  ListOptions(out, TScope::Command, "");
  return out.str();
}

#include "CtlOptions.h"

#include "ComPort.h"
#include "CtlError.h"
#include "ValueReader.h"

#include <algorithm>
#include <array>
#include <sstream>

namespace {

struct TCommand {
  std::string_view Name;
  std::string_view Operand;
  std::string_view Help;
};

// In this order: an option's Commands holds bit i for the command at index i.
constexpr std::array<TCommand, 8> Commands{{
    {"status", "", "ask for the controller's state once"},
    {"set-motor", "", "send the encoder pulses and the maximum motor speed (the motor panel's Apply)"},
    {"run", "", "send acceleration, deceleration, direction and speed, then run (the Run button)"},
    {"stop", "", "stop the motor"},
    {"direction", "forward|backward", "set the direction of rotation"},
    {"watch", "", "ask for the state again and again, a line per answer, until Ctrl+C or --count"},
    {"set-address", "NEW", "give the controller whose button is pressed the address NEW (0..254)"},
    {"scan", "", "ask every address in turn and list the controllers that answer"},
}};

constexpr unsigned StatusBit = 1, SetMotorBit = 2, RunBit = 4, WatchBit = 32, SetAddressBit = 64, ScanBit = 128;
constexpr unsigned Every = 0xFF;
constexpr unsigned Addressed = Every & ~(SetAddressBit | ScanBit);
constexpr unsigned Ratio = StatusBit | SetMotorBit | RunBit | WatchBit | ScanBit;

struct TOption {
  std::string_view Name;
  std::string_view Value; // empty: a switch
  unsigned Commands;
  std::string_view Help;
};

constexpr TOption Options[] = {
    {"port", "N", Every, "port number 1..255: the link COM<N> in the window's Data folder, else /dev/ttyS<N-1> "
                         "(default: the window's port, from Data/portp.dat)"},
    {"device", "PATH", Every, "the serial device itself, instead of a port number"},
    {"baud", "R", Every, "110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600 or 115200 (9600)"},
    {"data-bits", "5..8", Every, "data bits (8)"},
    {"parity", "P", Every, "parity: none, odd, even, mark or space (none)"},
    {"stop-bits", "1|2", Every, "stop bits (1)"},
    {"address", "A", Addressed, "the controller's bus address 0..254, decimal or $hex (0; with --parameters, the "
                                "file's)"},
    {"json", "", Every, "one JSON object a line instead of text"},
    {"ratio", "R", Ratio, "reduction ratio of the gearhead: speeds are the output shaft's (1)"},
    {"parameters", "FILE", SetMotorBit | RunBit, "a parameter file saved by the window; options given beside it win"},
    {"encoder", "E", SetMotorBit, "encoder pulses per revolution 0..255"},
    {"max-speed", "RPM", SetMotorBit | RunBit, "maximum motor speed 0..15000 rpm; run keeps below it (4000)"},
    {"speed", "RPM", RunBit, "output speed in rpm"},
    {"accel", "A", RunBit, "acceleration 1..24 (24)"},
    {"decel", "D", RunBit, "deceleration 1..24 (24)"},
    {"direction", "forward|backward", RunBit, "direction of rotation (forward)"},
    {"for", "SECONDS", RunBit, "stop after this many seconds, then ask until the motor stands still"},
    {"interval", "MS", WatchBit, "time between two requests (500, the window's poll)"},
    {"count", "N", WatchBit, "stop after N answers (no limit)"},
    {"wait", "SECONDS", SetAddressBit, "end the procedure after this long instead of at Enter"},
    {"from", "A", ScanBit, "first address asked (0)"},
    {"to", "A", ScanBit, "last address asked (254)"},
    {"timeout-ms", "T", ScanBit, "how long each address has to answer (30)"},
    {"help", "", 0, "show this text"},
    {"version", "", 0, "show the version"},
};

TCtlError Refused(const std::string& message)
{
  return TCtlError(TCtlError::Usage, message);
}

const TOption* FindOption(std::string_view name)
{
  const auto found = std::find_if(std::begin(Options), std::end(Options), [&](auto& o) { return o.Name == name; });
  return found == std::end(Options) ? nullptr : found;
}

std::size_t CommandIndex(std::string_view name)
{
  return static_cast<std::size_t>(
      std::find_if(Commands.begin(), Commands.end(), [&](auto& c) { return c.Name == name; }) - Commands.begin());
}

// "status, run" for an option that only some commands take; nothing for one that all take.
std::string AppliesTo(unsigned commands)
{
  std::string names;
  for (std::size_t i = 0; i < Commands.size() && commands != Every; ++i)
    if (commands & (1u << i))
      names += (names.empty() ? " [" : ", ") + std::string(Commands[i].Name);
  return names.empty() ? names : names + "]";
}

// The name, then its help in a column of its own, folded to fit a terminal.
std::string Entry(const std::string& name, const std::string& help)
{
  constexpr std::size_t Column = 30, Width = 100;
  std::string text = name + std::string(name.size() < Column ? Column - name.size() : 1, ' ');
  std::size_t lineStart = 0;
  std::istringstream words(help);
  for (std::string word, gap; words >> word; gap = " ") {
    if (!gap.empty() && text.size() - lineStart + gap.size() + word.size() > Width) {
      lineStart = text.size() + 1;
      gap = "\n" + std::string(Column, ' ');
    }
    text += gap + word;
  }
  return text + "\n";
}

} // namespace

TCtlOptions TCtlOptions::Parse(int argc, const char* const* argv)
{
  TCtlOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (!argument.starts_with("--")) {
      options.TakeWord(argument);
      continue;
    }
    const std::size_t equals = argument.find('=');
    const std::string name(argument.substr(2, equals == std::string_view::npos ? equals : equals - 2));
    const TOption* option = FindOption(name);
    if (!option)
      throw Refused("unknown option --" + name);
    if (name == "help" || name == "version") {
      options.Action = name == "help" ? TAction::Help : TAction::Version;
      return options;
    }
    std::string value;
    if (option->Value.empty() && equals != std::string_view::npos)
      throw Refused("--" + name + " takes no value");
    if (!option->Value.empty() && equals != std::string_view::npos)
      value = argument.substr(equals + 1);
    else if (!option->Value.empty() && ++i < argc)
      value = argv[i];
    else if (!option->Value.empty())
      throw Refused("--" + name + " needs " + std::string(option->Value));
    options.Values[name] = value;
  }
  if (options.Command.empty())
    throw Refused("no command given");
  const std::size_t command = CommandIndex(options.Command);
  if (!Commands[command].Operand.empty() && options.Operand.empty())
    throw Refused(options.Command + " needs " + std::string(Commands[command].Operand));
  for (const auto& [name, value] : options.Values)
    if (!(FindOption(name)->Commands & (1u << command)))
      throw Refused("--" + name + " does not apply to " + options.Command);
  return options;
}

void TCtlOptions::TakeWord(std::string_view word)
{
  if (Command.empty() && CommandIndex(word) == Commands.size())
    throw Refused("unknown command \"" + std::string(word) + "\"");
  if (Command.empty())
    Command = word;
  else if (Operand.empty() && !Commands[CommandIndex(Command)].Operand.empty())
    Operand = word;
  else
    throw Refused("unexpected argument \"" + std::string(word) + "\"");
}

std::string TCtlOptions::Usage()
{
  std::string text = "Usage: ozmetctl [options] COMMAND [OPERAND] [options]\n"
                     "Drives Ozmet motor speed controllers on a serial line, checking, rounding and building every\n"
                     "frame as the console window does.\n\nCommands:\n";
  for (const TCommand& command : Commands)
    text += Entry("  " + std::string(command.Name) + " " + std::string(command.Operand), std::string(command.Help));
  text += "\nOptions (the commands an option applies to in brackets, defaults in parentheses):\n";
  for (const TOption& option : Options)
    text += Entry("  --" + std::string(option.Name) + " " + std::string(option.Value),
                  std::string(option.Help) + AppliesTo(option.Commands));
  return text + "\nset-motor needs --encoder and --max-speed, and run needs --speed, unless --parameters gives them.\n"
                "run: a timed motion in the file, or --for, stops the motor after that time; Ctrl+C stops it at\n"
                "once. set-address: Ctrl+C ends the procedure early, as closing the window's dialog does.\n"
                "Exit status: 0 done, 1 no answer, a bad checksum or a failed line, 2 a refused command line,\n"
                "3 the port would not open.\n";
}

std::size_t TCtlOptions::ChoiceOf(std::string_view what, std::string_view text,
                                  std::span<const std::string_view> words)
{
  const auto found = std::find(words.begin(), words.end(), text);
  if (found != words.end())
    return static_cast<std::size_t>(found - words.begin());
  std::string list;
  for (std::string_view word : words)
    list += (list.empty() ? "" : "|") + std::string(word);
  throw Refused(std::string(what) + ": \"" + std::string(text) + "\" is not " + list);
}

bool TCtlOptions::Has(std::string_view option) const
{
  return Values.find(option) != Values.end();
}

std::string TCtlOptions::Text(std::string_view option, const std::string& fallback) const
{
  const auto found = Values.find(option);
  return found == Values.end() ? fallback : found->second;
}

std::int32_t TCtlOptions::Whole(std::string_view option, std::int32_t low, std::int32_t high,
                                std::int32_t fallback) const
{
  if (!Has(option))
    return fallback;
  const std::string text = Text(option);
  const std::optional<std::int32_t> value = ParseValue(text);
  if (!value || *value < low || *value > high)
    throw Refused("--" + std::string(option) + ": \"" + text + "\" is not a whole number from " +
                  std::to_string(low) + " to " + std::to_string(high));
  return *value;
}

std::size_t TCtlOptions::Choice(std::string_view option, std::span<const std::string_view> words,
                                std::size_t fallback) const
{
  return Has(option) ? ChoiceOf("--" + std::string(option), Text(option), words) : fallback;
}

TLineSettings TCtlOptions::LineSettings() const
{
  static constexpr std::string_view Parities[] = {"none", "odd", "even", "mark", "space"};
  static constexpr std::string_view StopBits[] = {"1", "2"};
  TLineSettings settings;
  settings.Baud = static_cast<std::uint32_t>(Whole("baud", 1, 115200, 9600));
  if (std::find(TComPort::BaudRates.begin(), TComPort::BaudRates.end(), settings.Baud) == TComPort::BaudRates.end())
    throw Refused("--baud: " + std::to_string(settings.Baud) + " is not one of the window's rates");
  settings.DataBits = static_cast<std::uint8_t>(Whole("data-bits", 5, 8, 8));
  settings.Parity = static_cast<std::uint8_t>(Choice("parity", Parities, 0));
  settings.StopBits = static_cast<std::uint8_t>(Choice("stop-bits", StopBits, 0) * 2); // the code of two is 2
  return settings;
}

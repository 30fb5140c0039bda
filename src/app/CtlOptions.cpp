#include "app/CtlOptions.h"

#include "app/CtlError.h"
#include "bus/BusAddresses.h"
#include "motor/ValueReader.h"
#include "serial/ComPort.h"

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
constexpr TCommand Commands[] = {
    {"status", "", "ask for the controller's state once"},
    {"set-motor", "", "send the encoder pulses and the maximum motor speed (the motor panel's Apply)"},
    {"run", "", "send acceleration, deceleration, direction and speed, then run (the Run button)"},
    {"stop", "",
     "stop the motor; where another ozmetctl or the window of this user holds the line, that "
     "program is asked to end first (it stops its motors then), and the line is taken over"},
    {"direction", "forward|backward", "set the direction of rotation"},
    {"watch", "", "ask for the state again and again, a line per answer, until Ctrl+C or --count"},
    {"set-address", "NEW", "give the controller whose button is pressed the address NEW (0..254)"},
    {"scan", "", "ask every address in turn and list the controllers that answer"},
    {"script", "FILE",
     "run the commands in FILE (- for standard input), one a line, on one open port; every "
     "line is checked before anything is sent"},
    {"devices", "",
     "list the USB serial adapters present: device, maker, product, serial number, USB id, "
     "/dev/serial/by-id name"},
    {"test", "FILE",
     "run the test sequence in FILE (ozmet-sequence(5)) on its controllers, tell each one's "
     "verdict and keep each unit's record of the run; the whole file is checked before anything is "
     "sent"},
    {"records", "list|show KEY|yield|cpk|import DIR|export|sync",
     "the records store: list the units' runs; show a unit's history by its serial, or a run's units by its id "
     "(verdicts, the checks that failed, the record's file); yield: first-pass yield (units whose first run "
     "passed) and final yield (whose last run passed); cpk: each check's spread and Cpk against its limits; "
     "import the .json records under DIR, each unit once; export the runs list selects, with --csv or --json; sync: "
     "send the runs that a postgresql:// store could "
     "not take when they ended, kept meanwhile in the local store"},
};
constexpr std::size_t CommandCount = std::size(Commands);

constexpr unsigned StatusBit = 1, SetMotorBit = 2, RunBit = 4, StopBit = 8, WatchBit = 32, SetAddressBit = 64,
                   ScanBit = 128, ScriptBit = 256, DevicesBit = 512, TestBit = 1024, RecordsBit = 2048;
constexpr unsigned Every = (1u << CommandCount) - 1;
constexpr unsigned OnALine = Every & ~(DevicesBit | RecordsBit); // the port and its settings
constexpr unsigned OneCommand = Every & ~ScriptBit;
constexpr unsigned Addressed = OneCommand & ~(SetAddressBit | ScanBit | DevicesBit | RecordsBit);
constexpr unsigned Ratio = StatusBit | SetMotorBit | RunBit | WatchBit | ScanBit;

struct TOption {
  std::string_view Name;
  char Short;             // '\0': none
  std::string_view Value; // empty: a switch
  unsigned Commands;
  std::string_view Help;
};

constexpr TOption Options[] = {
    {"port", 0, "N", OnALine,
     "port number 1..255: the link COM<N> in the window's Data folder, else /dev/ttyS<N-1> "
     "(default: the window's port, from Data/portp.dat)"},
    {"device", 0, "PATH", OnALine,
     "the serial device itself, instead of a port number; an adapter also by "
     "serial:NUMBER (its USB serial number) or by-id:NAME (/dev/serial/by-id/NAME); a "
     "serial device server by tcp://HOST:PORT (bytes as they are) or "
     "rfc2217://HOST:PORT (the line settings go to the far end)"},
    {"baud", 0, "R", OnALine,
     "110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600 or 115200 (9600)"},
    {"data-bits", 0, "5..8", OnALine, "data bits (8)"},
    {"parity", 0, "P", OnALine, "parity: none, odd, even, mark or space (none)"},
    {"stop-bits", 0, "1|2", OnALine, "stop bits (1)"},
    {"rs485", 0, "", OnALine,
     "set the kernel's RS-485 mode (RTS on while sending) for a UART whose RTS drives the "
     "bus direction; a device without it (a USB adapter, a pseudo-terminal) works without "
     "it, with a note that says so"},
    {"address", 0, "A", Addressed & ~TestBit,
     "the controller's bus address 0..254, decimal or $hex (0; with "
     "--parameters, the file's); status, watch, stop, run and set-motor "
     "take a list with ranges, 1,2,5 or 1-4,9, and go to each in turn"},
    // test's controllers come from its file, so its --address has a default of its own.
    {"address", 0, "LIST", TestBit,
     "the controllers to test instead of the file's, a list with ranges, 1,2,5 or "
     "1-4,9, decimal or $hex (the file's controllers)"},
    {"json", 0, "", Every, "one JSON object a line instead of text, failures included"},
    {"quiet", 'q', "", Every, "no results or notes in text; failures and prompts still show"},
    {"verbose", 'v', "", Every, "every frame written and answer read, with its time, on standard error"},
    {"ratio", 0, "R", Ratio, "reduction ratio of the gearhead: speeds are the output shaft's (1)"},
    {"parameters", 0, "FILE", SetMotorBit | RunBit,
     "a parameter file saved by the window; options given beside it "
     "win"},
    {"encoder", 0, "E", SetMotorBit, "encoder pulses per revolution 0..255"},
    {"max-speed", 0, "RPM", SetMotorBit | RunBit,
     "maximum motor speed 0..15000 rpm: set-motor sends it, run steps a "
     "speed at or above it down once (4000)"},
    {"speed", 0, "RPM", RunBit, "output speed in rpm"},
    {"accel", 0, "A", RunBit, "acceleration 1..24 (24)"},
    {"decel", 0, "D", RunBit, "deceleration 1..24 (24)"},
    {"direction", 0, "forward|backward", RunBit, "direction of rotation (forward)"},
    {"for", 0, "SECONDS", RunBit, "stop after this many seconds, then ask until the motor stands still"},
    {"strict", 0, "", SetMotorBit | RunBit,
     "refuse a value the controller would get rounded or clamped, rather "
     "than say so and send it"},
    {"retries", 0, "N", RunBit | StopBit,
     "how often a Stop that is not answered is sent again, 0..10 (2); a stop "
     "of several sends it again after the others (1)"},
    {"all-found", 0, "", StopBit,
     "stop every controller of the line's bus list (kept by scan --save or the window) "
     "in its order, then once more each that did not answer; not with --address"},
    {"interval", 0, "MS", WatchBit, "time between two requests (500, the window's poll)"},
    {"count", 0, "N", WatchBit, "stop after N answers (no limit)"},
    {"max-failures", 0, "N", WatchBit, "give up after N missed or bad answers in a row (10)"},
    {"csv", 0, "", WatchBit | RecordsBit,
     "comma-separated values: a header row, then a row per request, its answer last; records export: a row a "
     "unit's run, every column (not with --json)"},
    {"wait", 0, "SECONDS", SetAddressBit, "end the procedure after this long (1..3600) instead of at Enter"},
    {"force", 0, "", SetAddressBit, "give the address even though a controller already answers at it"},
    {"from", 0, "A", ScanBit, "first address asked (0)"},
    {"to", 0, "A", ScanBit, "last address asked (254)"},
    {"save", 0, "", ScanBit,
     "keep the controllers that answered as the line's bus list (Data/bus/), their "
     "labels kept, for stop --all-found and the window; a scan cut short or finding none "
     "saves nothing"},
    {"timeout-ms", 0, "T", ScanBit, "how long each address has to answer (the line's wire time + 20, at least 30)"},
    {"keep-going", 0, "", ScriptBit, "go on after a line that fails; the exit status is the first failure's"},
    {"unit", 0, "A=SERIAL", TestBit,
     "the serial number of the unit that the controller at address A drives, kept "
     "in its record and the record's file names; once for each controller "
     "(--unit 1=SN-A --unit $02=SN-B), or SERIAL alone when the test has one "
     "controller (none)"},
    {"record", 0, "DIR", TestBit,
     "the folder the units' records go to, made when missing "
     "($XDG_DATA_HOME/ozmet/records, else ~/.local/share/ozmet/records)"},
    {"store", 0, "FILE|URL", TestBit | RecordsBit,
     "the records store: an SQLite file, made when missing, or a plant's PostgreSQL server, postgresql://HOST/DB "
     "(credentials from ~/.pgpass or PGPASSWORD) (OZMET_STORE, else $XDG_DATA_HOME/ozmet/records.sqlite, else "
     "~/.local/share/ozmet/records.sqlite); test puts each run there once its controllers are stopped, a server "
     "out of reach leaves it in the local file until the next run or records sync"},
    {"mqtt", 0, "URL", WatchBit | TestBit,
     "publish to an MQTT broker, mqtt://HOST[:PORT] or mqtts://HOST[:PORT]: each answer's state, test's steps and "
     "verdicts (user and password from OZMET_MQTT_USERNAME and OZMET_MQTT_PASSWORD)"},
    {"station", 0, "NAME", WatchBit | TestBit, "the bench's name in the broker's topics (the host name)"},
    {"unit", 0, "SERIAL", RecordsBit, "list: only this unit's runs"},
    {"sequence", 0, "NAME", RecordsBit, "list, yield, cpk: only this sequence's runs"},
    {"station", 0, "HOST", RecordsBit, "list: only the runs of this bench"},
    {"verdict", 0, "pass|fail|aborted", RecordsBit, "list: only the units with this verdict"},
    {"since", 0, "DATE", RecordsBit, "list: only runs begun on this UTC day (YYYY-MM-DD) or later"},
    {"until", 0, "DATE", RecordsBit, "list: only runs begun on this UTC day or earlier"},
    {"limit", 0, "N", RecordsBit, "list: the newest N (all)"},
    {"by", 0, "sequence|station|day", RecordsBit, "yield: the groups, each unit in its first run's (sequence)"},
    {"check", 0, "NAME", RecordsBit, "cpk: only this check"},
    {"help", 'h', "", 0, "show this text; after a command, that command's"},
    {"version", 'V', "", 0, "show the version"},
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

// An option may have an entry for some commands and another, with its own help, for others.
unsigned CommandsOf(std::string_view name)
{
  unsigned commands = 0;
  for (const TOption& option : Options)
    commands |= option.Name == name ? option.Commands : 0;
  return commands;
}

// "quiet" for "-q".
std::string_view LongName(std::string_view argument)
{
  for (const TOption& option : Options)
    if (argument.size() == 2 && option.Short == argument[1])
      return option.Name;
  throw TCtlError(TCtlError::Usage, "unknown option " + std::string(argument));
}

std::size_t CommandIndex(std::string_view name)
{
  return static_cast<std::size_t>(
      std::find_if(std::begin(Commands), std::end(Commands), [&](auto& c) { return c.Name == name; }) -
      std::begin(Commands));
}

// The port, its settings and the output: given once, before the script, for all its lines.
bool ForTheScript(const TOption& option)
{
  return (option.Commands & ScriptBit) && option.Commands != ScriptBit;
}

// "status, run" for an option that only some commands take; nothing for one that all take.
std::string AppliesTo(unsigned commands)
{
  if (commands == OnALine)
    return " [not devices, records]";
  std::string names;
  for (std::size_t i = 0; i < CommandCount && commands != Every; ++i)
    if (commands & (1u << i))
      names += (names.empty() ? " [" : ", ") + std::string(Commands[i].Name);
  return names.empty() ? names : names + "]";
}

// The name, then its help in a column of its own, folded to fit a terminal; no line end.
std::string Entry(const std::string& name, const std::string& help)
{
  constexpr std::size_t Column = 30, Width = 100;
  std::string text = name + std::string(name.size() < Column ? Column - name.size() : 1, ' ');
  std::size_t lineStart = 0;
  std::istringstream words(help);
  for (std::string word, gap; words >> word; gap.assign(1, ' ')) {
    if (!gap.empty() && text.size() - lineStart + gap.size() + word.size() > Width) {
      lineStart = text.size() + 1;
      gap = std::string(1, '\n').append(Column, ' ');
    }
    text += gap + word;
  }
  return text;
}

std::string OptionEntry(const TOption& option, const std::string& appliesTo = "")
{
  const std::string shortName = option.Short ? std::string("-") + option.Short + ", " : "";
  return Entry("  " + shortName + "--" + std::string(option.Name) + " " + std::string(option.Value),
               std::string(option.Help) + appliesTo);
}

// The option that carries each field, in TField's order.
constexpr std::array<const char*, 10> FieldOptions{"--address", "--encoder",   "--max-speed", "--ratio",
                                                    "--speed",   "--accel",     "--decel",     "--direction",
                                                    "motion",    "--for"};

// The text the operator gave for a field, to be quoted in the message that refuses it.
std::string TextOf(TField field, const TMotorFields& motor, const TWorkFields& work)
{
  switch (field) {
  case TField::Address: return motor.Address;
  case TField::Encoder: return motor.Encoder;
  case TField::MaxSpeed: return motor.MaxSpeed;
  case TField::GearRatio: return motor.GearRatio;
  case TField::Speed: return work.Speed;
  case TField::Accel: return work.Accel;
  case TField::Decel: return work.Decel;
  case TField::Time: return work.Time;
  default: return "";
  }
}

} // namespace

TCtlOptions TCtlOptions::Parse(int argc, const char* const* argv)
{
  TCtlOptions options;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (!optionsEnded && argument == "--")
      optionsEnded = true;
    else if (optionsEnded || !argument.starts_with("-") || argument == "-")
      options.TakeWord(argument);
    else if (argument.starts_with("--"))
      i = options.TakeOption(argument.substr(2), i, argc, argv);
    else
      i = options.TakeOption(LongName(argument), i, argc, argv);
    if (options.Action != TAction::Run)
      return options;
  }
  options.Check();
  return options;
}

// The index of the last argument taken: the value may be the next one.
int TCtlOptions::TakeOption(std::string_view argument, int i, int argc, const char* const* argv)
{
  const std::size_t equals = argument.find('=');
  const std::string name(argument.substr(0, equals));
  const TOption* option = FindOption(name);
  if (!option)
    throw Refused("unknown option --" + name);
  if (name == "help" || name == "version") {
    Action = name == "help" ? TAction::Help : TAction::Version;
    return i;
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
  Values[name].push_back(value);
  return i;
}

void TCtlOptions::Check() const
{
  if (Command.empty())
    throw Refused("no command given");
  const std::size_t command = CommandIndex(Command);
  if (!Commands[command].Operand.empty() && Operand.empty())
    throw Refused(Command + " needs " + std::string(Commands[command].Operand));
  for (const auto& [name, values] : Values)
    if (!(CommandsOf(name) & (1u << command)))
      throw Refused("--" + name + " does not apply to " + Command);
  if (Has("csv") && Has("json"))
    throw Refused("--csv and --json: give one of them");
  if (Has("device") && Text("device").empty())
    throw Refused("--device needs a device path, not an empty text");
}

void TCtlOptions::TakeWord(std::string_view word)
{
  if (Command.empty() && CommandIndex(word) == CommandCount)
    throw Refused("unknown command \"" + std::string(word) + "\"");
  if (Command.empty())
    Command = word;
  else if (Operand.empty() && !Commands[CommandIndex(Command)].Operand.empty())
    Operand = word;
  else if (Subject.empty() && Commands[CommandIndex(Command)].Operand.find(' ') != std::string_view::npos)
    Subject = word; // records show KEY, records import DIR
  else
    throw Refused("unexpected argument \"" + std::string(word) + "\"");
}

void TCtlOptions::InheritLine(const TCtlOptions& script)
{
  if (Action != TAction::Run || Command == "script")
    throw Refused("a script's line holds one command, not --help, --version or another script");
  for (const TOption& option : Options)
    if (ForTheScript(option) && Has(option.Name))
      throw Refused("--" + std::string(option.Name) + " belongs before the script, for all its lines");
    else if (ForTheScript(option) && script.Has(option.Name))
      Values[std::string(option.Name)] = script.Texts(option.Name);
}

std::string TCtlOptions::Usage(const std::string& command)
{
  if (!command.empty())
    return CommandUsage(CommandIndex(command));
  std::string text = "Usage: ozmetctl [options] COMMAND [OPERAND] [options]\n"
                     "Drives Ozmet motor speed controllers on a serial line, checking, rounding and building every\n"
                     "frame as the console window does.\n\nCommands:\n";
  for (const TCommand& entry : Commands)
    text += Entry("  " + std::string(entry.Name) + " " + std::string(entry.Operand), std::string(entry.Help)) + "\n";
  text += "\nOptions (the commands an option applies to in brackets, defaults in parentheses):\n";
  for (const TOption& option : Options)
    text += OptionEntry(option, AppliesTo(option.Commands)) + "\n";
  return text + "\n'ozmetctl COMMAND --help' tells one command's options; -- ends the options.\n"
                "set-motor needs --encoder and --max-speed, and run needs --speed, unless --parameters gives them.\n"
                "Every value (of the command line, each script line, a parameter file) is checked before the\n"
                "port opens. A value the controller gets other than asked is said on standard error with what\n"
                "is sent (--strict refuses it).\n"
                "run: once a Run may have reached a controller, every way out of the process (the end of --for,\n"
                "a failure, Ctrl+C, SIGTERM, SIGHUP, a closed output) sends it Stop first, again until it is\n"
                "answered; after an interrupt only a Stop starts. A timed run polls the status and says a\n"
                "failed line at once, then opens it again to send Stop until its time is up.\n"
                "set-address: Ctrl+C ends the procedure early, as closing the window's dialog does; success is\n"
                "told only when the controller answers at its new address.\n"
                "test: every controller that a Run may have reached is sent Stop on every way out; each\n"
                "controller's verdict is PASS, FAIL (with the checks that failed and why) or ABORTED.\n"
                "Exit status: 0 done, every controller passed its test; 1 no answer, a bad checksum, a failed\n"
                "line, a failed test or its record incomplete; 2 a refused command line, script line, sequence\n"
                "or file; 3 the port would not open; 130, 143, 129, 141 interrupted by SIGINT,\n"
                "SIGTERM, SIGHUP, a closed output (SIGPIPE); watch ends with 0 at Ctrl+C, its usual end, once\n"
                "some request was answered soundly.\n";
}

std::string TCtlOptions::CommandUsage(std::size_t command)
{
  const TCommand& entry = Commands[command];
  std::string text = "Usage: ozmetctl [options] " + std::string(entry.Name) +
                     (entry.Operand.empty() ? "" : " " + std::string(entry.Operand)) + " [options]\n" +
                     std::string(entry.Help) + ".\n\nOptions:\n";
  for (const TOption& option : Options)
    if (option.Commands & (1u << command))
      text += OptionEntry(option) + "\n";
  return text;
}

std::size_t TCtlOptions::ChoiceOf(std::string_view what, std::string_view text,
                                  std::span<const std::string_view> words)
{
  const auto found = std::find(words.begin(), words.end(), text);
  if (found != words.end())
    return static_cast<std::size_t>(found - words.begin());
  std::string list;
  for (std::string_view word : words)
    list.append(list.empty() ? "" : "|").append(word);
  throw Refused(std::string(what) + ": \"" + std::string(text) + "\" is not " + list);
}

bool TCtlOptions::Has(std::string_view option) const
{
  return Values.find(option) != Values.end();
}

std::string TCtlOptions::Text(std::string_view option, const std::string& fallback) const
{
  const auto found = Values.find(option);
  return found == Values.end() ? fallback : found->second.back();
}

std::vector<std::string> TCtlOptions::Texts(std::string_view option) const
{
  const auto found = Values.find(option);
  return found == Values.end() ? std::vector<std::string>{} : found->second;
}

std::int32_t TCtlOptions::Whole(std::string_view option, std::int32_t low, std::int32_t high,
                                std::int32_t fallback) const
{
  if (!Has(option))
    return fallback;
  const std::string text = Text(option);
  const std::optional<std::int32_t> value = ParseValue(text);
  const std::string refused = "--" + std::string(option) + ": \"" + text + "\" is ";
  if (!value)
    throw Refused(refused + "not a whole number");
  if (*value < low || *value > high)
    throw Refused(refused + "outside " + std::to_string(low) + ".." + std::to_string(high));
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
    throw Refused("--baud: \"" + Text("baud") + "\" is not one of the window's rates");
  settings.DataBits = static_cast<std::uint8_t>(Whole("data-bits", 5, 8, 8));
  settings.Parity = static_cast<std::uint8_t>(Choice("parity", Parities, 0));
  settings.StopBits = static_cast<std::uint8_t>(Choice("stop-bits", StopBits, 0) * 2); // the code of two is 2
  settings.Rs485 = Has("rs485");
  return settings;
}

std::vector<std::string> TCtlOptions::Addresses(const std::string& fallback) const
{
  if (!Has("address"))
    return {fallback};
  try {
    return TBusAddresses::Items(Text("address"));
  } catch (const std::invalid_argument& error) {
    throw Refused(std::string("--address: ") + error.what());
  }
}

void TCtlOptions::Refuse(const std::optional<TFieldFault>& fault, const TMotorFields& motor, const TWorkFields& work)
{
  if (fault)
    throw TCtlError(TCtlError::Usage, std::string(FieldOptions[static_cast<std::size_t>(fault->Field)]) + ": \"" +
                                          TextOf(fault->Field, motor, work) + "\" is " + fault->Reason);
}

#pragma once

#include "motor/PanelFields.h"
#include "serial/SerialDevice.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The command line of ozmetctl: one command, its operand, and options before or after it. Commands
// and options come from one table each, so --help lists exactly what is understood, and an option
// that a command does not use is refused rather than silently ignored.
class TCtlOptions {
public:
  enum class TAction { Run, Help, Version };

  // Throws a usage TCtlError when the line is refused.
  static TCtlOptions Parse(int argc, const char* const* argv);
  // The whole help, or one command's.
  static std::string Usage(const std::string& command = "");
  // The index of text among words; throws a usage error naming `what` otherwise.
  // Throws the usage TCtlError that names a field the panels refused, by the option that carries it:
  // --accel: "30" is outside 1..24
  static void Refuse(const std::optional<TFieldFault>& fault, const TMotorFields& motor, const TWorkFields& work = {});
  static std::size_t ChoiceOf(std::string_view what, std::string_view text, std::span<const std::string_view> words);

  // A script's line takes the port, the line settings and the output options of the script's own
  // command line; it may not give them itself. Throws a usage TCtlError.
  void InheritLine(const TCtlOptions& script);

  bool Has(std::string_view option) const;
  // The last value given: a later option wins over an earlier one.
  std::string Text(std::string_view option, const std::string& fallback = "") const;
  // Every value of an option that may be given several times (--unit), in the order given.
  std::vector<std::string> Texts(std::string_view option) const;
  // A whole number, decimal or $hex as the window reads it, within low..high.
  std::int32_t Whole(std::string_view option, std::int32_t low, std::int32_t high, std::int32_t fallback) const;
  std::size_t Choice(std::string_view option, std::span<const std::string_view> words, std::size_t fallback) const;
  // The texts of the addresses of --address: one, or a list with ranges ("1-4,9" gives 1 2 3 4 9),
  // each once; `fallback` without it. Each is checked as the window checks an address when it is
  // taken. Throws a usage TCtlError for a list or range that is not well formed.
  std::vector<std::string> Addresses(const std::string& fallback) const;
  // The window's 9600 baud, 8 data bits, no parity and 1 stop bit, unless the options say otherwise.
  TLineSettings LineSettings() const;

  TAction Action = TAction::Run;
  std::string Command;
  std::string Operand;
  std::string Subject; // the operand's own argument: records show KEY

private:
  static std::string CommandUsage(std::size_t command);
  void TakeWord(std::string_view word);
  int TakeOption(std::string_view argument, int i, int argc, const char* const* argv);
  void Check() const;

  std::map<std::string, std::vector<std::string>, std::less<>> Values;
};

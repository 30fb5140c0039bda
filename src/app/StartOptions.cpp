#include "app/StartOptions.h"

#include <charconv>
#include <string_view>

namespace {

std::optional<std::int32_t> PortNumber(std::string_view text)
{
  std::int32_t n = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), n);
  if (result.ec != std::errc{} || result.ptr != text.data() + text.size() || n < 1 || n > 255)
    return std::nullopt;
  return n;
}

TStartOptions Refused(std::string error)
{
  TStartOptions options;
  options.Action = TStartOptions::TAction::Refuse;
  options.Error = std::move(error);
  return options;
}

} // namespace

TStartOptions TStartOptions::Parse(int argc, const char* const* argv)
{
  TStartOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      options.Action = TAction::Help;
      return options;
    }
    if (argument == "--version") {
      options.Action = TAction::Version;
      return options;
    }
    if (argument == "--rs485") {
      options.Rs485 = true;
      continue;
    }
    if (argument != "--port" && argument != "--device") {
      if (argument.starts_with("--"))
        return Refused("unknown option " + std::string(argument));
      continue; // Qt's
    }
    if (i + 1 >= argc)
      return Refused(std::string(argument) + " needs a value");
    const std::string_view value = argv[++i];
    if (argument == "--device") {
      options.Device = std::string(value);
      continue;
    }
    options.Port = PortNumber(value);
    if (!options.Port)
      return Refused("--port takes a port number from 1 to 255, not \"" + std::string(value) + "\"");
  }
  return options;
}

const char* TStartOptions::Usage()
{
  return "Usage: ozmet [--port N] [--device PATH] [--rs485]\n"
         "The operator console of the Ozmet motor speed controllers.\n"
         "  --port N       open port N (1 to 255) for this run; the stored port stays as it is\n"
         "  --device PATH  link PATH (a serial device, or a serial device server's tcp://HOST:PORT or\n"
         "                 rfc2217://HOST:PORT) to the port number in force and open it\n"
         "  --rs485        set the kernel's RS-485 mode (RTS on while sending) for this run, as the\n"
         "                 Port parameters checkbox does; a device without it works without it\n"
         "  --help         show this text\n"
         "  --version      show the version\n";
}

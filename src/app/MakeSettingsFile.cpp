// Writes a settings file for one port number, with the program's own key: the build puts one for
// port 1 beside the program, so a fresh build starts without the missing-folder message.
#include "serial/PortSettingsFile.h"

#include <charconv>
#include <cstdio>
#include <string_view>

int main(int argc, char** argv)
{
  std::int32_t port = 0;
  const std::string_view number = argc == 3 ? argv[2] : "";
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), port);
  if (argc != 3 || error != std::errc{} || end != number.data() + number.size()) {
    std::fprintf(stderr, "usage: %s FILE PORT-NUMBER\n", argv[0]);
    return 2;
  }
  if (!TPortSettingsFile(argv[1]).Save(port)) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}

#include "SimApp.h"
#include "SimOptions.h"

#include <cstdio>
#include <exception>
#include <string_view>
#include <vector>

int main(int argc, char** argv)
{
  const std::vector<std::string_view> arguments(argv + 1, argv + argc);
  const auto parsed = TSimOptions::ParseArguments(arguments);
  if (!parsed.Error.empty()) {
    std::fprintf(stderr, "ozmet-sim: %s\nTry 'ozmet-sim --help'.\n", parsed.Error.c_str());
    return 2;
  }
  if (parsed.Settings.Help) {
    std::fputs(TSimOptions::HelpText().c_str(), stdout);
    return 0;
  }
  if (parsed.Settings.Version) {
    std::puts("ozmet-sim " OZMET_VERSION);
    return 0;
  }
  try {
    return TSimApp(parsed.Settings).Run();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "ozmet-sim: %s\n", error.what());
    return 1;
  }
}

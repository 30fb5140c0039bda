// The window tests run the real widgets without a display.
#include "../support/SettingsAside.h"

#ifdef OZMET_IN_TESTBED
#include <vector>
#endif

#include <QApplication>

#include <gtest/gtest.h>

namespace {
#ifdef OZMET_IN_TESTBED
// The device tests run inside umockdev's test bed. Started outside it (by ctest, or to list the
// tests), the program starts itself again through umockdev-wrapper, which preloads the test bed's
// library; AddressSanitizer, which wants its own library first, is told not to mind.
void EnterTestbed(char** argv)
{
  const char* preload = std::getenv("LD_PRELOAD");
  if (preload && std::string(preload).find("umockdev") != std::string::npos)
    return;
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string options = std::string(asan ? asan : "") + (asan ? ":" : "") + "verify_asan_link_order=0";
  ::setenv("ASAN_OPTIONS", options.c_str(), 1);
  std::vector<char*> arguments{const_cast<char*>("umockdev-wrapper")};
  for (char** argument = argv; *argument; ++argument)
    arguments.push_back(*argument);
  arguments.push_back(nullptr);
  ::execvp(arguments[0], arguments.data());
  std::perror("umockdev-wrapper");
  std::exit(1);
}
#endif

// The offscreen platform reports each window feature it lacks (raise, size hints); only noise here.
void QuietOffscreen(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
  if (!message.startsWith("This plugin does not support"))
    qt_message_output(type, context, message);
}
} // namespace

int main(int argc, char** argv)
{
#ifdef OZMET_IN_TESTBED
  EnterTestbed(argv);
#endif
  KeepSettingsAside();
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(QuietOffscreen);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

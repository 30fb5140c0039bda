// The window tests run the real widgets without a display.
#include <QApplication>

#include <gtest/gtest.h>

namespace {
// The offscreen platform reports each window feature it lacks (raise, size hints); only noise here.
void QuietOffscreen(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
  if (!message.startsWith("This plugin does not support"))
    qt_message_output(type, context, message);
}
} // namespace

int main(int argc, char** argv)
{
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(QuietOffscreen);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

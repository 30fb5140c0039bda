#include "widgets/MessageBox.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

namespace {
std::function<void(const std::string&)>& Recorder()
{
  static std::function<void(const std::string&)> recorder;
  return recorder;
}

int BoxesShowing = 0;
} // namespace

bool MessageShowing()
{
  return BoxesShowing > 0;
}

void ShowMessage(const std::string& text)
{
  if (Recorder()) {
    const auto recorder = Recorder(); // a copy: what it runs may replace the recorder
    recorder(text);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), QString::fromStdString(text), QMessageBox::Ok,
                  QApplication::activeWindow());
  ++BoxesShowing;
  box.exec();
  --BoxesShowing;
}

void SetMessageRecorder(std::function<void(const std::string&)> recorder)
{
  Recorder() = std::move(recorder);
}

void SayMessagesOnStderr()
{
  SetMessageRecorder([](const std::string& text) { std::fprintf(stderr, "ozmet: %s\n", text.c_str()); });
}

#pragma once

#include "SimLine.h"
#include "TempDir.h"
#include "console/Form1.h"

#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The real window under the offscreen platform on a data folder of its own, every message box
// recorded instead of shown, and the operator's hands: type, click, read.
class WindowTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the window on the data folder as it stands.
  void StartWindow();
  template <class T = QWidget>
  T* Find(const char* name) const
  {
    T* widget = Form->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  void Type(const char* edit, const std::string& text);
  void Click(const char* button);
  // Clicks a radio item on its circle: a click beside a short caption would miss the button.
  static void ClickChoice(QRadioButton* item);
  std::string Label(const char* name) const;
  std::vector<std::string> LogLines() const;
  // Each line of the log as the widget shows it: its text, colour and weight.
  struct TLogLook {
    std::string Text;
    QColor Colour;
    bool Bold;
  };
  std::vector<TLogLook> LogLooks() const;
  std::vector<std::string> MemoLines() const;
  // Runs the event loop, timers included, until ready() holds or the time is up.
  bool WaitFor(const std::function<bool()>& ready, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  bool PollTimerActive() const;
  // The first line of each message box: its text without the reason beneath.
  std::vector<std::string> MessageHeads() const;
  // The speed line reads unknown and the live-status labels are greyed.
  bool StatusShownUnknown() const;
  // The label's whole text within its width, as a label of its own would lay it out.
  static bool WholeTextShows(const QLabel* label);

  TTempDir Data;
  std::vector<std::string> Messages;
  std::unique_ptr<TForm1> Form;
};

// The operator's story against a simulated controller at address 0 in this process, its line
// linked as COM1 and chosen in the settings file.
class ConsoleTest : public WindowTest {
protected:
  void SetUp() override;
  // The frames the simulated controller received, oldest first.
  std::vector<std::vector<std::uint8_t>> FramesSeen() const;

  TSimLine Sim{{0}};
};

#pragma once

#include "ExtrasFixture.h"
#include "console/FormSequence.h"
#include "console/SequenceSteps.h"
#include "records/RecordsStore.h"

#include <QApplication>
#include <QLineEdit>
#include <QTreeWidgetItem>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

// The window's test sequences against the simulated controller: a sequence file and the fixtures.

using namespace std::chrono_literals;

// Up to speed, held and checked, stopped: a few seconds with the hold's default.
inline std::string QuickSequence(const char* holdSeconds = "1.5", const char* controllers = "0")
{
  return std::string("name: Quick\ncontrollers: ") + controllers +
         "\nmotor: {encoder: 2, max-speed: 3000, ratio: 1}\nsteps:\n"
         "  - run: {speed: 600, acceleration: 20, deceleration: 20, checks: [reach: {within: 2}]}\n"
         "  - hold: {seconds: " +
         holdSeconds +
         ", checks: [speed: {tolerance: 3%, settle: 0.3, name: held speed}]}\n"
         "  - stop: {checks: [standstill: {within: 2}]}\n";
}

// Records go to a folder of the test's own.
class SequenceTest : public ExtrasTest {
protected:
  void SetUp() override
  {
    ::setenv("XDG_DATA_HOME", DataHome.Path().c_str(), 1);
    ExtrasTest::SetUp();
  }
  void TearDown() override
  {
    ExtrasTest::TearDown();
    ::setenv("XDG_DATA_HOME", DataHomeBefore.c_str(), 1);
  }
  std::filesystem::path Records() const { return DataHome.Path() + "/ozmet/records"; }
  // The verdicts of a unit's runs in the records store, oldest first.
  std::vector<std::string> StoredVerdicts(const std::string& serial) const
  {
    std::vector<std::string> verdicts;
    for (const TUnitRun& run : TRecordsStore(DataHome.Path() + "/ozmet/records.sqlite").History(serial))
      verdicts.push_back(run.Verdict);
    return verdicts;
  }
  std::size_t RecordsEndingIn(const char* extension) const
  {
    std::size_t count = 0;
    if (std::filesystem::exists(Records()))
      for (const auto& file : std::filesystem::directory_iterator(Records()))
        count += file.path().extension() == extension;
    return count;
  }
  // A row of the steps that reads `text` and shows `shown` in that column.
  bool StepsShow(const char* text, TSequenceSteps::TColumn column, const char* shown) const
  {
    const auto* steps = SequencePanel().findChild<TSequenceSteps*>("TreeSequenceSteps");
    for (const QTreeWidgetItem* item : steps->findItems(text, Qt::MatchContains | Qt::MatchRecursive))
      if (item->text(column).contains(shown))
        return true;
    return false;
  }
  bool Logged(const std::string& text) const
  {
    for (const std::string& line : LogLines())
      if (line.find(text) != std::string::npos)
        return true;
    return false;
  }
  // A Stop reached the controller after the last Run it got.
  bool StoppedAfterRun() const
  {
    const auto frames = FramesSeen();
    const auto run = std::find_if(frames.rbegin(), frames.rend(), [](const auto& f) { return f.at(2) == RunCode; });
    return run != frames.rend() &&
           std::any_of(frames.rbegin(), run, [](const auto& f) { return f.at(2) == StopCode; });
  }

  // The panel's serial field of the sequence's `field`-th controller; none past its last.
  QLineEdit* SerialField(std::size_t field) const
  {
    return SequencePanel().findChild<QLineEdit*>(TFormSequence::SerialFieldName(field));
  }
  // The caption the panel puts beside a field.
  std::string CaptionOf(const QWidget* field) const
  {
    for (const QLabel* label : SequencePanel().findChildren<QLabel*>())
      if (label->buddy() == field)
        return label->text().toStdString();
    return {};
  }

  TTempDir DataHome;
  const std::string DataHomeBefore = std::getenv("XDG_DATA_HOME");
};

// Two controllers, $01 and $02, on a line of their own that the window's port is on: each drives a
// unit of its own.
class SequenceOnBus : public SequenceTest {
protected:
  void SetUp() override
  {
    SequenceTest::SetUp();
    Bus.Open();
    Data.Link("COM2", Bus.DevicePath());
    Form->BtnClosePortClick();
    Form->ComPort->SetPortNumber(2);
    Form->BtnOpenPortClick();
    ASSERT_TRUE(Form->ComPort->IsOpen());
  }
  // As a barcode scanner types: into whichever field has the focus, Enter at the end.
  static void Scan(const char* serial)
  {
    QWidget* focused = QApplication::focusWidget();
    ASSERT_NE(focused, nullptr);
    QTest::keyClicks(focused, serial);
    QTest::keyClick(focused, Qt::Key_Return);
  }
  std::string EndLine() const
  {
    for (const std::string& line : LogLines())
      if (line.starts_with("Sequence Quick ended: "))
        return line;
    return {};
  }

  std::string ChosenReportText() const
  {
    std::ifstream report(Extras().Sequence().ChosenReport().toStdString());
    return {std::istreambuf_iterator<char>(report), {}};
  }

  TSimLine Bus{{1, 2}};
};


#pragma once

// The bus view in the real window against four simulated controllers on one line: $02 slow, $04 silent.
#include "ExtrasFixture.h"
#include "console/BusPoller.h"
#include "console/FormBus.h"
#include "console/FormSpeedChart.h"

#include <QChartView>
#include <QCheckBox>
#include <QTableWidget>
#include <QXYSeries>

#include <chrono>
#include <map>

class BusViewTest : public ExtrasTest {
protected:
  void SetUp() override
  {
    ExtrasTest::SetUp();
    Bus.Open();
    ASSERT_TRUE(Bus.SetControllerFaults(2, {.DelayMs = 100}));
    ASSERT_TRUE(Bus.SetControllerFaults(4, {.Silent = true}));
    Data.Link("COM2", Bus.DevicePath());
    Form->BtnClosePortClick();
    Form->ComPort->SetPortNumber(2);
    Form->BtnOpenPortClick();
    ASSERT_TRUE(Form->ComPort->IsOpen());
    Extras().MmBusViewClick();
    View().findChild<QLineEdit*>("EditBusAddresses")->setText("1-4");
    QTest::mouseClick(View().findChild<QPushButton*>("BtnBusAdd"), Qt::LeftButton);
  }

  TFormBus& View() const { return Extras().BusView(); }
  QTableWidget* Grid() const { return View().findChild<QTableWidget*>("GridBus"); }
  QString Cell(int row, int column) const
  {
    const QTableWidgetItem* item = Grid()->item(row, column);
    return item ? item->text() : QString();
  }
  // Each row's text in that column, top to bottom.
  std::vector<QString> Column(int column) const
  {
    std::vector<QString> texts;
    for (int row = 0; row < Grid()->rowCount(); ++row)
      texts.push_back(Cell(row, column));
    return texts;
  }
  // Greyed as a value that is not live: the row's speed in the palette's disabled text colour.
  bool Greyed(int row) const
  {
    return Grid()->item(row, TFormBus::ColSpeed)->foreground().color() ==
           View().palette().color(QPalette::Disabled, QPalette::Text);
  }
  bool Live(int row) const { return !Greyed(row) && !Cell(row, TFormBus::ColSpeed).contains(" at "); }
  // A click on the row's address cell; with Ctrl the row joins those selected.
  void ClickRow(int row, Qt::KeyboardModifiers modifiers = {}) const
  {
    const QRect cell = Grid()->visualItemRect(Grid()->item(row, TFormBus::ColAddress));
    QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, modifiers, cell.center());
  }
  // Status requests to each address and the Stops each got, from the traffic's `from`-th frame on.
  std::map<std::uint8_t, std::pair<int, int>> Asked(std::size_t from = 0) const
  {
    std::map<std::uint8_t, std::pair<int, int>> asked;
    std::size_t index = 0;
    for (const TSimTraffic& t : Bus.Traffic())
      if (t.Direction == TSimTraffic::TDirection::Received && index++ >= from && t.Bytes.size() > 2)
        (t.Bytes[2] == StatusCode ? asked[t.Bytes[1]].first : asked[t.Bytes[1]].second) += t.Bytes[2] != 0x51;
    return asked;
  }
  // The speed of the last status answer that `address` sent, as the row would show it.
  QString LastAnswerSpeed(std::uint8_t address) const
  {
    QString speed;
    bool asked = false;
    for (const TSimTraffic& t : Bus.Traffic()) {
      if (t.Direction == TSimTraffic::TDirection::Received)
        asked = t.Bytes.size() == 4 && t.Bytes[1] == address;
      else if (asked && t.Direction == TSimTraffic::TDirection::Sent && t.Bytes.size() == 5)
        speed = QString::number(t.Bytes[3] * 60.0, 'f', 0) + " rpm";
    }
    return speed;
  }

  // The speed chart's lines named `name`, a point count each, and the newest point's speed as a row shows it.
  std::pair<std::vector<qsizetype>, QString> ChartLine(const QString& name) const
  {
    std::pair<std::vector<qsizetype>, QString> line;
    for (QAbstractSeries* series : Extras().SpeedChart().findChild<QChartView*>("ChartSpeed")->chart()->series()) {
      const auto* xy = static_cast<QXYSeries*>(series);
      if (xy->name() != name)
        continue;
      line.first.push_back(xy->count());
      if (xy->count())
        line.second = QString::number(xy->at(xy->count() - 1).y(), 'f', 0) + " rpm";
    }
    return line;
  }

  // What the window does, for a failure's message.
  std::string State() const
  {
    std::string text = "polling " + std::to_string(Extras().BusPoller().Polling()) + ", listed " +
                       std::to_string(Extras().BusPoller().List().Size()) + ", exchange " + std::to_string(!Idle()) +
                       "\n";
    for (const std::string& line : LogLines())
      text += line + "\n";
    return text;
  }

  TSimLine Bus{{1, 2, 3, 4}};
};

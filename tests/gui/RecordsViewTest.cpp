// View > Records on a store of its own: searching as a quality engineer does (a scanned serial, a station,
// a verdict, days), a run's report opened, a sequence's yield and checks drawn, a store that cannot be read.
#include "LoopbackPeer.h"
#include "TempDir.h"
#include "UnitRuns.h"
#include "console/CheckChart.h"
#include "console/FormRecords.h"
#include "console/YieldChart.h"
#include "files/WholeFile.h"

#include <QAreaSeries>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>

#include <sys/stat.h>

namespace {

using namespace std::chrono_literals;

const std::string Hostile = "'; DROP TABLE runs; --";

// Five runs of four units over two days; the held speeds 112 (the failed one), 101, 99, 100, 100.
const TUnitRunCase Runs[] = {
    {"SN-1", TVerdict::Fail, 112, 1},           {"SN-1", TVerdict::Pass, 101, 2},
    {"SN-2", TVerdict::Pass, 99, 3, "bench-2"}, {"SN-3", TVerdict::Aborted, 100, 26},
    {Hostile, TVerdict::Pass, 100, 27},
};

class RecordsView : public testing::Test {
protected:
  void SetUp() override
  {
    TRecordsStore store(Store);
    for (int n = 0; n < static_cast<int>(std::size(Runs)); ++n)
      store.Store({UnitRecord(Runs[n], n, Record(n, ".json"))}, "5.1.e", "operator");
    ASSERT_FALSE(WriteWholeFile(Record(2, ".html"), "<html></html>")); // SN-2's report; the others have none
  }
  std::string Record(int n, const char* extension) const { return Dir.Path() + "/" + std::to_string(n) + extension; }

  template <class T>
  T* Find(const char* name) const
  {
    T* widget = View.findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QString Status() const { return Find<QLabel>("LabelRecordsStatus")->text(); }
  static bool WaitFor(const std::function<bool()>& ready, std::chrono::milliseconds timeout = 10s)
  {
    return QTest::qWaitFor(ready, static_cast<int>(timeout.count()));
  }
  bool Searched() const { return Status().endsWith(QString::fromStdString(" in " + Store)); }
  std::vector<std::string> Units() const
  {
    std::vector<std::string> units;
    const auto* table = Find<QTableWidget>("TableRecords");
    for (int row = 0; row < table->rowCount(); ++row)
      units.push_back(table->item(row, TFormRecords::ColUnit)->text().toStdString());
    return units;
  }
  // Types the serial and Enter, as a scanner does.
  void Scan(const std::string& serial)
  {
    auto* unit = Find<QLineEdit>("EditRecordsUnit");
    unit->selectAll();
    if (serial.empty())
      QTest::keyClick(unit, Qt::Key_Delete);
    QTest::keyClicks(unit, QString::fromStdString(serial));
    QTest::keyClick(unit, Qt::Key_Return);
  }
  void ChooseSequence(const char* name)
  {
    auto* sequence = Find<QComboBox>("ComboRecordsSequence");
    sequence->setEditText(name);
    QTest::keyClick(sequence->lineEdit(), Qt::Key_Return);
  }

  TTempDir Dir;
  const std::string Store = Dir.Path() + "/records.sqlite";
  std::string Asked = Store;
  TFormRecords View{[this] { return Asked; }, nullptr};
};

// Each field narrows the runs, newest first; a serial that is SQL is searched as a serial, and the store stays.
TEST_F(RecordsView, EachFieldNarrowsTheRuns)
{
  const struct {
    const char* Name;
    std::string Unit, Station, Sequence;
    int Verdict; // in the verdict box: 0 any, 1 PASS, 2 FAIL, 3 ABORTED
    QDate Since, Until;
    std::vector<std::string> Units;
  } cases[] = {
      {"every run", "", "", "", 0, {}, {}, {Hostile, "SN-3", "SN-2", "SN-1", "SN-1"}},
      {"a unit, by a scanner's Enter", "SN-1", "", "", 0, {}, {}, {"SN-1", "SN-1"}},
      {"a serial that is SQL", Hostile, "", "", 0, {}, {}, {Hostile}},
      {"a station", "", "bench-2", "", 0, {}, {}, {"SN-2"}},
      {"a verdict", "", "", "", 2, {}, {}, {"SN-1"}},
      {"from a day", "", "", "", 0, {2026, 12, 10}, {}, {Hostile, "SN-3"}},
      {"until a day", "", "", "", 0, {}, {2026, 12, 9}, {"SN-2", "SN-1", "SN-1"}},
      {"a sequence", "", "", "eol", 1, {}, {2026, 12, 9}, {"SN-2", "SN-1"}},
      {"a sequence never run", "", "", "other", 0, {}, {}, {}},
  };
  View.show();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Find<QLineEdit>("EditRecordsStation")->setText(QString::fromStdString(c.Station));
    Find<QComboBox>("ComboRecordsSequence")->setEditText(QString::fromStdString(c.Sequence));
    Find<QComboBox>("ComboRecordsVerdict")->setCurrentIndex(c.Verdict);
    for (const auto& [name, date] : {std::pair{"Since", c.Since}, std::pair{"Until", c.Until}}) {
      Find<QCheckBox>((std::string("CbRecords") + name).c_str())->setChecked(date.isValid());
      if (date.isValid())
        Find<QDateEdit>((std::string("DateRecords") + name).c_str())->setDate(date);
    }
    Scan(c.Unit);
    ASSERT_TRUE(WaitFor([&] { return Searched() && Units() == c.Units; })) << Status().toStdString();
  }
  EXPECT_EQ(TRecordsStore(Store).List({}).size(), std::size(Runs));
  EXPECT_EQ(Find<QComboBox>("ComboRecordsSequence")->count(), 1) << "the store's one sequence offered";
  EXPECT_TRUE(Find<QLineEdit>("EditRecordsUnit")->selectedText().isEmpty()) << "the last scan was of nothing";
}

// A report that is not there is said; a double-click opens the run's report through the desktop's opener (last:
// under ThreadSanitizer no thread may start after the opener's fork).
TEST_F(RecordsView, ADoubleClickOpensTheRunsReport)
{
  View.show();
  Scan("SN-3");
  ASSERT_TRUE(WaitFor([&] { return Searched() && Units() == std::vector<std::string>{"SN-3"}; }));
  View.OpenReport(0);
  EXPECT_EQ(Status(), QString::fromStdString("Report not opened: there is no such file; it was " + Record(3, ".html")));

  TTempDir bin;
  const std::string opened = bin.Path() + "/opened";
  std::ofstream(bin.Path() + "/xdg-open") << "#!/bin/sh\necho \"$1\" > " << opened << "\n";
  ::chmod((bin.Path() + "/xdg-open").c_str(), 0755);
  Scan("SN-2");
  ASSERT_TRUE(WaitFor([&] { return Searched() && Units() == std::vector<std::string>{"SN-2"}; }));
  auto* table = Find<QTableWidget>("TableRecords");
  const QRect cell = table->visualItemRect(table->item(0, TFormRecords::ColUnit));
  const std::string pathBefore = std::getenv("PATH");
  ::setenv("PATH", (bin.Path() + ":" + pathBefore).c_str(), 1);
  // A double-click is a press and release, then the second press: the view acts on the row pressed first.
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
  const auto openedFile = [&] {
    std::ifstream file(opened);
    return std::string(std::istreambuf_iterator<char>(file), {});
  };
  const bool wasOpened = WaitFor([&] { return openedFile() == Record(2, ".html") + "\n"; });
  ::setenv("PATH", pathBefore.c_str(), 1);
  EXPECT_TRUE(wasOpened) << openedFile() << Status().toStdString();
}

// For a chosen sequence: the first-pass and final yield of each day's units, and a check's values against its
// limits with the figures worked by hand (mean 102.4, sd sqrt(117.2 / 4), Cpk (105 - 102.4) / 3 sd).
TEST_F(RecordsView, ASequencesYieldAndChecksAreDrawn)
{
  View.show();
  const auto* yield = Find<TYieldChart>("ChartRecordsYield");
  ASSERT_TRUE(WaitFor([&] { return Searched(); }));
  EXPECT_TRUE(yield->chart()->series().isEmpty()) << "no sequence chosen";
  ChooseSequence("eol");
  ASSERT_TRUE(WaitFor([&] { return !yield->chart()->series().isEmpty(); }));
  const auto* bars = static_cast<QBarSeries*>(yield->chart()->series().front());
  ASSERT_EQ(bars->count(), 2);
  const QBarSet* first = bars->barSets()[0];
  const QBarSet* final = bars->barSets()[1];
  EXPECT_EQ(first->label(), TYieldChart::FirstPassName);
  ASSERT_EQ(first->count(), 2);
  EXPECT_DOUBLE_EQ(first->at(0), 50) << "SN-1 failed first";
  EXPECT_DOUBLE_EQ(final->at(0), 100) << "SN-1 passed at its retest";
  EXPECT_DOUBLE_EQ(first->at(1), 50) << "SN-3 aborted";
  EXPECT_DOUBLE_EQ(final->at(1), 50);
  auto* days = static_cast<QBarCategoryAxis*>(yield->chart()->axes(Qt::Horizontal).front());
  EXPECT_EQ(days->categories(), (QStringList{"2026-12-09 (2)", "2026-12-10 (2)"}));

  const auto* words = Find<QLabel>("LabelRecordsCheck");
  ASSERT_TRUE(WaitFor([&] { return !words->text().isEmpty(); }));
  EXPECT_EQ(Find<QComboBox>("ComboRecordsCheck")->itemText(0), "held speed (95..105 rpm)");
  EXPECT_EQ(words->text(), "n 5, mean 102.4 rpm, sd 5.413, min 99, max 112, limits 95..105: Cpk 0.1601");
  std::map<QString, QList<QPointF>> series;
  for (QAbstractSeries* s : Find<QChartView>("ChartRecordsCheck")->chart()->series())
    series[s->name()] = s->type() == QAbstractSeries::SeriesTypeArea
                            ? static_cast<QAreaSeries*>(s)->upperSeries()->points()
                            : static_cast<QLineSeries*>(s)->points();
  EXPECT_EQ(series[TCheckChart::LowName].front().x(), 95);
  EXPECT_EQ(series[TCheckChart::HighName].front().x(), 105);
  EXPECT_DOUBLE_EQ(series[TCheckChart::MeanName].front().x(), 102.4);
  double counted = 0; // each bin is drawn as two points at its height
  for (const QPointF& point : series[TCheckChart::ValuesName])
    counted += point.y() / 2;
  EXPECT_DOUBLE_EQ(counted, 5);

  Find<QComboBox>("ComboRecordsCheck")->setCurrentIndex(1);
  EXPECT_TRUE(WaitFor([&] { return words->text().startsWith("n 5, mean 0 answers, sd 0"); }))
      << words->text().toStdString();
  EXPECT_TRUE(words->text().endsWith("limits ..2: Cpk cannot be computed")) << words->text().toStdString();
}

// A store that cannot be read is said in the window, which never waits for it: a server that never answers,
// one that sends garbage, a file that cannot be made.
TEST_F(RecordsView, AStoreThatCannotBeReadIsSaidAndNeverWaitedFor)
{
  const TLoopbackPeer silent(TLoopbackPeer::TKind::Silent);
  const TLoopbackPeer flood(TLoopbackPeer::TKind::Flood);
  const std::string stores[] = {
      "postgresql://127.0.0.1:" + std::to_string(silent.PortNumber()) + "/records",
      "postgresql://127.0.0.1:" + std::to_string(flood.PortNumber()) + "/records",
      "/proc/no-such-folder/records.sqlite",
  };
  View.show();
  ASSERT_TRUE(WaitFor([&] { return Searched(); }));
  for (const std::string& store : stores) {
    SCOPED_TRACE(store);
    Asked = store;
    View.Search();
    EXPECT_EQ(Status(), QString::fromStdString("Searching " + store + "...")) << "the search has not waited";
    ASSERT_TRUE(WaitFor(
        [&] {
          return Status().startsWith(QString::fromStdString("The records store " + store + " could not be read: "));
        },
        30s))
        << Status().toStdString();
    EXPECT_TRUE(Units().empty());
  }
}

} // namespace

#pragma once

#include "records/RecordsStore.h"

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QTableWidget;
class QTabWidget;
class TCheckChart;
class TRecordsQuery;
class TReportOpener;
class TYieldChart;

// View > Records: the runs in the records store that the fields ask for (a unit's serial, which a
// scanner's Enter searches at once, a sequence, a station, a verdict, days), newest first; a run's
// report opened by a double-click or Enter. For a chosen sequence, its yield per day and each check's
// values against their limits. The store is asked on a thread of its own: a server that is slow or
// gone is said in the window, never waited for.
class TFormRecords : public QWidget {
  Q_OBJECT
public:
  enum TColumn { ColStart, ColUnit, ColVerdict, ColSequence, ColStation, ColAddress, ColOperator, ColWhy, ColumnCount };
  // More would take the window seconds to draw; the search then says so.
  static constexpr std::int64_t RowsShownMax = 1000;
  static constexpr const char* AnyVerdict = "any verdict";

  // store: the name of the store the window's runs go into, asked at each search.
  TFormRecords(std::function<std::string()> store, QWidget* parent);

  // The runs the fields ask for; with a sequence chosen, its yield and checks too.
  void Search();
  // The report beside the record of the table's row.
  void OpenReport(int row);
  // The runs shown, in the table's order.
  const std::vector<TUnitRun>& Runs() const { return Shown; }

protected:
  void showEvent(QShowEvent* event) override;

private:
  void BuildWindow();
  QLayout* BuildFilters();
  TRunFilter Filter() const;
  void ShowRuns(const std::vector<TUnitRun>& runs, const std::string& failure);
  void AskSequence(const std::string& store, const std::string& sequence);
  void AskCheck(int index);
  void FillSequences(const std::vector<std::string>& sequences);
  void Say(const QString& text, bool trouble);

  std::function<std::string()> StoreName;
  std::string Asked; // the store of the last search
  QLineEdit* EditUnit = nullptr;
  QComboBox* ComboSequence = nullptr;
  QLineEdit* EditStation = nullptr;
  QComboBox* ComboVerdict = nullptr;
  QCheckBox* CbSince = nullptr;
  QCheckBox* CbUntil = nullptr;
  QDateEdit* DateSince = nullptr;
  QDateEdit* DateUntil = nullptr;
  QTabWidget* Tabs = nullptr;
  QTableWidget* Table = nullptr;
  TYieldChart* YieldChart = nullptr;
  TCheckChart* CheckChart = nullptr;
  QLabel* Status = nullptr;
  TRecordsQuery* RunsQuery = nullptr;
  TRecordsQuery* SequenceQuery = nullptr;
  TRecordsQuery* CheckQuery = nullptr;
  TReportOpener* Opener = nullptr;
  std::vector<TUnitRun> Shown;
};

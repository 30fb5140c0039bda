#pragma once

#include <QWidget>

#include <cstdint>
#include <set>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QTableWidget;
class QTimer;
class TBusChartLines;
class TBusPoller;
class TForm1;

// View > Bus: the controllers of this line, one row each, with the operator's label, the live state
// as the operation panel shows it, when each last answered and its own link counters. Rows are
// added from the bus scan, typed (an address or a range) or removed; selecting one makes it the
// panel's controller. While shown and "Poll in turn" is ticked, the poll visits each in turn. Those
// ticked in the "Chart" column get a line of their own on the speed chart.
class TFormBus : public QWidget {
  Q_OBJECT
public:
  enum TColumn { ColAddress, ColLabel, ColSpeed, ColDirection, ColMotorRevs, ColGearedRevs, ColFeedback, ColLast,
                 ColAnswers, ColMissing, ColBadChecksums, ColChart, ColumnCount };

  TFormBus(TForm1& form, TBusPoller& poller, TBusChartLines& chartLines);

  // Adds these addresses at the end (those listed already stay where they are) and keeps the list.
  void AddAddresses(const std::vector<std::uint8_t>& addresses);
  void BtnBusAddClick();
  void BtnBusRemoveClick();
  void Refresh();
  // A controller's row is redrawn within a quarter of a second of its answer: eight controllers
  // answer sixteen times a second, more than the eye follows.
  void RowChanged(std::uint8_t address);

protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

private:
  void BuildWindow();
  void FillRow(int row);
  void CellEdited(int row, int column);
  void RowChosen();
  void Keep();
  void UpdatePolling();

  TForm1& Form;
  TBusPoller& Poller;
  TBusChartLines& ChartLines; // also where the "Chart" ticks are kept, for as long as the program runs
  QTableWidget* GridBus = nullptr;
  QLineEdit* EditBusAddresses = nullptr;
  QCheckBox* CbBusPoll = nullptr;
  QLabel* LblBusFile = nullptr;
  void RefreshRows();
  QTimer* TimerBusRedraw = nullptr;
  std::set<std::uint8_t> StaleRows; // addresses whose rows wait for the redraw
  bool Filling = false; // rows rewritten by us, not edited by the operator
};

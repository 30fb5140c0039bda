#pragma once

#include "sequence/SequenceResult.h"

#include <QPointer>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QTableWidget;
class QTimer;
class TBusChartLines;
class TBusController;
class TBusPoller;
class TForm1;

// View > Bus: the controllers of this line, one row each, with the operator's label, the live state
// as the operation panel shows it, when each last answered and its own link counters. Rows are
// added from the bus scan, typed (an address or a range) or removed; selecting one makes it the
// panel's controller. While shown and "Poll in turn" is ticked, the poll visits each in turn. Those
// ticked in the "Chart" column get a line of their own on the speed chart. A row is shown live only
// while it answers the poll; otherwise greyed, with its last answer's time or the reason it waits.
class TFormBus : public QWidget {
  Q_OBJECT
public:
  enum TColumn { ColAddress, ColLabel, ColSpeed, ColDirection, ColMotorRevs, ColGearedRevs, ColFeedback, ColLast,
                 ColAnswers, ColMissing, ColBadChecksums, ColChart, ColumnCount };
  static constexpr const char* PausedText = "paused: test sequence running";
  // A label wider than the room the other columns leave is elided to no less than this (whole in its tooltip).
  static constexpr int LabelWidthMin = 60;
  // How often the view looks whether the line is still polled and which controller the panel drives.
  static constexpr int LineCheckMs = 250;

  TFormBus(TForm1& form, TBusPoller& poller, TBusChartLines& chartLines);

  // Adds these addresses at the end (those listed already stay where they are) and keeps the list.
  void AddAddresses(const std::vector<std::uint8_t>& addresses);
  void BtnBusAddClick();
  void BtnBusRemoveClick();
  void Refresh();
  // A controller's row is redrawn within a quarter of a second of its answer: eight controllers
  // answer sixteen times a second, more than the eye follows.
  void RowChanged(std::uint8_t address);
  // The address the panel's row is marked for (the one in force).
  std::uint8_t MarkedAddress() const { return PanelAddress; }
  // A test sequence's status of one of its controllers: while the run has the line, its row shows the run's
  // own answers, live, and the other rows say they are paused.
  void SequenceSampled(const TSample& sample);

protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  // Whether the rows' values can be live: the poll asks them, a test sequence holds the line, or
  // nobody asks (port closed, poll off, view hidden).
  enum class TLineState { Asked, Paused, Idle };

  void BuildWindow();
  void FillRow(int row);
  void CellEdited(int row, int column);
  void RowChosen();
  void Keep();
  void UpdatePolling();
  void RefreshRows();
  void CheckLine();
  TLineState LineNow() const;
  bool Live(const TBusController& controller) const;
  void WatchLabelEditor(QWidget* editor);
  void FitColumns();

  TForm1& Form;
  TBusPoller& Poller;
  TBusChartLines& ChartLines; // also where the "Chart" ticks are kept, for as long as the program runs
  QTableWidget* GridBus = nullptr;
  QLineEdit* EditBusAddresses = nullptr;
  QCheckBox* CbBusPoll = nullptr;
  QLabel* LblBusFile = nullptr;
  QTimer* TimerBusRedraw = nullptr;
  QTimer* TimerBusLine = nullptr;
  std::set<std::uint8_t> StaleRows; // addresses whose rows wait for the redraw
  std::map<std::uint8_t, TSample> RunSamples; // the run's last answer of each of its controllers, while it runs
  std::set<int> ColumnsChanged;     // columns whose texts changed since they were last fitted
  bool Filling = false;             // rows rewritten by us, not edited by the operator
  TLineState Line = TLineState::Idle;
  // Answers from before the poll last took the line up are not live: they may be a run's age old.
  std::chrono::system_clock::time_point AskedSince{};
  std::uint8_t PanelAddress = 0;
  QPointer<QWidget> LabelEditor; // the label being edited, whose Esc only ends the edit
};

#pragma once

#include "sequence/Sequence.h"
#include "sequence/SequenceResult.h"

#include <QTime>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class QFormLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class TSequenceSteps;

// Sequence > Run sequence: the sequence opened, the controllers it tests (the file's, or a list typed over
// them), a unit serial per controller that a barcode scanner types (its Enter goes on to the next
// controller's, the last one's starts the run; every unit needs its serial), the steps with
// the one under way and its time left, each check as it is decided, and each controller's verdict,
// large, until the next run; a click on a verdict chooses the report to open. Esc aborts a run (the
// operator's extras watch the keys); the panel only shows and asks.
class TFormSequence : public QWidget {
  Q_OBJECT
public:
  using TClock = std::chrono::steady_clock;
  // The time left is shown again this often: more than the eye needs, little for the window.
  static constexpr std::chrono::milliseconds TickInterval{250};

  explicit TFormSequence(QWidget* parent);

  static constexpr const char* ControllersTip = "The controllers to test: 1-4, $05, 0x06; the file's by default";

  void ShowSequence(const TSequence& sequence);
  void SetRunning(bool running);
  // A word beside the buttons that needs no click (a box would take the Esc that aborts a run).
  void Say(const QString& text);
  void SetReportAvailable(bool available);
  // "$01 unit SN-7", "$01 no serial": a controller and the unit it drives, as the panel and the log say it.
  static std::string UnitText(std::uint8_t address, const std::string& serial);
  // "$01 unit SN-7 FAIL: speed: 312 rpm at 4.5 s is outside 285..315".
  static std::string VerdictLine(const TControllerResult& controller, const TRunResult& run);
  // "EditUnitSerial" for the first controller's field, "EditUnitSerial2" for the second, ...
  static QString SerialFieldName(std::size_t field);
  // Each controller's serial as typed or scanned, trimmed; an empty one is no serial.
  TUnitSerials Serials() const;
  // The controller whose verdict was clicked since the last run ended, else the first: its unit's
  // report is the one to open.
  std::uint8_t ChosenUnit() const { return Chosen; }

  // The run's events, on the window's thread.
  void RunBegun(const TRunResult& run);
  void StepBegun(const std::string& path, const std::string& text, TClock::time_point planned, double seconds);
  void Sample(const TSample& sample);
  void CheckDecided(std::uint8_t address, const std::string& path, const TCheckResult& check);
  void StepEnded(std::uint8_t address, const TStepResult& step);
  void RunEnded(const TRunResult& run);

signals:
  void RunAsked(const TUnitSerials& units);
  // The controllers typed over the file's, read and valid.
  void ControllersChosen(const std::vector<std::uint8_t>& addresses);
  // A status the run asked, as it came: the bus view shows it for the run's controllers.
  void Sampled(const TSample& sample);
  void AbortAsked();
  void ReportAsked();

private:
  void BuildWindow();
  void BuildSerialFields(const std::vector<std::uint8_t>& addresses);
  void ControllersEdited();
  // Run, once every unit has its serial; otherwise the first without one is said and waits for its scan.
  void AskRun();
  void SerialEntered(std::size_t field);
  void FocusSerial(std::size_t field);
  bool eventFilter(QObject* watched, QEvent* event) override;
  void Choose(std::uint8_t address);
  void ShowVerdicts(const TRunResult& run);
  void ClearVerdicts();

  TSequence Shown; // its steps are laid out again at each run
  QLabel* LblSequenceName = nullptr;
  QLabel* LblSequenceFile = nullptr;
  QLabel* LblSequenceLive = nullptr;
  QLabel* LblSequenceNote = nullptr;
  QLineEdit* EditControllers = nullptr;
  QFormLayout* Fields = nullptr;
  std::vector<QLineEdit*> SerialFields; // one a controller, in the file's order
  QPushButton* BtnSequenceRun = nullptr;
  QPushButton* BtnSequenceAbort = nullptr;
  QPushButton* BtnSequenceReport = nullptr;
  TSequenceSteps* Steps = nullptr;
  QHBoxLayout* Verdicts = nullptr;
  QTimer* TimerSequenceTick = nullptr;
  // Each controller's last status as the run asked it, and when it came: once the run has ended, what is
  // shown is that time's, greyed.
  std::map<std::uint8_t, std::pair<QString, QTime>> Live;
  void ShowLive(bool ended);
  std::map<std::uint8_t, QLabel*> VerdictLabels;
  std::uint8_t Chosen = 0;
};

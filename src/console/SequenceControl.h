#pragma once

#include "console/SequencePanelFeed.h"
#include "console/SequenceRun.h"
#include "sequence/Sequence.h"
#include "sequence/SequenceResult.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

class TForm1;
class TFormSequence;
class TMqttPublisher;
class TReportOpener;

// The Sequence menu's side of the window: the sequence opened, its panel, and its run, which has
// the line while it goes: the window's port is closed for it (its poll stops), and opened again
// after it as it was. Every way out of the window aborts a run and waits for it, so that its runner
// stops every controller of the sequence first.
class TSequenceControl : public QObject {
  Q_OBJECT
public:
  static constexpr const char* BottomLineText = "Test sequence running: the line is the sequence's until it ends";
  // What the window's commands and the port buttons say while a sequence has the line.
  static constexpr const char* RunningText = "A test sequence is running: abort it first (Esc).";
  static constexpr const char* NoSequenceText = "Open a sequence first (Sequence > Open sequence...).";

  explicit TSequenceControl(TForm1& form);
  ~TSequenceControl() override;

  TFormSequence& Panel() const { return *Window; }
  bool Running() const { return Run != nullptr; }
  // A refused file is said with its file, line and column; the sequence opened before stays.
  bool Open(const std::string& path);
  void ShowPanel();
  void Start(const TUnitSerials& units);
  // Cuts the run short; it ends, its controllers stopped, in its own time.
  void Abort(const std::string& reason);
  // Aborts the run and waits for it: its thread never waits for the window, so this cannot hang.
  // The log's line of the run's end, empty when none was going.
  std::string EndRun(const std::string& reason, bool reopenPort);
  // The report of the unit chosen in the panel's verdicts (the first until another is clicked);
  // empty when it has none.
  QString ChosenReport() const;
  void OpenReport();
  // The records store the next runs go into: a file or a postgresql:// URL, empty for OZMET_STORE or the
  // user's file. A URL holding a password is refused (said in a box): it would be kept in the settings.
  // said: the choice is told in the log (not when the window takes it from its settings).
  bool SetStore(const std::string& name, bool said = true);
  const std::string& ChosenStore() const { return Store; }
  std::string StoreName() const;
  // The plant's publisher that the next runs tell, none when off; it must outlive a run under way.
  void SetTelemetry(TMqttPublisher* publisher) { Telemetry = publisher; }

signals:
  // The last run left a report to open.
  void ReportAvailable(bool available);

private:
  std::optional<TSequenceRun::TRecords> MadeRecords();
  template <class T, class... TArgs>
  std::unique_ptr<T> MadeOrSaid(TArgs&&... args);
  void TakeLine();
  void GiveLineBack(bool reopenPort);
  std::string Finished(unsigned run, bool reopenPort);
  std::string TellEnd(const TSequenceRun& run);
  std::string UnitEnd(const TControllerResult& controller, const TRunResult& result, const TSequenceRun& run);

  TForm1& Form;
  TFormSequence* Window = nullptr;
  TReportOpener* Opener = nullptr;
  TMqttPublisher* Telemetry = nullptr;
  std::optional<TSequence> Sequence;
  TSequencePanelFeed Feed;
  std::unique_ptr<TSequenceRun> Run; // after Feed, which its thread tells until joined
  unsigned RunNumber = 0;            // so that the end a run posted is not taken for a later one's
  bool PortWasOpen = false;
  bool PollWasOn = false;
  std::map<std::uint8_t, QString> Reports; // the last run's, by controller
  std::string Store;                       // chosen in the window; empty for the default
};

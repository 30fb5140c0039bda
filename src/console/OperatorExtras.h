#pragma once

#include "history/LogExport.h"

#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QMenuBar;
class TBusPoller;
class TForm1;
class TFormBus;
class TFormBusScan;
class TFormRecords;
class TFormSpeedChart;
class TLinkCountersView;
class TSequenceControl;
class TTelemetryControl;

// What the operator gets beside the controls of the window: a stop key and other shortcuts, the
// speed chart, the log saved or written to a daily file, the link counters reset, parameter files,
// test sequences, an About box, and the window's place, state and choices remembered between runs.
class TOperatorExtras : public QObject {
  Q_OBJECT
public:
  TOperatorExtras(TForm1& form, TLinkCountersView& counters);
  ~TOperatorExtras() override;

  // The previous run's window place and state and the operator's choices.
  void RestoreSettings();
  void SaveSettings() const;
  // The window is closing: the settings saved, the extra windows hidden, a bus scan and a test
  // sequence stopped.
  void FormClosing();
  // Each decoded status answer of the panel's poll, and each that did not come.
  void StatusDecoded();
  void StatusUnknown();
  // Run or Stop went out to the motor: marked on the chart, apart when it went unanswered.
  void MotionSent(bool run, bool answered, long long msSinceEpoch);
  // True, after a message that says why, while a bus scan or a test sequence has the line: what
  // would send or open is not done then.
  bool RefuseWhileLineTaken();
  // A test sequence has the line: the window is transferring data, though its own port is closed.
  bool SequenceRunning() const;
  // Ends a bus scan or a test sequence under way and waits for it, so that a Stop can go out at once.
  void FreeLine();

  // What the menu items do once a file is chosen; false when nothing was written or taken, after
  // a message that says why.
  bool SaveLog(const QString& path, TLogExport::TFormat format);
  bool SaveParameters(const QString& path);
  bool OpenParameters(const QString& path);
  void SetDailyLogFile(bool on);

  // Asks for a file: (saving, title, proposed path or folder, filters, chosen filter out). A file
  // dialog unless a test puts its own answer here.
  using TFileChooser = std::function<QString(bool, const QString&, const QString&, const QString&, QString*)>;
  void SetFileChooser(TFileChooser chooser) { Chooser = std::move(chooser); }
  // The chosen filter's first extension added to a name typed without one.
  static QString WithSuffix(const QString& path, const QString& filter);

  TFormSpeedChart& SpeedChart() const { return *Chart; }
  TBusPoller& BusPoller() const { return *Poller; }
  TFormBus& BusView() const { return *Bus; }
  TFormRecords& RecordsView() const { return *Records; }
  TSequenceControl& Sequence() const { return *Sequences; }
  TTelemetryControl& TelemetryControl() const { return *Telemetry; }
  // The scan window, once the menu built it.
  TFormBusScan* BusScanWindow() const { return BusScan; }

  void MmSaveLogClick();
  void MmSaveParametersClick();
  void MmOpenParametersClick();
  void MmSpeedChartClick();
  void MmBusViewClick();
  void MmScanBusClick();
  void MmRecordsClick();
  void MmTelemetryClick();
  void MmOpenSequenceClick();
  void MmRecordsStoreClick();
  void MmAboutClick();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void BuildMenus(QMenuBar* bar, TLinkCountersView& counters);
  void BuildSequenceMenu(QMenuBar* bar);
  void BuildMotionKeys();
  QString ChooseFile(bool saving, const QString& title, const QString& proposed, const QString& filters,
                     QString* chosenFilter = nullptr);
  // name-<today><suffix> in the folder last used, or in the home folder.
  static QString Proposed(const QString& folder, const char* name, const char* suffix);

  TForm1& Form;
  TFormSpeedChart* Chart = nullptr;
  TBusPoller* Poller = nullptr;
  TFormBus* Bus = nullptr;
  TFormRecords* Records = nullptr;
  TFormBusScan* BusScan = nullptr; // built when first asked for; a window of the form's own, which owns it
  TSequenceControl* Sequences = nullptr;
  TTelemetryControl* Telemetry = nullptr;
  QAction* DailyLog = nullptr;
  QString LastLogFolder;
  QString LastParameterFolder;
  QString LastSequenceFolder;
  TFileChooser Chooser;
};

#pragma once

#include "serial/BusScan.h"
#include "serial/SerialDevice.h"

#include <QWidget>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;
class TDialogHost;

// "Scan the bus": a status request to every address of the port in force, the controllers that
// answer listed with their state, and the chosen address put into the motor panel as typing would.
// The port is closed for the scan, which runs on a thread of its own, and left after it as it was
// before. Not modal; refused while the window polls or an exchange is under way.
class TFormBusScan : public QWidget, private TBusScanReport {
  Q_OBJECT
public:
  static constexpr const char* BottomLineText = "Bus scan running: the line is the scan's until it ends";
  static constexpr const char* RefusedText = "Bus scan is possible when there is not data transferring.";
  // What the window's commands and the port buttons say while the scan has the line.
  static constexpr const char* RunningText = "A bus scan is running: cancel it first.";
  static constexpr std::uint8_t LastAddress = 254; // 255 is the broadcast address

  explicit TFormBusScan(TDialogHost& main);
  // Stops a scan under way and waits for its thread: at most one address.
  ~TFormBusScan() override;

  void BtnScanStartClick();
  void BtnScanCancelClick();
  void BtnScanUseClick();
  void BtnScanAddAllClick();
  bool Scanning() const { return Worker.joinable(); }
  // Ends a scan under way at once, on the window's thread: waits for its thread (at most one
  // address) and leaves the port as it was before the scan.
  void Cancel();

signals:
  // "Add all found": every controller that answered, for the bus view's list.
  void AddAllFound(const std::vector<std::uint8_t>& addresses);

protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

private:
  // The scan's thread: these run there, and hand what they tell to the window's thread.
  void Scanning(std::uint8_t address, unsigned done, unsigned total, unsigned found) override;
  void Asked(std::uint8_t address, TFrameLine::TReply reply) override;
  void Found(std::uint8_t address, const TFrame& answer) override;
  void BadChecksum(std::uint8_t address) override;
  bool StopRequested() override;
  void Scan(const std::string& device, const TLineSettings& settings, std::chrono::milliseconds timeout);
  // Runs fn on the window's thread, unless this window has gone by then.
  void OnWindowThread(std::function<void()> fn);
  void Finished(unsigned run);
  // The time per address for the line settings in force, shown for the operator to change.
  void ShowComputedTimeout();

  TDialogHost& Main;
  TLinkCounters& Counters; // atomics: counted on the scan's thread
  QProgressBar* ScanProgress = nullptr;
  QListWidget* ListScanFound = nullptr;
  QPushButton* BtnScanStart = nullptr;
  QPushButton* BtnScanCancel = nullptr;
  QSpinBox* SpinScanTimeout = nullptr;
  // The settings the timeout shown belongs to: computed for them, or typed while they were in force.
  std::optional<TLineSettings> TimeoutSettings;
  std::thread Worker;
  std::atomic<bool> StopAsked{false};
  bool PortWasOpen = false;
  // Counts the scans, so that the end a finished scan posted is not taken for a later one's.
  unsigned Run = 0;
  // The scan's thread's, set before it starts and read after it has been joined.
  double GearRatio = 1;
  unsigned FoundCount = 0;
  std::string Problem;
  // Cleared when the window goes; what the scan's thread handed over then is dropped.
  std::shared_ptr<bool> Alive = std::make_shared<bool>(true);
};

#pragma once

#include "BusScan.h"

#include <QWidget>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

class QListWidget;
class QProgressBar;
class QPushButton;
class TForm1;
struct TLineSettings;

// "Scan the bus": a status request to every address of the port in force, the controllers that
// answer listed with their state, and the chosen address put into the motor panel as typing would.
// The port is closed for the scan, which runs on a thread of its own, and opened again after it.
// Not modal; refused while the window polls or an exchange is under way.
class TFormBusScan : public QWidget, private TBusScanReport {
  Q_OBJECT
public:
  static constexpr const char* RefusedText = "Bus scan is possible when there is not data transferring.";
  static constexpr std::uint8_t LastAddress = 254; // 255 is the broadcast address
  static constexpr int AnswerTimeoutMs = 30;       // an answer takes about 11 ms at 9600 baud

  explicit TFormBusScan(TForm1& main);
  // Stops a scan under way and waits for its thread: at most one address.
  ~TFormBusScan() override;

  void BtnScanStartClick();
  void BtnScanCancelClick();
  void BtnScanUseClick();
  bool Scanning() const { return Worker.joinable(); }

private:
  // The scan's thread: these run there, and hand what they tell to the window's thread.
  void Scanning(std::uint8_t address, unsigned done, unsigned total, unsigned found) override;
  void Found(std::uint8_t address, const TFrame& answer) override;
  void BadChecksum(std::uint8_t address) override;
  bool StopRequested() override;
  void Scan(const std::string& device, const TLineSettings& settings, double gearRatio);
  // Runs fn on the window's thread, unless this window has gone by then.
  void OnWindowThread(std::function<void()> fn);
  void Finished(const std::string& problem, unsigned found);

  TForm1& Main;
  QProgressBar* ScanProgress = nullptr;
  QListWidget* ListScanFound = nullptr;
  QPushButton* BtnScanStart = nullptr;
  QPushButton* BtnScanCancel = nullptr;
  std::thread Worker;
  std::atomic<bool> StopAsked{false};
  double GearRatio = 1; // the scan's thread's, set before it starts
  // Cleared when the window goes; what the scan's thread handed over then is dropped.
  std::shared_ptr<bool> Alive = std::make_shared<bool>(true);
};

#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>

// A repeating timer whose interval may exceed the 24.8 days a Qt timer holds: it waits in steps
// toward a deadline on the steady clock, so a timed motion of any accepted length stops on time.
class TLongTimer : public QObject {
  Q_OBJECT
public:
  explicit TLongTimer(QObject* parent = nullptr);

  void SetInterval(std::uint32_t ms);
  std::uint32_t Interval() const { return IntervalMs; }
  void SetEnabled(bool on);
  bool Enabled() const { return Active; }

signals:
  void Timeout();

private:
  void ArmStep();
  void StepDone();

  QTimer Step;
  std::uint32_t IntervalMs = 5000;
  std::chrono::steady_clock::time_point Deadline;
  bool Active = false;
};

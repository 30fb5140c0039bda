#pragma once

#include "telemetry/MqttPublisher.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>

class QLabel;
class QSettings;
class QTimer;
class TBusPoller;
class TForm1;
class TSequenceControl;
struct TCommonDatas;

// The window's side of plant telemetry (File > Plant telemetry...): while on, the publisher that tells the
// plant's broker each answer of the panel's poll and of the bus view's rounds, and what a test sequence's run
// does. Stop all from the broker, when allowed, does what Shift+Esc does, on the window's thread; any other
// command is ignored and said. The connection's state is shown at the foot of the window. The settings are kept,
// the password only for the session (else OZMET_MQTT_PASSWORD): a settings file is no place for it.
class TTelemetryControl : public QObject {
  Q_OBJECT
public:
  static constexpr std::chrono::milliseconds CloseFlush{1000}; // the window's end allows no longer
  static constexpr int StatusRefreshMs = 1000;

  TTelemetryControl(TForm1& form, TBusPoller& poller, TSequenceControl& sequences);
  // The publisher closed first: no command comes after for a window that is going.
  ~TTelemetryControl() override;

  // The settings dialog, until settings are taken or it is cancelled.
  void Ask();
  // Telemetry on with these settings, or off; false after a message that says why (settings the publisher
  // refuses, a test sequence running, whose run tells the publisher in use until it ends).
  bool Apply(const TMqttSettings& settings, bool on);
  const TMqttSettings& Settings() const { return Chosen; }
  bool On() const { return Publisher != nullptr; }
  TMqttPublisher* Published() const { return Publisher.get(); }
  // A status answer (or none: live false) of the controller at the address.
  void State(std::uint8_t address, const TCommonDatas& datas, bool live);

  void Restore(const QSettings& settings);
  void Save(QSettings& settings) const;

private:
  void Command(const std::string& topic, const std::string& payload);
  void Say(const std::string& text, bool trouble);
  void ShowStatus();

  TForm1& Form;
  TBusPoller& Poller;
  TSequenceControl& Sequences;
  QLabel* Status = nullptr;
  QTimer* Refresh = nullptr;
  TMqttSettings Chosen;
  std::unique_ptr<TMqttPublisher> Publisher;
};

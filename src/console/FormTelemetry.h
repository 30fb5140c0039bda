#pragma once

#include "telemetry/MqttPublisher.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;

// File > Plant telemetry...: whether the bench publishes to the plant's MQTT broker, which broker, as whom
// (a user and password, or a client certificate), under which station name, and whether Stop all is taken
// from it.
class TFormTelemetry : public QDialog {
  Q_OBJECT
public:
  TFormTelemetry(QWidget* parent, const TMqttSettings& settings, bool on);

  TMqttSettings Settings() const;
  bool On() const;

private:
  QLineEdit* AddField(const char* name, const QString& caption, const std::string& text, const QString& tip);

  QCheckBox* CbOn = nullptr;
  QCheckBox* CbCommands = nullptr;
  QLineEdit* EditUrl = nullptr;
  QLineEdit* EditStation = nullptr;
  QLineEdit* EditUser = nullptr;
  QLineEdit* EditPassword = nullptr;
  QLineEdit* EditCa = nullptr;
  QLineEdit* EditCertificate = nullptr;
  QLineEdit* EditKey = nullptr;
  class QFormLayout* Fields = nullptr;
};

#include "console/FormTelemetry.h"

#include "sequence/SequenceResult.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

TFormTelemetry::TFormTelemetry(QWidget* parent, const TMqttSettings& settings, bool on) : QDialog(parent)
{
  setObjectName("FormTelemetry");
  setWindowTitle("Plant telemetry");
  auto* layout = new QVBoxLayout(this);
  CbOn = new QCheckBox("&Publish to the plant's MQTT broker");
  CbOn->setObjectName("CbTelemetryOn");
  CbOn->setChecked(on);
  layout->addWidget(CbOn);
  Fields = new QFormLayout;
  layout->addLayout(Fields);
  EditUrl = AddField("EditTelemetryUrl", "&Broker:", settings.Url, "mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (TLS)");
  EditStation =
      AddField("EditTelemetryStation", "&Station:", settings.Station.empty() ? StationName() : settings.Station,
               "The bench's name in the topics: ozmet/<station>/...");
  EditUser = AddField("EditTelemetryUser", "&User:", settings.Username, "The broker's user for this bench");
  EditPassword = AddField("EditTelemetryPassword", "Pass&word:", settings.Password,
                          "Kept for this session only; empty: OZMET_MQTT_PASSWORD");
  EditPassword->setEchoMode(QLineEdit::Password);
  EditCa = AddField("EditTelemetryCa", "&CA file:", settings.CaFile, "mqtts: the broker's CA (empty: the system's)");
  EditCertificate = AddField("EditTelemetryCertificate", "C&ertificate:", settings.CertFile,
                             "mqtts: this bench's client certificate (PEM), instead of a password");
  EditKey = AddField("EditTelemetryKey", "&Key:", settings.KeyFile, "mqtts: the client certificate's key (PEM)");
  CbCommands = new QCheckBox("Take Stop &all from the broker (ozmet/<station>/cmd/stop-all; needs a user)");
  CbCommands->setObjectName("CbTelemetryCommands");
  CbCommands->setChecked(settings.Commands);
  layout->addWidget(CbCommands);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->setObjectName("ButtonsTelemetry");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

QLineEdit* TFormTelemetry::AddField(const char* name, const QString& caption, const std::string& text,
                                    const QString& tip)
{
  auto* edit = new QLineEdit(QString::fromStdString(text));
  edit->setObjectName(name);
  edit->setToolTip(tip);
  edit->setMinimumWidth(320);
  Fields->addRow(caption, edit);
  return edit;
}

TMqttSettings TFormTelemetry::Settings() const
{
  const auto text = [](const QLineEdit* edit) { return edit->text().trimmed().toStdString(); };
  return {text(EditUrl), text(EditStation),     text(EditUser), EditPassword->text().toStdString(),
          text(EditCa),  text(EditCertificate), text(EditKey),  CbCommands->isChecked()};
}

bool TFormTelemetry::On() const
{
  return CbOn->isChecked();
}

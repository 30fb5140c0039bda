#include "console/TelemetryControl.h"

#include "console/BusPoller.h"
#include "console/Form1.h"
#include "console/FormTelemetry.h"
#include "console/SequenceControl.h"
#include "files/JsonText.h"
#include "telemetry/TelemetryError.h"
#include "telemetry/TelemetryJson.h"

#include <QLabel>
#include <QMetaObject>
#include <QSettings>
#include <QTimer>

#include <cstdlib>

namespace {

// {"by": "scada-1"} names the sender: MQTT itself does not tell who published.
QString Sender(const std::string& payload)
{
  const TJsonText::TValue message = TJsonText::TValue::parse(payload, nullptr, false);
  if (message.is_object() && message.contains("by") && message["by"].is_string())
    return QString::fromStdString(message["by"].get<std::string>());
  return "a sender that gave no name";
}

} // namespace

TTelemetryControl::TTelemetryControl(TForm1& form, TBusPoller& poller, TSequenceControl& sequences)
    : QObject(&form), Form(form), Poller(poller), Sequences(sequences)
{
  Status = new QLabel;
  Status->setObjectName("LblTelemetry");
  Status->hide();
  Form.AddToBottomLine(Status);
  Refresh = new QTimer(this);
  Refresh->setInterval(StatusRefreshMs);
  connect(Refresh, &QTimer::timeout, this, &TTelemetryControl::ShowStatus);
  connect(&Poller, &TBusPoller::StatusTold, this, [this](std::uint8_t address, bool answered) {
    if (const TBusController* controller = Poller.List().Find(address))
      State(address, controller->Datas(), answered);
  });
}

TTelemetryControl::~TTelemetryControl()
{
  if (Publisher)
    Publisher->Close(CloseFlush);
}

void TTelemetryControl::Ask()
{
  TFormTelemetry dialog(&Form, Chosen, On());
  while (dialog.exec() == QDialog::Accepted)
    if (Apply(dialog.Settings(), dialog.On()))
      return;
}

bool TTelemetryControl::Apply(const TMqttSettings& settings, bool on)
{
  if (Sequences.Running()) {
    Form.ShowMessage(TSequenceControl::RunningText);
    return false;
  }
  TMqttSettings given = settings;
  if (const char* password = std::getenv("OZMET_MQTT_PASSWORD"); given.Password.empty() && password)
    given.Password = password;
  std::unique_ptr<TMqttPublisher> made;
  try { // made first: settings it refuses leave the one in use
    if (on)
      made = std::make_unique<TMqttPublisher>(given, [this](const std::string& topic, const std::string& payload) {
        // On libmosquitto's thread, which the destructor stops before this object goes.
        QMetaObject::invokeMethod(
            this, [this, topic, payload] { Command(topic, payload); }, Qt::QueuedConnection);
      });
  } catch (const TTelemetryError& error) {
    Form.ShowMessage(std::string("Telemetry not changed: ") + error.what());
    return false;
  }
  Chosen = settings;
  if (Publisher)
    Publisher->Close(CloseFlush);
  Publisher = std::move(made);
  Sequences.SetTelemetry(Publisher.get());
  Status->setVisible(On());
  On() ? Refresh->start() : Refresh->stop();
  ShowStatus();
  Say(On() ? "Telemetry to " + settings.Url + " as " + Publisher->Topic() : "Telemetry off", false);
  return true;
}

void TTelemetryControl::State(std::uint8_t address, const TCommonDatas& datas, bool live)
{
  if (Publisher)
    Publisher->PublishState(address, TTelemetryJson::State(address, datas, live, std::chrono::system_clock::now()));
}

// Stop all from the plant aborts a sequence first, as Shift+Esc does; nothing else is taken from the broker.
void TTelemetryControl::Command(const std::string& topic, const std::string& payload)
{
  if (!Publisher)
    return;
  if (topic != Publisher->Topic() + "/cmd/stop-all") {
    Say("MQTT: ignored a message on " + topic + ": only stop-all is taken from the broker", true);
    return;
  }
  Say("Stop all from the plant (MQTT, by " + Sender(payload).toStdString() + ")", true);
  if (Sequences.Running())
    Sequences.Abort("aborted by the plant (MQTT)");
  Poller.StopAll();
}

void TTelemetryControl::Say(const std::string& text, bool trouble)
{
  Form.AppendLog(text, trouble ? TLogColour::Red : TLogColour::Blue, false);
  Form.ScrollLogToEnd();
}

void TTelemetryControl::ShowStatus()
{
  if (!Publisher)
    return;
  QString text = QString::fromStdString(Publisher->Status());
  if (const std::uint64_t dropped = Publisher->StatesDropped())
    text += QString(", %1 states dropped").arg(dropped);
  Status->setText(text);
}

void TTelemetryControl::Restore(const QSettings& settings)
{
  const auto text = [&settings](const char* key) { return settings.value(key).toString().toStdString(); };
  Chosen = {text("telemetry/url"),  text("telemetry/station"),
            text("telemetry/user"), "",
            text("telemetry/ca"),   text("telemetry/certificate"),
            text("telemetry/key"),  settings.value("telemetry/commands", false).toBool()};
  if (settings.value("telemetry/on", false).toBool())
    Apply(Chosen, true);
}

void TTelemetryControl::Save(QSettings& settings) const
{
  settings.setValue("telemetry/on", On());
  for (const auto& [key, value] :
       {std::pair{"telemetry/url", Chosen.Url}, std::pair{"telemetry/station", Chosen.Station},
        std::pair{"telemetry/user", Chosen.Username}, std::pair{"telemetry/ca", Chosen.CaFile},
        std::pair{"telemetry/certificate", Chosen.CertFile}, std::pair{"telemetry/key", Chosen.KeyFile}})
    settings.setValue(key, QString::fromStdString(value));
  settings.setValue("telemetry/commands", Chosen.Commands);
}

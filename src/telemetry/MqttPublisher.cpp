#include "telemetry/MqttPublisher.h"

#include "telemetry/TelemetryError.h"

#include <mosquitto.h>

#include <chrono>

#include <unistd.h>

namespace {

std::once_flag LibraryReady;

void Check(int code, const char* what)
{
  if (code != MOSQ_ERR_SUCCESS)
    throw TTelemetryError(std::string("MQTT: ") + what + ": " + mosquitto_strerror(code));
}

} // namespace

TMqttPublisher::TMqttPublisher(const TMqttSettings& settings, TCommand command)
    : Commands(settings.Commands), Command(std::move(command))
{
  std::string error;
  const std::optional<TMqttUrl> url = TMqttUrl::Parse(settings.Url, error);
  if (!url)
    throw TTelemetryError("MQTT: " + error);
  Url = *url;
  if (settings.Station.empty() || settings.Station.find_first_of("/+#") != std::string::npos)
    throw TTelemetryError("MQTT: the station \"" + settings.Station + "\" must be a name without /, + or #");
  if (Commands && settings.Username.empty())
    throw TTelemetryError("MQTT: Stop all from the broker needs the broker's authentication: give a user");
  Root = "ozmet/" + settings.Station;
  std::call_once(LibraryReady, [] { mosquitto_lib_init(); });
  const std::string id = "ozmet-" + settings.Station + "-" + std::to_string(::getpid());
  Client = mosquitto_new(id.c_str(), true, this);
  if (!Client)
    throw TTelemetryError("MQTT: no client could be made");
  try {
    Configure(settings);
    SetStatus("MQTT: connecting to " + Url.Text());
    Check(mosquitto_loop_start(Client), "no thread for the broker");
  } catch (...) {
    mosquitto_destroy(Client);
    throw;
  }
  Hander = std::thread([this] { Hand(); });
}

void TMqttPublisher::Configure(const TMqttSettings& settings)
{
  if (!settings.Username.empty())
    Check(mosquitto_username_pw_set(Client, settings.Username.c_str(),
                                    settings.Password.empty() ? nullptr : settings.Password.c_str()),
          "the user");
  const std::string online = Root + "/online";
  Check(mosquitto_will_set(Client, online.c_str(), 5, "false", 1, true), "the last will");
  Check(mosquitto_reconnect_delay_set(Client, 1, 30, true), "the reconnection");
  if (Url.Tls) {
    if (settings.CaFile.empty())
      Check(mosquitto_int_option(Client, MOSQ_OPT_TLS_USE_OS_CERTS, 1), "the system's certificates");
    const auto file = [](const std::string& path) { return path.empty() ? nullptr : path.c_str(); };
    if (!settings.CaFile.empty() || !settings.CertFile.empty())
      Check(mosquitto_tls_set(Client, file(settings.CaFile), nullptr, file(settings.CertFile), file(settings.KeyFile),
                              nullptr),
            "TLS");
  } else if (!settings.CertFile.empty())
    throw TTelemetryError("MQTT: a client certificate needs an mqtts:// broker");
  mosquitto_connect_callback_set(Client, &TMqttPublisher::OnConnect);
  mosquitto_disconnect_callback_set(Client, &TMqttPublisher::OnDisconnect);
  mosquitto_publish_callback_set(Client, &TMqttPublisher::OnPublish);
  mosquitto_message_callback_set(Client, &TMqttPublisher::OnMessage);
}

TMqttPublisher::~TMqttPublisher()
{
  Close();
  mosquitto_destroy(Client);
}

std::size_t TMqttPublisher::Close(std::chrono::milliseconds flush)
{
  {
    const std::lock_guard hold(Lock);
    if (Closed)
      return 0;
    Closed = Stopping = true;
  }
  Changed.notify_all();
  Hander.join();
  Flush(flush);
  const std::size_t unsent = KeptWaiting();
  mosquitto_disconnect(Client);
  mosquitto_loop_stop(Client, false);
  return unsent;
}

// What is still waiting handed over and the verdicts acknowledged, unless the broker stays away longer than
// the flush: the program is ending. Then the bench says it goes offline: a clean end sends no last will.
void TMqttPublisher::Flush(std::chrono::milliseconds flush)
{
  const auto deadline = std::chrono::steady_clock::now() + flush;
  std::unique_lock hold(Lock);
  while (std::chrono::steady_clock::now() < deadline && (!Queue.Empty() || !Unacknowledged.empty())) {
    hold.unlock();
    while (std::optional<TTelemetryMessage> message = Queue.Take())
      if (!HandOne(std::move(*message)))
        break;
    hold.lock();
    Changed.wait_for(hold, std::chrono::milliseconds(50));
  }
  Queue.DropStates();
  if (!IsConnected)
    return;
  SayOnline(false);
  Changed.wait_for(hold, flush, [this] { return Flags.empty() || !IsConnected; });
}

// Under Lock.
void TMqttPublisher::SayOnline(bool online)
{
  int id = 0;
  const std::string topic = Root + "/online";
  if (mosquitto_publish(Client, &id, topic.c_str(), online ? 4 : 5, online ? "true" : "false", 1, true) ==
      MOSQ_ERR_SUCCESS)
    Flags.insert(id);
}

void TMqttPublisher::PublishState(std::uint8_t address, std::string json)
{
  Queue.Put({Root + "/" + std::to_string(address) + "/state", std::move(json), 0, false, false});
  Wake();
}

void TMqttPublisher::PublishSequence(std::string json)
{
  Queue.Put({Root + "/sequence", std::move(json), 0, false, false});
  Wake();
}

void TMqttPublisher::PublishVerdict(std::string json)
{
  Queue.Put({Root + "/verdict", std::move(json), 1, true, true});
  Wake();
}

// Taken and let go: a waiter that checked before the change sees it.
void TMqttPublisher::Wake()
{
  {
    const std::lock_guard hold(Lock);
  }
  Changed.notify_all();
}

void TMqttPublisher::Hand()
{
  // The broker's name is looked up here, never on the caller's thread, which may be the window's; a broker out of
  // reach now is tried again by the library's thread, with back-off.
  const int code = mosquitto_connect_async(Client, Url.Host.c_str(), Url.Port, KeepAliveSeconds);
  if (code != MOSQ_ERR_SUCCESS)
    SetStatus("MQTT: connecting to " + Url.Text() + " (" + mosquitto_strerror(code) + ")");
  std::unique_lock hold(Lock);
  while (!Stopping) {
    Changed.wait(hold,
                 [this] { return Stopping || (IsConnected && !Queue.Empty() && WrittenAhead < WrittenAheadMax); });
    if (Stopping)
      return;
    hold.unlock();
    while (std::optional<TTelemetryMessage> message = Queue.Take())
      if (!HandOne(std::move(*message)))
        break;
    hold.lock();
  }
}

bool TMqttPublisher::HandOne(TTelemetryMessage message)
{
  const std::lock_guard hold(Lock);
  if (!IsConnected || (message.Qos == 0 && WrittenAhead >= WrittenAheadMax)) {
    Queue.PutBack(std::move(message));
    return false;
  }
  int id = 0;
  const int code = mosquitto_publish(Client, &id, message.Topic.c_str(), static_cast<int>(message.Payload.size()),
                                     message.Payload.data(), message.Qos, message.Retain);
  if (code != MOSQ_ERR_SUCCESS) {
    if (message.Kept)
      Queue.PutBack(std::move(message));
    return false;
  }
  if (message.Qos == 0)
    ++WrittenAhead;
  else
    Unacknowledged.insert(id);
  return true;
}

void TMqttPublisher::OnConnect(mosquitto* client, void* self, int code)
{
  auto& publisher = *static_cast<TMqttPublisher*>(self);
  if (code != 0) {
    publisher.SetStatus("MQTT: " + publisher.Url.Text() + " refused the connection: " + mosquitto_connack_string(code));
    return;
  }
  {
    const std::lock_guard hold(publisher.Lock);
    publisher.WrittenAhead = 0;
    publisher.IsConnected = true;
    // The broker takes a client's packets in order: whoever sees the bench online can already reach its commands.
    if (publisher.Commands)
      mosquitto_subscribe(client, nullptr, (publisher.Root + "/cmd/#").c_str(), 1);
    publisher.SayOnline(true);
  }
  publisher.SetStatus("MQTT: connected to " + publisher.Url.Text());
  publisher.Changed.notify_all();
}

void TMqttPublisher::OnDisconnect(mosquitto*, void* self, int code)
{
  auto& publisher = *static_cast<TMqttPublisher*>(self);
  if (!publisher.IsConnected.exchange(false))
    return; // a refusal, said by OnConnect
  {
    const std::lock_guard hold(publisher.Lock);
    publisher.WrittenAhead = 0;
    if (!publisher.Stopping)
      publisher.StatusText = "MQTT: connecting to " + publisher.Url.Text() + " (" +
                             (code ? mosquitto_strerror(code) : "disconnected") + ")";
  }
  publisher.Changed.notify_all();
}

// QoS 0: written; QoS 1: acknowledged by the broker.
void TMqttPublisher::OnPublish(mosquitto*, void* self, int id)
{
  auto& publisher = *static_cast<TMqttPublisher*>(self);
  {
    const std::lock_guard hold(publisher.Lock);
    if (!publisher.Unacknowledged.erase(id) && !publisher.Flags.erase(id) && publisher.WrittenAhead > 0)
      --publisher.WrittenAhead;
  }
  publisher.Changed.notify_all();
}

void TMqttPublisher::OnMessage(mosquitto*, void* self, const mosquitto_message* message)
{
  auto& publisher = *static_cast<TMqttPublisher*>(self);
  if (publisher.Command)
    publisher.Command(message->topic, std::string(static_cast<const char*>(message->payload),
                                                  static_cast<std::size_t>(message->payloadlen)));
}

std::string TMqttPublisher::Status() const
{
  const std::lock_guard hold(Lock);
  return StatusText;
}

std::size_t TMqttPublisher::KeptWaiting() const
{
  const std::lock_guard hold(Lock);
  return Queue.KeptWaiting() + Unacknowledged.size();
}

void TMqttPublisher::SetStatus(const std::string& text)
{
  const std::lock_guard hold(Lock);
  StatusText = text;
}

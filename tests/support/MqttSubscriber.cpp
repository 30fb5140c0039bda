#include "MqttSubscriber.h"

#include <mosquitto.h>

#include <algorithm>
#include <thread>

TMqttSubscriber::TMqttSubscriber(const TMosquittoBroker& broker, const std::string& user, const std::string& password)
{
  mosquitto_lib_init();
  Client = mosquitto_new(nullptr, true, this);
  mosquitto_username_pw_set(Client, user.c_str(), password.c_str());
  if (!broker.Ca().empty())
    mosquitto_tls_set(Client, broker.Ca().c_str(), nullptr, nullptr, nullptr, nullptr);
  mosquitto_connect_callback_set(Client, [](mosquitto* client, void*, int code) {
    if (code == 0)
      mosquitto_subscribe(client, nullptr, "ozmet/#", 1);
  });
  mosquitto_subscribe_callback_set(Client, [](mosquitto*, void* self, int, int, const int*) {
    auto& subscriber = *static_cast<TMqttSubscriber*>(self);
    const std::lock_guard hold(subscriber.Lock);
    subscriber.Subscribed = true;
  });
  mosquitto_message_callback_set(Client, [](mosquitto*, void* self, const mosquitto_message* message) {
    auto& subscriber = *static_cast<TMqttSubscriber*>(self);
    const std::lock_guard hold(subscriber.Lock);
    subscriber.Messages.push_back(
        {message->topic,
         std::string(static_cast<const char*>(message->payload), static_cast<std::size_t>(message->payloadlen)),
         message->retain});
  });
  mosquitto_loop_start(Client);
  mosquitto_connect_async(Client, "127.0.0.1", broker.PortNumber(), 10);
}

TMqttSubscriber::~TMqttSubscriber()
{
  mosquitto_disconnect(Client);
  mosquitto_loop_stop(Client, false);
  mosquitto_destroy(Client);
}

bool TMqttSubscriber::WaitSubscribed(std::chrono::milliseconds timeout)
{
  return WaitFor([this](const std::vector<TMqttReceived>&) { return Subscribed; }, timeout);
}

bool TMqttSubscriber::WaitFor(const std::function<bool(const std::vector<TMqttReceived>&)>& ready,
                              std::chrono::milliseconds timeout)
{
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    {
      const std::lock_guard hold(Lock);
      if (ready(Messages))
        return true;
    }
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::vector<TMqttReceived> TMqttSubscriber::Received() const
{
  const std::lock_guard hold(Lock);
  return Messages;
}

std::vector<TMqttReceived> TMqttSubscriber::On(const std::string& topic) const
{
  std::vector<TMqttReceived> on;
  for (const TMqttReceived& message : Received())
    if (message.Topic == topic)
      on.push_back(message);
  return on;
}

long TMqttSubscriber::Count(const std::vector<TMqttReceived>& got, const std::string& topic, const std::string& part)
{
  return std::count_if(got.begin(), got.end(), [&](const TMqttReceived& message) {
    return message.Topic == topic && message.Payload.find(part) != std::string::npos;
  });
}

bool TMqttSubscriber::Publish(const std::string& topic, const std::string& payload)
{
  return mosquitto_publish(Client, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                           false) == MOSQ_ERR_SUCCESS;
}

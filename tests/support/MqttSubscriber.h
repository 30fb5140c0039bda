#pragma once

#include "MosquittoBroker.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct mosquitto;

struct TMqttReceived {
  std::string Topic, Payload;
  bool Retained = false;
};

// A plant's client of the test's broker, as a dashboard would be: subscribed to ozmet/#, keeping every message
// it got; it can also publish, as a control system would.
class TMqttSubscriber {
public:
  explicit TMqttSubscriber(const TMosquittoBroker& broker, const std::string& user = TMosquittoBroker::User,
                           const std::string& password = TMosquittoBroker::Password);
  ~TMqttSubscriber();
  TMqttSubscriber(const TMqttSubscriber&) = delete;
  TMqttSubscriber& operator=(const TMqttSubscriber&) = delete;

  // Until the broker acknowledged the subscription.
  bool WaitSubscribed(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Until ready() holds for the messages received so far.
  bool WaitFor(const std::function<bool(const std::vector<TMqttReceived>&)>& ready,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));
  std::vector<TMqttReceived> Received() const;
  std::vector<TMqttReceived> On(const std::string& topic) const;
  // The messages on the topic whose payload holds `part`.
  static long Count(const std::vector<TMqttReceived>& got, const std::string& topic, const std::string& part);
  bool Publish(const std::string& topic, const std::string& payload);

private:
  mosquitto* Client = nullptr;
  mutable std::mutex Lock;
  std::vector<TMqttReceived> Messages;
  bool Subscribed = false;
};

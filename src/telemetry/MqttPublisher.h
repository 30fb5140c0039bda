#pragma once

#include "telemetry/MqttUrl.h"
#include "telemetry/TelemetryQueue.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

struct mosquitto;
struct mosquitto_message;

// Where and as whom a bench publishes. Username and password come from the environment or the settings, never
// from a command line; a client certificate and key, or a CA file, for a broker that asks for them.
struct TMqttSettings {
  std::string Url, Station;
  std::string Username, Password;
  std::string CaFile, CertFile, KeyFile;
  bool Commands = false; // Stop all taken from ozmet/<station>/cmd/stop-all
};

// The bench's publisher: ozmet/<station>/online (retained, with a last will that says false), a state a status
// answer, the sequence's progress, each unit's verdict (QoS 1, the last retained). Apart from the line: Publish
// only queues, a thread of its own hands the queue to the broker as fast as the broker takes it, and
// libmosquitto's own thread reconnects with back-off. A broker that does not read makes the oldest states drop;
// verdicts wait until the broker has them or the program ends. Throws TTelemetryError for settings it cannot use.
class TMqttPublisher {
public:
  // A message on ozmet/<station>/cmd/#, on libmosquitto's thread: hand it to your own.
  using TCommand = std::function<void(const std::string& topic, const std::string& payload)>;
  static constexpr std::size_t StatesMax = 256;
  // QoS 0 messages handed to the library and not yet written: more wait in the bounded queue.
  static constexpr int WrittenAheadMax = 16;
  static constexpr int KeepAliveSeconds = 10;
  static constexpr std::chrono::milliseconds FlushTime{3000}; // for the last verdicts at the end

  TMqttPublisher(const TMqttSettings& settings, TCommand command = {});
  // Close, unless it was.
  ~TMqttPublisher();
  TMqttPublisher(const TMqttPublisher&) = delete;
  TMqttPublisher& operator=(const TMqttPublisher&) = delete;

  // "ozmet/<station>".
  const std::string& Topic() const { return Root; }
  void PublishState(std::uint8_t address, std::string json);
  void PublishSequence(std::string json);
  void PublishVerdict(std::string json);
  // "MQTT: connected to mqtt://host:1883", "MQTT: connecting to ... (connection refused)".
  std::string Status() const;
  bool Connected() const { return IsConnected; }
  // States the broker never got: dropped for newer ones, or still waiting at the end.
  std::uint64_t StatesDropped() const { return Queue.Dropped(); }
  // Verdicts that the broker has not acknowledged yet.
  std::size_t KeptWaiting() const;
  // Says offline and ends the connection once the last verdicts are acknowledged, or the flush time has passed
  // (the program is ending); returns how many verdicts the broker did not acknowledge. Nothing is published after.
  std::size_t Close(std::chrono::milliseconds flush = FlushTime);

private:
  static void OnConnect(mosquitto* client, void* self, int code);
  static void OnDisconnect(mosquitto* client, void* self, int code);
  static void OnPublish(mosquitto* client, void* self, int id);
  static void OnMessage(mosquitto* client, void* self, const mosquitto_message* message);
  void Configure(const TMqttSettings& settings);
  void Hand();
  // Hands one message to the library; false when it cannot take it now (it is kept then, when it must be).
  bool HandOne(TTelemetryMessage message);
  void Wake();
  void Flush(std::chrono::milliseconds flush);
  void SayOnline(bool online);
  void SetStatus(const std::string& text);

  TMqttUrl Url;
  std::string Root;
  bool Commands = false;
  TCommand Command;
  mosquitto* Client = nullptr;
  TTelemetryQueue Queue{StatesMax};
  std::atomic<bool> IsConnected{false};
  mutable std::mutex Lock; // what follows; held across a hand-over so that its acknowledgement finds it
  int WrittenAhead = 0;
  std::condition_variable Changed;
  std::string StatusText;
  std::set<int> Unacknowledged; // the verdicts' message ids
  std::set<int> Flags;          // the online flag's
  bool Stopping = false;
  bool Closed = false;
  std::thread Hander;
};

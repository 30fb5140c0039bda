// The window seen by the plant through a real mosquitto broker: the panel's poll, a sequence's verdict, Stop all
// from the plant's control system (and only when allowed), settings the publisher refuses.
#include "MosquittoBroker.h"
#include "MqttSubscriber.h"
#include "SequenceFixture.h"
#include "console/TelemetryControl.h"

#include <QLabel>

namespace {

class TelemetryTest : public SequenceTest {
protected:
  void SetUp() override
  {
    if (!Broker.Unavailable().empty())
      GTEST_SKIP() << Broker.Unavailable();
    SequenceTest::SetUp();
    ASSERT_TRUE(Plant.WaitSubscribed());
  }
  TTelemetryControl& Telemetry() const { return Extras().TelemetryControl(); }
  TMqttSettings Settings(bool commands = false) const
  {
    return {Broker.Url(), "bench-gui", TMosquittoBroker::User, TMosquittoBroker::Password, "", "", "", commands};
  }
  // Until what the plant got holds ready, the window's events running meanwhile.
  bool PlantGot(const std::function<bool(const std::vector<TMqttReceived>&)>& ready,
                std::chrono::milliseconds timeout = 10s)
  {
    return WaitFor([&] { return ready(Plant.Received()); }, timeout);
  }
  // On, and seen online by the plant (again, when it was before).
  void TurnOn(bool commands = false)
  {
    const long before = TMqttSubscriber::Count(Plant.Received(), "ozmet/bench-gui/online", "true");
    ASSERT_TRUE(Telemetry().Apply(Settings(commands), true));
    ASSERT_TRUE(
        PlantGot([&](auto& got) { return TMqttSubscriber::Count(got, "ozmet/bench-gui/online", "true") > before; }));
  }

  TMosquittoBroker Broker;
  TMqttSubscriber Plant{Broker};
};

// While on, each answer of the panel's poll (it polls while its motor runs) is a live state of its controller and the
// foot of the window says the bench is connected; off, the plant sees it offline.
TEST_F(TelemetryTest, ThePanelsPollReachesThePlantWhileOn)
{
  TurnOn();
  Click("BtnRun"); // the panel polls while its motor may run
  EXPECT_TRUE(
      PlantGot([](auto& got) { return TMqttSubscriber::Count(got, "ozmet/bench-gui/0/state", "\"live\":true") >= 2; }));
  Click("BtnStop");
  ASSERT_TRUE(WaitFor([&] { return Idle() && Form->RunSentTo().empty(); }));
  const auto* status = Find<QLabel>("LblTelemetry");
  EXPECT_TRUE(WaitFor([&] { return status->text().toStdString() == "MQTT: connected to " + Broker.Url(); }))
      << status->text().toStdString();
  EXPECT_TRUE(status->isVisible());
  ASSERT_TRUE(Telemetry().Apply(Settings(), false));
  EXPECT_TRUE(PlantGot([](auto& got) { return TMqttSubscriber::Count(got, "ozmet/bench-gui/online", "false") == 1; }));
  EXPECT_FALSE(status->isVisible());
}

// A test sequence's run in the window tells its verdict to the plant, once.
TEST_F(TelemetryTest, ASequencesVerdictReachesThePlantOnce)
{
  TurnOn();
  OpenSequence(QuickSequence());
  ScanUnit("SN-GUI");
  ASSERT_TRUE(WaitFor([&] { return !SequenceVerdict(0).isEmpty(); }, 30s)) << (Messages.empty() ? "" : Messages[0]);
  EXPECT_TRUE(PlantGot([](auto& got) {
    return TMqttSubscriber::Count(got, "ozmet/bench-gui/verdict", "\"serial\":\"SN-GUI\",\"verdict\":\"PASS\"") == 1;
  }));
  EXPECT_GE(TMqttSubscriber::Count(Plant.Received(), "ozmet/bench-gui/sequence", "\"sequence\":\"Quick\""), 1);
}

// Stop all from the plant stops the running motor, as Shift+Esc does, and is said with its sender; any other
// command is ignored and said; with commands off, nothing from the broker is taken.
TEST_F(TelemetryTest, StopAllFromThePlantStopsTheMotorOnlyWhenAllowed)
{
  for (const bool allowed : {false, true}) {
    SCOPED_TRACE(allowed);
    TurnOn(allowed);
    Click("BtnRun");
    ASSERT_TRUE(WaitFor([&] { return Idle() && !Form->RunSentTo().empty(); })) << "the motor runs";
    const std::size_t stops = StopsSent();
    ASSERT_TRUE(Plant.Publish("ozmet/bench-gui/cmd/stop-all", "{\"by\": \"scada-1\"}"));
    ASSERT_TRUE(Plant.Publish("ozmet/bench-gui/cmd/run", "{}"));
    // The broker passes the plant's messages on in order: its own marker comes back after them.
    ASSERT_TRUE(Plant.Publish("ozmet/bench-gui/marker", "after"));
    ASSERT_TRUE(PlantGot([](auto& got) { return TMqttSubscriber::Count(got, "ozmet/bench-gui/marker", "after") > 0; }));
    if (allowed) {
      EXPECT_TRUE(WaitFor([&] { return Logged("Stop all from the plant (MQTT, by scada-1)") && StopsSent() > stops; }));
      EXPECT_TRUE(WaitFor([&] {
        return Logged("MQTT: ignored a message on ozmet/bench-gui/cmd/run: only stop-all is taken from the broker");
      }));
    } else {
      EXPECT_TRUE(WaitFor([&] { return Idle(); }));
      EXPECT_EQ(StopsSent(), stops);
      EXPECT_FALSE(Logged("Stop all from the plant"));
    }
    Click("BtnStop");
    ASSERT_TRUE(WaitFor([&] { return Idle() && Form->RunSentTo().empty(); }));
  }
}

// Settings the publisher cannot use are said, and the telemetry in use stays.
TEST_F(TelemetryTest, RefusedSettingsAreSaidAndTheTelemetryInUseStays)
{
  TurnOn();
  TMqttPublisher* inUse = Telemetry().Published();
  Messages.clear();
  EXPECT_FALSE(Telemetry().Apply({"broker", "bench-gui", "", "", "", "", "", false}, true));
  EXPECT_EQ(MessageHeads(), std::vector<std::string>{"Telemetry not changed: MQTT: \"broker\" is no broker: give "
                                                     "mqtt://HOST[:PORT] or mqtts://HOST[:PORT]"});
  EXPECT_EQ(Telemetry().Published(), inUse);
}

} // namespace

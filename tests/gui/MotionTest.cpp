#include "ConsoleFixture.h"
#include "console/LongTimer.h"
#include "protocol/OzmCommands.h"
#include "serial/Exchange.h"
#include "widgets/RadioGroup.h"

#include <QTest>

#include <filesystem>

#include <algorithm>
#include <cmath>

namespace {

using namespace std::chrono_literals;
using TBytes = std::vector<std::uint8_t>;

std::vector<std::uint8_t> Codes(const std::vector<TBytes>& frames)
{
  std::vector<std::uint8_t> codes;
  for (const TBytes& f : frames)
    codes.push_back(f.at(2));
  return codes;
}

template <class T>
bool Contains(const std::vector<T>& items, const T& item)
{
  return std::find(items.begin(), items.end(), item) != items.end();
}

bool Contains(const std::vector<std::string>& lines, const char* line)
{
  return Contains(lines, std::string(line));
}

TEST_F(ConsoleTest, RunSendsFiveFramesThenThePollShowsTheMotor)
{
  Click("BtnRun");
  ASSERT_TRUE(WaitFor([&] { return Sim.FramesReceived() >= 5; }));
  const std::vector<std::uint8_t> codes = Codes(FramesSeen());
  EXPECT_EQ(std::vector<std::uint8_t>(codes.begin(), codes.begin() + 5),
            (std::vector<std::uint8_t>{0xA5, 0xA6, 0xA7, 0xA3, 0x51}));
  EXPECT_EQ(MemoLines().size(), 5u);
  EXPECT_TRUE(PollTimerActive());
  // The simulated motor ramps to 17 rev/s: 1020 rpm.
  ASSERT_TRUE(WaitFor([&] { return Label("lblCurrentSpeed") == "Current speed 1020.00 rpm"; }, 10s));
  EXPECT_EQ(Label("lblStabil"), "Feedback: on");
  EXPECT_NE(Label("lblMotorRates"), "Motor revolutions counter: 0 rev");
  EXPECT_TRUE(Find("lblDir0")->isVisible());
  EXPECT_TRUE(Contains(LogLines(), "motor status"));

  Click("BtnStop");
  ASSERT_TRUE(WaitFor([&] { return !PollTimerActive(); }, 10s)) << "polling ends once the motor stands";
  EXPECT_EQ(Label("lblCurrentSpeed"), "Current speed 0.00 rpm");
  EXPECT_TRUE(Contains(LogLines(), "Motor stop"));
}

// A controller that answers 200 ms after each frame (late, and inside the answer timeout even under
// ThreadSanitizer's slowness): the Run outlasts its handler's wait and the
// next poll tick. Only status answers may count revolutions, so the counter never passes the
// revolutions the motor made (a command's answer decoded as one adds its code as a count).
TEST_F(ConsoleTest, SlowControllerRunOutlastsAPollTickAndTheCounterStaysTrue)
{
  TSimFaults slow;
  slow.DelayMs = 200;
  Sim.SetFaults(slow);
  Click("BtnRun");
  ASSERT_TRUE(WaitFor([&] { return Label("lblCurrentSpeed") == "Current speed 1020.00 rpm"; }, 20s))
      << ::testing::PrintToString(LogLines());
  Click("BtnStop");
  ASSERT_TRUE(WaitFor([&] { return !PollTimerActive(); }, 20s));
  const std::int32_t counter = Form->Datas->MotorRevCounter;
  EXPECT_GT(counter, 0);
  EXPECT_LE(counter, std::ceil(Sim.Controllers().at(0).Position()));
  EXPECT_TRUE(Find("lblDir0")->isVisible());
  const std::vector<std::string> log = LogLines();
  EXPECT_FALSE(Contains(log, "motor status - no answer ")) << "every status request was a valid one";
}

// Esc while a slow controller still gets a Run's frames: the frame on the wire keeps its answer, the
// Stop goes next, and the rest of the Run (the Run frame itself among them) never leaves.
TEST_F(ConsoleTest, EscDuringARunsFramesSendsTheStopBeforeTheRest)
{
  Sim.SetFaults({.DelayMs = 120}); // slow, with room before the timeout on a loaded machine
  Click("BtnRun"); // its handler gives the exchange 300 ms, then the window is the operator's again
  ASSERT_TRUE(WaitFor([&] { return Sim.FramesReceived() >= 1; }));
  QTest::keyClick(Form.get(), Qt::Key_Escape);
  ASSERT_TRUE(WaitFor([&] { return Contains(Codes(FramesSeen()), std::uint8_t{0x52}); }, 10s));
  const std::vector<std::uint8_t> codes = Codes(FramesSeen());
  EXPECT_FALSE(Contains(codes, std::uint8_t{0x51})) << ::testing::PrintToString(codes);
  const std::vector<std::string> log = LogLines();
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& l) {
    return l.starts_with("Stop goes first, not sent: ") && l.ends_with(" 51");
  })) << ::testing::PrintToString(log);
}

// A poll tick that comes while a slow Run is still being sent leaves the window to the operator:
// the running exchange takes the status request as its last frame instead of the tick waiting for it.
TEST_F(ConsoleTest, PollTickDuringAnExchangeDoesNotHoldTheWindow)
{
  // Slow enough that five frames outlast the handler's 300 ms, with room before each answer's timeout
  // on a loaded machine under ThreadSanitizer (120 ms once left an answer past it).
  Sim.SetFaults({.DelayMs = 80});
  Click("BtnRun");
  ASSERT_TRUE(Form->Exchange->WorkerRunning()) << "five slow frames outlast the handler's wait";
  Form->TimerGetMotorStateTimer();
  EXPECT_FALSE(Contains(Codes(FramesSeen()), std::uint8_t{0x51})) << "the tick returned before the Run went out";
  ASSERT_TRUE(WaitFor([&] { return Sim.FramesReceived() >= 6; }, 10s));
  EXPECT_EQ(Codes(FramesSeen()), (std::vector<std::uint8_t>{0xA5, 0xA6, 0xA7, 0xA3, 0x51, 0x50}));
  Click("BtnStop");
}

TEST_F(ConsoleTest, TimedRunStopsByItself)
{
  Type("EditWorkTime", "2");
  Click("BtnRun");
  EXPECT_TRUE(Find<TLongTimer>("TmrStopMotor")->Enabled());
  ASSERT_TRUE(WaitFor([&] { return Contains(Codes(FramesSeen()), std::uint8_t{0x52}); }, 10s));
  EXPECT_TRUE(Contains(LogLines(), "Motor stop"));
  EXPECT_FALSE(Find<TLongTimer>("TmrStopMotor")->Enabled());
}

TEST_F(ConsoleTest, DirectionButtonsSendOnlyTheDirection)
{
  Click("BtnRunLeft");
  ASSERT_TRUE(WaitFor([&] { return Sim.FramesReceived() >= 1; }));
  EXPECT_EQ(FramesSeen().at(0), (TBytes{0xE6, 0x00, 0xA7, 0x01, TOzmCommands::Crc8(3, 0x00, 0xA7, 0x01)}));
  EXPECT_EQ(Find<TRadioGroup>("rgrWorkDirection")->ItemIndex(), 1);
  EXPECT_TRUE(Contains(LogLines(), "Set backward Direction"));
  Click("BtnRunRight");
  // The heading is logged before the frame goes: the frame itself is what is waited for.
  ASSERT_TRUE(WaitFor([&] {
    const std::vector<std::uint8_t> sent = Codes(FramesSeen());
    return Contains(LogLines(), "Set forward direction") && std::count(sent.begin(), sent.end(), 0xA7) == 2;
  }));
  EXPECT_EQ(Find<TRadioGroup>("rgrWorkDirection")->ItemIndex(), 0);
  EXPECT_FALSE(Find("BtnWorkCancel")->isEnabled()) << "the panel stays clean";
  const std::vector<std::uint8_t> codes = Codes(FramesSeen());
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 0xA7), 2);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x51), 0);
}

TEST_F(ConsoleTest, ClearZeroesTheCounters)
{
  Click("BtnRun");
  ASSERT_TRUE(WaitFor([&] { return Label("lblMotorRates") != "Motor revolutions counter: 0 rev"; }, 10s));
  Click("BtnStop");
  ASSERT_TRUE(WaitFor([&] { return !PollTimerActive(); }, 10s));
  Click("BtnReset");
  EXPECT_EQ(Label("lblMotorRates"), "Motor revolutions counter: 0 rev");
  EXPECT_EQ(Label("lblGearedRates"), "Gearmotor revolutions counter: 0 rev");
  EXPECT_EQ(Form->Datas->MotorRevCounter, 0);
}

// A controller gone silent leaves its last speed greyed as history, not as the motor's state.
TEST_F(ConsoleTest, SilenceShowsTheStateUnknownUntilTheNextAnswer)
{
  Click("BtnRun");
  ASSERT_TRUE(WaitFor([&] { return Label("lblCurrentSpeed") == "Current speed 1020.00 rpm"; }, 10s));
  TSimFaults silent;
  silent.Silent = true;
  Sim.SetFaults(silent);
  ASSERT_TRUE(WaitFor([&] { return !PollTimerActive(); }, 10s));
  EXPECT_TRUE(StatusShownUnknown());
  const std::string unknown = Label("lblCurrentSpeed");
  const std::string head = "Current speed: unknown (last 1020 rpm at ";
  EXPECT_TRUE(unknown.starts_with(head) && unknown.size() == head.size() + 9 && unknown[head.size() + 2] == ':' &&
              unknown.ends_with(")"))
      << unknown << ": the last speed and the time it was seen, hh:mm:ss";
  EXPECT_TRUE(WaitFor([&] { return WholeTextShows(Find<QLabel>("lblCurrentSpeed")); }, 1s)) << "none of it cut";
  EXPECT_EQ(Label("lblStabil"), "Feedback: on") << "the last word stays, greyed";
  Click("BtnReset"); // the labels drawn again stay unknown
  EXPECT_TRUE(StatusShownUnknown());

  Sim.SetFaults({});
  Click("BtnRun");
  ASSERT_TRUE(WaitFor([&] { return Label("lblCurrentSpeed") == "Current speed 1020.00 rpm"; }, 10s));
  EXPECT_FALSE(StatusShownUnknown());
}

TEST_F(ConsoleTest, LineHungUpWhilePollingStopsThePollAndALaterOpenReconnects)
{
  Click("BtnRun");
  ASSERT_TRUE(WaitFor([&] { return Contains(LogLines(), "motor status"); }));
  TSimFaults faults;
  faults.HangUpAfter = 1;
  Sim.SetFaults(faults);
  ASSERT_TRUE(WaitFor([&] { return !PollTimerActive(); }, 10s));
  const std::vector<std::string> log = LogLines();
  EXPECT_TRUE(Contains(log, "Port connection error") || Contains(log, "Stop"));
  EXPECT_EQ(MessageHeads(), std::vector<std::string>{"Open port error"}) << "the dead device cannot be reopened";
  EXPECT_GT(Form->Datas->Counters.PortFailures, 0u) << "a hang-up is a port failure, however it was first seen";
  EXPECT_TRUE(StatusShownUnknown());

  TSimLine replacement{{0}};
  replacement.Open();
  std::filesystem::remove(Data.Path() + "/COM1");
  Data.Link("COM1", replacement.DevicePath());
  Click("BtnOpenPort");
  EXPECT_EQ(Label("PanelPortProp"), "port opened:   Com1;  8 bit, stop-bit: 1;  parity: none;  ");
  Click("BtnStop");
  EXPECT_TRUE(replacement.WaitForFrames(1, 5s));
  Form.reset(); // before the line it talks to
}

} // namespace

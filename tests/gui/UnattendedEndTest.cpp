#include "console/UnattendedEnd.h"
#include "ConsoleFixture.h"
#include "protocol/CommonDatas.h"
#include "widgets/MessageBox.h"

#include <algorithm>

namespace {

using namespace std::chrono_literals;

constexpr std::uint8_t CmdStopCode = 0x52;

// How the motor stands when the program is told to end, and what the end must then say.
struct TEndCase {
  const char* Name;
  bool RunFromHere;     // the window's own Run; otherwise a Run it did not send (another program's, or
                        // a Run whose answer was lost): the window knows the motor turns only from polling
  bool HangUpFirst;     // the line dies; the end comes while the "cannot open" box of the worker's step is open
  const char* Outcome;  // the end of the outcome line
  bool StopOnTheWire;
};

const TEndCase EndCases[] = {
    {"RunFromHere", true, false, "Stop sent and answered", true},
    {"RunFromElsewhere", false, false, "Stop sent and answered", true},
    {"BoxOpenOnTheWorkersStep", true, true, "Stop not sent, the exchange under way did not end", false},
};

class UnattendedEnd : public ConsoleTest, public ::testing::WithParamInterface<TEndCase> {
protected:
  std::size_t Stops() const
  {
    const auto frames = FramesSeen();
    return static_cast<std::size_t>(
        std::count_if(frames.begin(), frames.end(), [](const auto& f) { return f.at(2) == CmdStopCode; }));
  }
};

TEST_P(UnattendedEnd, StopsAMotorThatMayRunWithoutWaitingForeverOnTheWorker)
{
  const TEndCase& c = GetParam();
  Click("BtnRun");
  ASSERT_TRUE(WaitFor([&] { return Form->Datas->CurrentSpeedRpm > 0; }, 10s));
  if (!c.RunFromHere)
    Form->Datas->MotorStopped = true; // as the window stood before a Run that was not its own
  const std::size_t stopsBefore = Stops();
  TUnattendedEnd end(*Form);
  bool ended = false;
  if (c.HangUpFirst) {
    // The box waits inside the worker's step, and the worker waits for it: the end comes from in there.
    SetMessageRecorder([&](const std::string&) {
      end.StopMotor("ended by SIGTERM");
      ended = true;
    });
    TSimFaults faults;
    faults.HangUpAfter = 1;
    Sim.SetFaults(faults);
    ASSERT_TRUE(WaitFor([&] { return ended; }, 10s)) << "the end returned";
  } else {
    end.StopMotor("ended by SIGTERM");
  }
  const std::vector<std::string> log = LogLines();
  EXPECT_NE(std::find(log.begin(), log.end(), std::string("ended by SIGTERM with the motor possibly running: ") +
                                                  c.Outcome),
            log.end())
      << log.back();
  EXPECT_EQ(Stops() - stopsBefore, c.StopOnTheWire ? 1u : 0u);
  end.Close();
  EXPECT_TRUE(Form->IsClosed());
}

INSTANTIATE_TEST_SUITE_P(Every, UnattendedEnd, ::testing::ValuesIn(EndCases),
                         [](const auto& info) { return info.param.Name; });

} // namespace

#include "SimController.h"

#include "protocol/OzmCommands.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr std::uint8_t MaxSpeedLimit = 250;
constexpr std::uint8_t RampMin = 1;
constexpr std::uint8_t RampMax = 24;
constexpr double MaxCount = 4095.0; // the counter has twelve bits
// A revolution short by less than this is a rounding error of the integration, not a missing turn.
constexpr double CountTolerance = 1e-9;

constexpr std::uint8_t FeedbackBit = 0x80;
constexpr std::uint8_t OverflowBit = 0x40;
constexpr std::uint8_t BackwardBit = 0x10;

TFrame Sealed(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3)
{
  return {b0, b1, b2, b3, TOzmCommands::Crc8(4, b0, b1, b2, b3)};
}

} // namespace

TSimController::TSimController(std::uint8_t address)
    : BusAddress(address)
{
}

bool TSimController::Accepts(std::uint8_t address) const
{
  return address == BusAddress || address == BroadcastAddress;
}

std::optional<TFrame> TSimController::HandleFrame(std::span<const std::uint8_t> frame, TTime now)
{
  if (frame.size() < TStatusRequest{}.size() || !Accepts(frame[1]))
    return std::nullopt;
  AdvanceTo(now);
  const std::uint8_t address = frame[1];
  const std::uint8_t command = frame[2];
  const bool answered = address != BroadcastAddress;
  if (command == CmdGetStatus) // a broadcast status request must not lose the count
    return answered ? std::optional(StatusAnswer()) : std::nullopt;
  if (frame.size() < TFrame{}.size())
    return std::nullopt;
  const std::uint8_t value = frame[3];
  Apply(command, value);
  return answered ? std::optional(Sealed(address, command, value, 0)) : std::nullopt;
}

void TSimController::Apply(std::uint8_t command, std::uint8_t value)
{
  switch (command) {
  case CmdRun:
    if (!IsRunning)
      RunStart = LastUpdate; // the motion was just brought up to the frame's time
    IsRunning = true;
    break;
  case CmdStop:
    IsRunning = false;
    Stalled = false;
    break;
  case CmdAddressSetBegin: BeginAddressSetting(value); break;
  case CmdAddressSetEnd: EndAddressSetting(); break;
  case CmdSetEncoder: Motor.EncoderPulses = value; break;
  case CmdSetSpeed: Motor.SetSpeedRps = value; break;
  case CmdSetMaxSpeed: Motor.MaxSpeedRps = std::min(value, MaxSpeedLimit); break;
  case CmdSetAccel: Motor.Acceleration = std::clamp(value, RampMin, RampMax); break;
  case CmdSetDecel: Motor.Deceleration = std::clamp(value, RampMin, RampMax); break;
  case CmdSetDirection: Motor.Backward = value != 0; break;
  default: break; // unknown commands are answered but change nothing
  }
}

void TSimController::BeginAddressSetting(std::uint8_t address)
{
  if (address == BroadcastAddress)
    return;
  Waiting = true;
  PendingAddress = address;
  ChosenAddress.reset();
}

void TSimController::SetFaults(const TSimControllerFaults& faults)
{
  Faulty = faults;
}

const TSimControllerFaults& TSimController::Faults() const
{
  return Faulty;
}

unsigned TSimController::TakeLateOnce(std::uint8_t command)
{
  if (Faulty.LateOnceCommand != command)
    return 0;
  Faulty.LateOnceCommand.reset();
  return std::exchange(Faulty.LateOnceMs, 0);
}

void TSimController::PressButton()
{
  if (!Waiting)
    return;
  Waiting = false;
  ChosenAddress = PendingAddress;
}

void TSimController::EndAddressSetting()
{
  if (ChosenAddress)
    BusAddress = *ChosenAddress;
  Waiting = false;
  ChosenAddress.reset();
}

bool TSimController::WaitingForButton() const
{
  return Waiting;
}

// A stall cuts the speed to 0 at once, so the motion is brought up to that moment first.
void TSimController::AdvanceTo(TTime now)
{
  if (IsRunning && !Stalled && Faulty.StallAfterS) {
    const auto after = std::chrono::round<TTime::duration>(std::chrono::duration<double>(*Faulty.StallAfterS));
    const TTime stall = RunStart + after;
    if (stall <= now) {
      Move(stall);
      Stalled = true;
      VelocityRps = 0.0;
    }
  }
  Move(now);
}

void TSimController::Move(TTime now)
{
  if (now <= LastUpdate)
    return;
  double seconds = std::chrono::duration<double>(now - LastUpdate).count();
  LastUpdate = now;
  while (seconds > 0.0 && VelocityRps != TargetVelocity())
    seconds -= Ramp(seconds);
  if (seconds > 0.0)
    Travel(VelocityRps * seconds);
}

double TSimController::TargetVelocity() const
{
  if (!IsRunning || Stalled)
    return 0.0;
  const unsigned capped = Faulty.MaxRps.value_or(MaxSpeedLimit); // the motor's own limit, whatever is commanded
  const double speed = std::min({unsigned{Motor.SetSpeedRps}, unsigned{Motor.MaxSpeedRps}, capped});
  return Motor.Backward ? -speed : speed;
}

// One stretch of constant acceleration toward the next goal, at most `seconds` long; returns its length.
// Reversing first slows to a standstill, so the goal is 0 until the motor has stopped.
double TSimController::Ramp(double seconds)
{
  const double target = TargetVelocity();
  const bool reversing = VelocityRps != 0.0 && target != 0.0 && (VelocityRps < 0.0) != (target < 0.0);
  const double goal = reversing ? 0.0 : target;
  const double rate = std::abs(goal) > std::abs(VelocityRps) ? Motor.Acceleration : Motor.Deceleration;
  const double needed = std::abs(goal - VelocityRps) / rate;
  const double step = std::min(seconds, needed);
  const double reached = step == needed ? goal : VelocityRps + std::copysign(rate * step, goal - VelocityRps);
  Travel((VelocityRps + reached) / 2.0 * step);
  VelocityRps = reached;
  return step;
}

void TSimController::Travel(double revolutions)
{
  PositionRevs += revolutions;
  UnreportedRevs += revolutions * Faulty.Slip;
}

// Whole revolutions since the previous answer; the fraction waits for the next one, and what the
// twelve-bit counter cannot hold is lost.
TFrame TSimController::StatusAnswer()
{
  const double whole = std::floor(std::abs(UnreportedRevs) + CountTolerance);
  const bool backward = whole > 0.0 ? UnreportedRevs < 0.0 : MovingBackward();
  UnreportedRevs -= std::copysign(whole, UnreportedRevs);
  const auto count = static_cast<unsigned>(std::min(whole, MaxCount));
  const auto status = static_cast<std::uint8_t>((Motor.EncoderPulses > 0 ? FeedbackBit : 0) |
                                                (whole > MaxCount ? OverflowBit : 0) |
                                                (backward ? BackwardBit : 0) | (count >> 8));
  const auto speed = static_cast<std::uint8_t>(std::min(std::lround(std::abs(VelocityRps)), 255L));
  return Sealed(BusAddress, status, static_cast<std::uint8_t>(count & 0xFF), speed);
}

bool TSimController::MovingBackward() const
{
  return VelocityRps != 0.0 ? VelocityRps < 0.0 : Motor.Backward;
}

std::uint8_t TSimController::Address() const
{
  return BusAddress;
}

const TSimMotorSettings& TSimController::Settings() const
{
  return Motor;
}

bool TSimController::Running() const
{
  return IsRunning;
}

double TSimController::Velocity() const
{
  return VelocityRps;
}

double TSimController::Position() const
{
  return PositionRevs;
}

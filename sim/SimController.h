#pragma once

#include "SimFaults.h"
#include "protocol/CommonDatas.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

// The settings a controller takes from the console's commands.
struct TSimMotorSettings {
  std::uint8_t EncoderPulses = 2;
  std::uint8_t MaxSpeedRps = 67;
  std::uint8_t SetSpeedRps = 16;
  std::uint8_t Acceleration = 24; // rev/s per second
  std::uint8_t Deceleration = 24; // rev/s per second
  bool Backward = false;

  bool operator==(const TSimMotorSettings&) const = default;
};

// One controller on the line: its settings, the motor's motion and the address procedure.
// Pure logic without threads or I/O; the caller hands in the time, so every run is the same.
class TSimController {
public:
  using TTime = std::chrono::steady_clock::time_point;

  explicit TSimController(std::uint8_t address);

  // Frames to its own bus address or to everyone concern it.
  bool Accepts(std::uint8_t address) const;
  // A complete frame whose CRC was checked. Returns the answer; broadcasts are never answered.
  std::optional<TFrame> HandleFrame(std::span<const std::uint8_t> frame, TTime now);
  // Brings the motion up to now; time never runs backwards.
  void AdvanceTo(TTime now);

  // What this controller does wrong; it stays with the controller when its address changes.
  void SetFaults(const TSimControllerFaults& faults);
  const TSimControllerFaults& Faults() const;
  // How late its answer to this command comes once, switching that fault off; 0 when it comes on time.
  unsigned TakeLateOnce(std::uint8_t command);

  void PressButton();
  bool WaitingForButton() const;

  std::uint8_t Address() const;
  const TSimMotorSettings& Settings() const;
  bool Running() const;
  double Velocity() const; // rev/s, negative backward
  double Position() const; // revolutions since power-up, negative backward

private:
  void Apply(std::uint8_t command, std::uint8_t value);
  void BeginAddressSetting(std::uint8_t address);
  void EndAddressSetting();
  void Move(TTime now);
  double TargetVelocity() const;
  double Ramp(double seconds);
  void Travel(double revolutions);
  TFrame StatusAnswer();
  bool MovingBackward() const;

  std::uint8_t BusAddress;
  TSimMotorSettings Motor;
  bool IsRunning = false;
  double VelocityRps = 0.0;
  double PositionRevs = 0.0;
  double UnreportedRevs = 0.0; // travel the counter took in since the last status answer
  TTime LastUpdate{};
  TSimControllerFaults Faulty;
  TTime RunStart{};
  bool Stalled = false;

  bool Waiting = false;
  std::uint8_t PendingAddress = 0;
  std::optional<std::uint8_t> ChosenAddress;
};

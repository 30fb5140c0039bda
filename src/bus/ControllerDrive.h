#pragma once

#include "motor/MotorParameters.h"
#include "motor/PanelFields.h"
#include "motor/WorkParameters.h"
#include "protocol/CommonDatas.h"
#include "protocol/OzmCommands.h"
#include "protocol/SilentView.h"

#include <optional>
#include <span>

// One controller driven without a window (ozmetctl, a test sequence): the window's own record, frame
// builder and panels' Apply, so that every frame is checked, rounded and built exactly as the window does.
class TControllerDrive {
public:
  TControllerDrive();
  TControllerDrive(const TControllerDrive&) = delete;
  TControllerDrive& operator=(const TControllerDrive&) = delete;

  // The motor panel's Apply: takes address, encoder, maximum speed and ratio into the record and
  // queues the encoder and maximum speed frames. The refused field when there is one; then nothing is taken.
  std::optional<TFieldFault> ApplyMotor(const TMotorFields& fields);
  // The operation panel's Apply: queues acceleration, deceleration, direction and speed.
  std::optional<TFieldFault> ApplyWork(const TWorkFields& fields);
  // The values in force, as the panels show them after Apply: what the controller got.
  TMotorFields MotorInForce() const;
  TWorkFields WorkInForce() const;
  void Queue(std::uint8_t command, std::uint8_t value);
  std::span<const TFrame> Queued() const;
  void ClearQueue();

  TStatusRequest StatusRequest() const;
  // Decodes a status answer whose checksum was checked; returns the revolutions it reported.
  std::int32_t Decode(const TFrame& answer);

  TCommonDatas Datas;

private:
  TSilentView View;
  TOzmCommands Commands;
  TMotorParameters Motor;
  TWorkParameters Work;
};

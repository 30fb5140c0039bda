#pragma once

#include "CommonDatas.h"
#include "ConsoleForms.h"
#include "SilentView.h"
#include "MotorParameters.h"
#include "OzmCommands.h"
#include "WorkParameters.h"

#include <span>

// One controller as ozmetctl knows it: the window's own record, frame builder and panels' Apply, so
// that the tool checks, rounds and builds every frame exactly as the window does.
class TCtlDrive {
public:
  TCtlDrive();
  TCtlDrive(const TCtlDrive&) = delete;
  TCtlDrive& operator=(const TCtlDrive&) = delete;

  // The motor panel's Apply: takes address, encoder, maximum speed and ratio into the record and
  // queues the encoder and maximum speed frames. Throws a usage TCtlError naming a refused field.
  void ApplyMotor(const TMotorFields& fields);
  // The operation panel's Apply: queues acceleration, deceleration, direction and speed.
  void ApplyWork(const TWorkFields& fields);
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

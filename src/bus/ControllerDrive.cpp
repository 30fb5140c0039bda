#include "bus/ControllerDrive.h"

#include <cmath>

TControllerDrive::TControllerDrive() : Commands(Datas, View), Motor(Datas, Commands, View), Work(Datas, Commands, View)
{
}

std::optional<TFieldFault> TControllerDrive::ApplyMotor(const TMotorFields& fields)
{
  if (auto fault = TMotorParameters::FirstFault(fields))
    return fault;
  TMotorFields taken = fields;
  Motor.ApplyMotorParameters(taken);
  // Speeds are the motor's divided by the ratio: a tiny ratio gives none that a number can hold.
  if (!std::isfinite(Datas.MaxSpeedRps * 60.0 / Datas.GearRatio) || !std::isfinite(255 * 60.0 / Datas.GearRatio))
    return TFieldFault{TField::GearRatio, "", "too small: no number holds the speeds"};
  return std::nullopt;
}

std::optional<TFieldFault> TControllerDrive::ApplyWork(const TWorkFields& fields)
{
  if (auto fault = TWorkParameters::FirstFault(fields, Datas.GearRatio))
    return fault;
  TWorkFields taken = fields;
  Work.ApplyOperationParameters(taken);
  return std::nullopt;
}

TMotorFields TControllerDrive::MotorInForce() const
{
  return Motor.StoredFields();
}

TWorkFields TControllerDrive::WorkInForce() const
{
  return Work.StoredFields();
}

void TControllerDrive::Queue(std::uint8_t command, std::uint8_t value)
{
  Commands.QueueFrame(command, value);
}

std::span<const TFrame> TControllerDrive::Queued() const
{
  return std::span(Datas.CommandQueue).first(Datas.QueueCount);
}

void TControllerDrive::ClearQueue()
{
  Datas.ClearQueue();
}

TStatusRequest TControllerDrive::StatusRequest() const
{
  return TOzmCommands::StatusRequestFor(Datas.MotorAddress);
}

std::int32_t TControllerDrive::Decode(const TFrame& answer)
{
  const std::int32_t before = Datas.MotorRevCounter;
  Commands.DecodeAnswer(answer);
  // The counter wraps like the controller's, so the difference is taken the same way.
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(Datas.MotorRevCounter) -
                                   static_cast<std::uint32_t>(before));
}

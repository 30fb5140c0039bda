#include "CtlDrive.h"

#include "CtlError.h"

#include <array>
#include <cmath>

namespace {

// The option that carries each field, in TField's order.
constexpr std::array<const char*, 10> FieldOptions{"--address", "--encoder",   "--max-speed", "--ratio",
                                                    "--speed",   "--accel",     "--decel",     "--direction",
                                                    "motion",    "--for"};

// The text the operator gave for a field, to be quoted in the message that refuses it.
std::string TextOf(TField field, const TMotorFields& motor, const TWorkFields& work)
{
  switch (field) {
  case TField::Address: return motor.Address;
  case TField::Encoder: return motor.Encoder;
  case TField::MaxSpeed: return motor.MaxSpeed;
  case TField::GearRatio: return motor.GearRatio;
  case TField::Speed: return work.Speed;
  case TField::Accel: return work.Accel;
  case TField::Decel: return work.Decel;
  case TField::Time: return work.Time;
  default: return "";
  }
}

// One style for every refused value: --accel: "30" is outside 1..24
void Refuse(const std::optional<TFieldFault>& fault, const TMotorFields& motor, const TWorkFields& work = {})
{
  if (fault)
    throw TCtlError(TCtlError::Usage, std::string(FieldOptions[static_cast<std::size_t>(fault->Field)]) + ": \"" +
                                          TextOf(fault->Field, motor, work) + "\" is " + fault->Reason);
}

} // namespace

TCtlDrive::TCtlDrive() : Commands(Datas, View), Motor(Datas, Commands, View), Work(Datas, Commands, View)
{
}

void TCtlDrive::ApplyMotor(const TMotorFields& fields)
{
  Refuse(TMotorParameters::FirstFault(fields), fields);
  TMotorFields taken = fields;
  Motor.ApplyMotorParameters(taken);
  // Speeds are the motor's divided by the ratio: a tiny ratio gives none that a number can hold.
  if (!std::isfinite(Datas.MaxSpeedRps * 60.0 / Datas.GearRatio) || !std::isfinite(255 * 60.0 / Datas.GearRatio))
    throw TCtlError(TCtlError::Usage, "--ratio: \"" + fields.GearRatio + "\" is too small: no number holds the speeds");
}

void TCtlDrive::ApplyWork(const TWorkFields& fields)
{
  Refuse(TWorkParameters::FirstFault(fields, Datas.GearRatio), {}, fields);
  TWorkFields taken = fields;
  Work.ApplyOperationParameters(taken);
}

TMotorFields TCtlDrive::MotorInForce() const
{
  return Motor.StoredFields();
}

TWorkFields TCtlDrive::WorkInForce() const
{
  return Work.StoredFields();
}

void TCtlDrive::Queue(std::uint8_t command, std::uint8_t value)
{
  Commands.QueueFrame(command, value);
}

std::span<const TFrame> TCtlDrive::Queued() const
{
  return std::span(Datas.CommandQueue).first(Datas.QueueCount);
}

void TCtlDrive::ClearQueue()
{
  Datas.ClearQueue();
}

TStatusRequest TCtlDrive::StatusRequest() const
{
  return TOzmCommands::StatusRequestFor(Datas.MotorAddress);
}

std::int32_t TCtlDrive::Decode(const TFrame& answer)
{
  const std::int32_t before = Datas.MotorRevCounter;
  Commands.DecodeAnswer(answer);
  // The counter wraps like the controller's, so the difference is taken the same way.
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(Datas.MotorRevCounter) -
                                   static_cast<std::uint32_t>(before));
}

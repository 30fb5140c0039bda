#include "motor/WorkParameters.h"

#include "files/NumberFormat.h"
#include "motor/ValueReader.h"
#include "protocol/CommonDatas.h"
#include "protocol/ConsoleView.h"
#include "protocol/OzmCommands.h"

#include <cmath>

namespace {

constexpr std::int32_t MaxOutputRpm = 1500000;
constexpr double MaxMotorRpm = 15000;
constexpr std::int32_t MinRamp = 1;
constexpr std::int32_t MaxRamp = 24;
constexpr std::int32_t MaxMotionSeconds = 3600000;

// The controller runs only below its maximum speed: one step down from it or above. Never below 0,
// where the byte would wrap to 255.
std::uint8_t WorkSpeedRps(double motorRpm, std::uint8_t maxSpeedRps)
{
  std::uint8_t rps = TOzmCommands::RpmToRps(motorRpm);
  if (rps >= maxSpeedRps && rps > 0)
    --rps;
  return rps;
}

} // namespace

TWorkParameters::TWorkParameters(TCommonDatas& datas, TOzmCommands& commands, TConsoleView& view)
    : Datas(datas), Commands(commands), View(view)
{
}

std::optional<TFieldFault> TWorkParameters::FirstFault(const TWorkFields& fields, double gearRatio)
{
  if (auto fault = ValueFault(TField::Speed, fields.Speed, 0, MaxOutputRpm))
    return fault;
  const double motorRpm = *ParseValue(fields.Speed) * gearRatio;
  if (!(0 <= motorRpm && motorRpm <= MaxMotorRpm))
    return TFieldFault{TField::Speed, SpeedMessage,
                       "motor speed " + FormatGeneral(motorRpm) + " rpm outside 0.." + FormatGeneral(MaxMotorRpm) +
                           " at ratio " + FormatGeneral(gearRatio)};
  if (auto fault = ValueFault(TField::Accel, fields.Accel, MinRamp, MaxRamp))
    return fault;
  if (auto fault = ValueFault(TField::Decel, fields.Decel, MinRamp, MaxRamp))
    return fault;
  if (fields.MotionType == 1)
    return ValueFault(TField::Time, fields.Time, 1, MaxMotionSeconds);
  return std::nullopt;
}

bool TWorkParameters::ApplyOperationParameters(TWorkFields& fields)
{
  if (const std::optional<TFieldFault> fault = FirstFault(fields, Datas.GearRatio)) {
    if (!fault->Message.empty())
      View.ShowMessage(fault->Message);
    return false;
  }
  const bool timed = fields.MotionType == 1;
  const double speed = *ParseValue(fields.Speed);
  const double accel = *ParseValue(fields.Accel);
  const double decel = *ParseValue(fields.Decel);
  const double seconds = timed ? *ParseValue(fields.Time) : 0;

  Datas.MotionType = timed;
  if (timed)
    Datas.MotionTimeMs = static_cast<std::uint32_t>(seconds * 1000);
  SetRamp(Datas.Acceleration, CmdSetAccel, accel, fields.Accel);
  SetRamp(Datas.Deceleration, CmdSetDecel, decel, fields.Decel);
  Datas.WorkDirection = fields.Direction == 1;
  Commands.QueueFrame(CmdSetDirection, Datas.WorkDirection);
  Datas.WorkSpeedRps = WorkSpeedRps(speed * Datas.GearRatio, Datas.MaxSpeedRps);
  fields.Speed = OutputSpeedText();
  Commands.QueueFrame(CmdSetSpeed, Datas.WorkSpeedRps);
  return true;
}

TWorkFields TWorkParameters::StoredFields() const
{
  TWorkFields fields;
  fields.Speed = OutputSpeedText();
  fields.Accel = std::to_string(Datas.Acceleration);
  fields.Decel = std::to_string(Datas.Deceleration);
  fields.Time = Datas.MotionType == 1 ? std::to_string(Datas.MotionTimeMs / 1000) : "";
  fields.Direction = Datas.WorkDirection;
  fields.MotionType = Datas.MotionType;
  return fields;
}

void TWorkParameters::SetRamp(std::uint8_t& ramp, std::uint8_t command, double value, std::string& field)
{
  ramp = static_cast<std::uint8_t>(value);
  field = std::to_string(ramp);
  Commands.QueueFrame(command, ramp);
}

// What the operator sees is the output speed the controller's whole rps give, cut to whole rpm.
// FormatGeneral rather than an integer cast, so that an absurdly small ratio cannot overflow.
std::string TWorkParameters::OutputSpeedText() const
{
  return FormatGeneral(std::trunc(Datas.WorkSpeedRps * 60 / Datas.GearRatio));
}

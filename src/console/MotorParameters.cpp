#include "MotorParameters.h"

#include "CommonDatas.h"
#include "ConsoleView.h"
#include "NumberFormat.h"
#include "OzmCommands.h"
#include "ValueReader.h"

#include <cstdint>

namespace {
constexpr std::int32_t MaxAddress = 254; // 255 is the broadcast address
constexpr std::int32_t MaxMotorRpm = 15000;
constexpr std::int32_t MaxEncoderPulses = 255;
} // namespace

TMotorParameters::TMotorParameters(TCommonDatas& datas, TOzmCommands& commands, TConsoleView& view)
    : Datas(datas), Commands(commands), View(view)
{
}

bool TMotorParameters::ApplyMotorParameters(TMotorFields& fields)
{
  double address = 0;
  double maximum = 0;
  double ratio = 0;
  double pulses = 0;
  if (!ReadValueInRange(fields.Address, 0, MaxAddress, address, View) ||
      !ReadValueInRange(fields.MaxSpeed, 0, MaxMotorRpm, maximum, View) || !ReadGearRatio(fields.GearRatio, ratio) ||
      !ReadValueInRange(fields.Encoder, 0, MaxEncoderPulses, pulses, View))
    return false;

  // The address first: both frames go to the motor just set.
  Datas.MotorAddress = static_cast<std::uint8_t>(address);
  Datas.EncoderPulses = static_cast<std::uint8_t>(pulses);
  Commands.QueueFrame(CmdSetEncoder, Datas.EncoderPulses);
  Datas.MaxSpeedRps = TOzmCommands::RpmToRps(maximum);
  fields.MaxSpeed = StoredFields().MaxSpeed;
  Commands.QueueFrame(CmdSetMaxSpeed, Datas.MaxSpeedRps);
  Datas.SetGearRatio(ratio);
  return true;
}

TMotorFields TMotorParameters::StoredFields() const
{
  return {"$" + TOzmCommands::HexByte(Datas.MotorAddress), std::to_string(Datas.EncoderPulses),
          std::to_string(Datas.MaxSpeedRps * 60), FormatGeneral(Datas.GearRatio)};
}

std::string TMotorParameters::MaxGearedSpeedText() const
{
  return "Max. output speed after gearhead: " + FormatGeneral(Datas.MaxSpeedRps * 60 / Datas.GearRatio) + " rpm";
}

bool TMotorParameters::ReadGearRatio(const std::string& text, double& ratio) const
{
  // ParseReal gives only finite numbers; the speeds are divided by the ratio.
  if (ParseReal(text, ratio) && ratio > 0)
    return true;
  View.ShowMessage(RatioMessage);
  return false;
}

#include "motor/MotorParameters.h"

#include "files/NumberFormat.h"
#include "motor/ValueReader.h"
#include "protocol/CommonDatas.h"
#include "protocol/ConsoleView.h"
#include "protocol/OzmCommands.h"

#include <cstdint>

namespace {
constexpr std::int32_t MaxMotorRpm = 15000;
constexpr std::int32_t MaxEncoderPulses = 255;

// ParseReal gives only finite numbers; the speeds are divided by the ratio.
std::optional<double> GearRatio(const std::string& text)
{
  double ratio = 0;
  if (ParseReal(text, ratio) && ratio > 0)
    return ratio;
  return std::nullopt;
}
} // namespace

TMotorParameters::TMotorParameters(TCommonDatas& datas, TOzmCommands& commands, TConsoleView& view)
    : Datas(datas), Commands(commands), View(view)
{
}

std::optional<TFieldFault> TMotorParameters::FirstFault(const TMotorFields& fields)
{
  if (auto fault = ValueFault(TField::Address, fields.Address, 0, MaxAddress))
    return fault;
  if (auto fault = ValueFault(TField::MaxSpeed, fields.MaxSpeed, 0, MaxMotorRpm))
    return fault;
  if (!GearRatio(fields.GearRatio))
    return TFieldFault{TField::GearRatio, RatioMessage, "not a number above 0"};
  return ValueFault(TField::Encoder, fields.Encoder, 0, MaxEncoderPulses);
}

bool TMotorParameters::ApplyMotorParameters(TMotorFields& fields)
{
  if (const std::optional<TFieldFault> fault = FirstFault(fields)) {
    if (!fault->Message.empty())
      View.ShowMessage(fault->Message);
    return false;
  }
  const std::int32_t address = *ParseValue(fields.Address);
  const std::int32_t maximum = *ParseValue(fields.MaxSpeed);
  const double ratio = *GearRatio(fields.GearRatio);
  const std::int32_t pulses = *ParseValue(fields.Encoder);

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
  return {TOzmCommands::HexAddress(Datas.MotorAddress), std::to_string(Datas.EncoderPulses),
          std::to_string(Datas.MaxSpeedRps * 60), FormatGeneral(Datas.GearRatio)};
}

std::string TMotorParameters::MaxGearedSpeedText() const
{
  return "Max. output speed after gearhead: " + FormatGeneral(Datas.MaxSpeedRps * 60 / Datas.GearRatio) + " rpm";
}

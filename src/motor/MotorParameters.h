#pragma once

#include "motor/PanelFields.h"

#include <cstdint>
#include <optional>
#include <string>

class TCommonDatas;
class TConsoleView;
class TOzmCommands;

// The motor panel's Apply and Cancel: checks what the operator typed, takes it into the record and
// queues the frames that set the controller.
class TMotorParameters {
public:
  static constexpr const char* RatioMessage = "Enter correct reduction ration";
  static constexpr std::int32_t MaxAddress = 254; // 255 is the broadcast address

  TMotorParameters(TCommonDatas& datas, TOzmCommands& commands, TConsoleView& view);

  // The first field that Apply refuses, in the order Apply checks them: address, maximum speed,
  // ratio, encoder. Nothing when all four would be taken.
  static std::optional<TFieldFault> FirstFault(const TMotorFields& fields);

  // Every field is checked before anything is stored; on a fault nothing is stored or queued.
  // On success queues the encoder and maximum speed frames to the new address and rewrites
  // fields.MaxSpeed with the speed in whole revolutions per second that the controller gets.
  bool ApplyMotorParameters(TMotorFields& fields);
  // The parameters in force, as Cancel writes them back.
  TMotorFields StoredFields() const;
  std::string MaxGearedSpeedText() const;

private:
  TCommonDatas& Datas;
  TOzmCommands& Commands;
  TConsoleView& View;
};

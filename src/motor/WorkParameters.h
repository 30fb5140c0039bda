#pragma once

#include "motor/PanelFields.h"

#include <cstdint>
#include <optional>
#include <string>

class TCommonDatas;
class TConsoleView;
class TOzmCommands;

// The operation panel's Apply and Cancel: checks what the operator typed, takes it into the record and
// queues the frames that set the controller. The speed typed is the output speed after the gearhead.
class TWorkParameters {
public:
  static constexpr const char* SpeedMessage =
      "Enter correct operation speed according to the maximum motor speed and reduction ratio";

  TWorkParameters(TCommonDatas& datas, TOzmCommands& commands, TConsoleView& view);

  // The first field that Apply refuses, in the order Apply checks them: speed (also against the
  // fastest motor at gearRatio), acceleration, deceleration, then the time of a timed motion.
  // Nothing when Apply would take them all.
  static std::optional<TFieldFault> FirstFault(const TWorkFields& fields, double gearRatio);

  // Every field is checked before anything is stored; on a fault nothing is stored or queued.
  // The time is read only for a timed motion. Direction 1 is backward and MotionType 1 is timed;
  // any other item (none selected is -1) counts as forward and continuous, the defaults.
  // On success queues the acceleration, deceleration, direction and speed frames, in that order,
  // and rewrites Accel, Decel and Speed with what the controller gets.
  bool ApplyOperationParameters(TWorkFields& fields);
  // The parameters in force, as Cancel writes them back; Time is empty for a continuous motion.
  TWorkFields StoredFields() const;

private:
  void SetRamp(std::uint8_t& ramp, std::uint8_t command, double value, std::string& field);
  std::string OutputSpeedText() const;

  TCommonDatas& Datas;
  TOzmCommands& Commands;
  TConsoleView& View;
};

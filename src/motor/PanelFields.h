#pragma once

#include <cstdint>
#include <string>

// What the operator typed into the motor panel, and what Apply or Cancel writes back.
struct TMotorFields {
  std::string Address = "$00";
  std::string Encoder = "2";
  std::string MaxSpeed = "4000";
  std::string GearRatio = "1";
};

// The operation panel: texts, the selected direction item (0 forward, 1 backward) and the selected
// motion type item (0 continuous, 1 timed).
struct TWorkFields {
  std::string Speed = "1000";
  std::string Accel = "24";
  std::string Decel = "24";
  std::string Time;
  int Direction = 0;
  int MotionType = 0;
};

// The fields of both panels, in the order a parameter file lists them.
enum class TField { Address, Encoder, MaxSpeed, GearRatio, Speed, Accel, Decel, Direction, MotionType, Time };

// Why a panel refuses a field. Message is what the window shows, empty where a field is refused
// silently (a whole number outside its range); Reason says it plainly, for a file reader.
struct TFieldFault {
  TField Field;
  std::string Message;
  std::string Reason;
};

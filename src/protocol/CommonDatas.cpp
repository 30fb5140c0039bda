#include "protocol/CommonDatas.h"

TCommonDatas::TCommonDatas()
{
  ClearQueue();
}

void TCommonDatas::ClearQueue()
{
  for (TFrame& slot : CommandQueue)
    slot[0] = 0;
  QueueCount = 0;
}

void TCommonDatas::SetMotorRevCounter(std::int32_t value)
{
  MotorRevCounter = value;
}

void TCommonDatas::SetGearRatio(double value)
{
  GearRatio = value;
}

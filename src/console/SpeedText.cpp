#include "console/SpeedText.h"

#include <cmath>

int SpeedDecimals(double step)
{
  return std::abs(step - std::round(step)) < 1e-9 ? 0 : 1;
}

QString RpmText(double rpm, double gearRatio)
{
  return QString::number(rpm, 'f', SpeedDecimals(60.0 / gearRatio)) + " rpm";
}

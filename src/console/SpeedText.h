#pragma once

#include <QString>

// One way to show a speed in every view: whole rpm while the controller's speed step (60 / ratio rpm)
// is whole, one decimal otherwise, so the same answer reads the same in the bus view and the sequence panel.
int SpeedDecimals(double step);
QString RpmText(double rpm, double gearRatio);

#pragma once

#include <QFont>

// The forms' face, "MS Sans Serif", with the desktop's own family behind it where that face is
// missing. A point size of 0 keeps the desktop's size.
QFont ClassicFont(int pointSize = 0, bool bold = false);

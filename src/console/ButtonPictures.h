#pragma once

#include <QColor>
#include <QPixmap>

// The pictures of the motion buttons and the collapse strip, drawn on white inside a grey frame.
enum class TPictureShape { TriangleLeft, TriangleRight, Square };

QPixmap ButtonPicture(TPictureShape shape, const QColor& colour, int width, int height);
// Two small arrowheads on the 12-pixel strip: green pointing right above red pointing left.
QPixmap CollapseStripPicture();

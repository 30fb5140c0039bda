#include "widgets/ClassicFont.h"

#include <QApplication>

QFont ClassicFont(int pointSize, bool bold)
{
  QFont face = QApplication::font();
  face.setFamilies({"MS Sans Serif", face.family()});
  if (pointSize > 0)
    face.setPointSize(pointSize);
  face.setBold(bold);
  return face;
}

#include "console/ButtonPictures.h"

#include <QPainter>
#include <QPolygon>

namespace {

QPolygon Triangle(bool pointsRight, const QRect& box)
{
  if (pointsRight)
    return QPolygon({box.topLeft(), QPoint(box.right(), box.center().y()), box.bottomLeft()});
  return QPolygon({box.topRight(), QPoint(box.left(), box.center().y()), box.bottomRight()});
}

} // namespace

QPixmap ButtonPicture(TPictureShape shape, const QColor& colour, int width, int height)
{
  QPixmap picture(width, height);
  picture.fill(Qt::white);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QColor(128, 128, 128));
  painter.drawRect(0, 0, width - 1, height - 1);
  painter.setPen(Qt::NoPen);
  painter.setBrush(colour);
  const QRect inner(4, 6, width - 9, height - 13);
  if (shape == TPictureShape::Square) {
    const int side = std::min(inner.width(), inner.height());
    painter.drawRect(QRect(0, 0, side, side).translated(inner.center() - QPoint(side / 2, side / 2)));
  } else {
    painter.drawPolygon(Triangle(shape == TPictureShape::TriangleRight, inner));
  }
  return picture;
}

QPixmap CollapseStripPicture()
{
  QPixmap picture(12, 50);
  picture.fill(Qt::white);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0, 128, 0));
  painter.drawPolygon(Triangle(true, QRect(3, 12, 6, 10)));
  painter.setBrush(QColor(255, 0, 0));
  painter.drawPolygon(Triangle(false, QRect(3, 28, 6, 10)));
  return picture;
}

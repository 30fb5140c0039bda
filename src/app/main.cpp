// The Ozmet console: one window that drives the motor controllers on a serial line.
#include "Form1.h"

#include <QApplication>

int main(int argc, char** argv)
{
  QApplication app(argc, argv);
  QApplication::setApplicationName("Ozmet - v.5.0.e");
  TForm1 window((QApplication::applicationDirPath() + "/Data").toStdString());
  window.show();
  return QApplication::exec();
}

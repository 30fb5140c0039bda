#pragma once

#include <QWidget>

class QComboBox;
class TDialogHost;
class TRadioGroup;

// "Port parameters": data bits, stop bits, parity and baud rate of the port, applied at once by OK.
// Shown not modal; every close frees it, and the menu builds a fresh one.
class TFormByteLen : public QWidget {
  Q_OBJECT
public:
  explicit TFormByteLen(TDialogHost& main);

  void ButtonOKClick();
  void Button1Click();
  // A refresh of the main window's port buttons greys the data bits for the rest of this instance.
  void DisableDataBits();

private:
  void FormCreate();
  void ApplyStopBits();
  void ApplyBaudRate();

  TDialogHost& Main;
  TRadioGroup* rgrDataLen = nullptr;
  TRadioGroup* rgrStopBits = nullptr;
  TRadioGroup* rgrParity = nullptr;
  QComboBox* cbPortSpeed = nullptr;
};

#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class TDialogHost;
class TRadioGroup;

// "Port parameters": data bits, stop bits, parity, baud rate and RS-485 mode of the port, applied at
// once by OK.
// Shown not modal; every close frees it, and the menu builds a fresh one.
class TFormByteLen : public QWidget {
  Q_OBJECT
public:
  explicit TFormByteLen(TDialogHost& main);

  void ButtonOKClick();
  void Button1Click();
  // A refresh of the main window's port buttons greys the data bits for the rest of this instance.
  void DisableDataBits();
  // The RS-485 choice of the last OK, kept in the settings (the port settings file has no room for it).
  static bool StoredRs485();

private:
  void FormCreate();
  void ApplyStopBits();
  void ApplyBaudRate();
  void ApplyRs485();

  TDialogHost& Main;
  TRadioGroup* rgrDataLen = nullptr;
  TRadioGroup* rgrStopBits = nullptr;
  TRadioGroup* rgrParity = nullptr;
  QComboBox* cbPortSpeed = nullptr;
  QCheckBox* cbRs485 = nullptr;
};

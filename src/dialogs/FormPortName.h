#pragma once

#include <QWidget>

class QPushButton;
class TDialogHost;
class TRadioGroup;
class TSpinEdit;

// "Port number": the operator picks COM 1 to 4 or another number up to 255; OK stores it and opens
// the port again. Shown not modal; every close frees it, and the menu builds a fresh one.
class TFormPortName : public QWidget {
  Q_OBJECT
public:
  explicit TFormPortName(TDialogHost& main);

  void rgrPortNameClick();
  void ButtonOKClick();

private:
  void FormCreate();

  TDialogHost& Main;
  TRadioGroup* rgrPortName = nullptr;
  TSpinEdit* SpinEditPortName = nullptr;
  QPushButton* ButtonOK = nullptr;
};

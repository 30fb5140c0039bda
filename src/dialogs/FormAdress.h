#pragma once

#include <QWidget>

class QLineEdit;
class TDialogHost;

// "Set new address (controller ID)": its button broadcasts the begin of the address procedure with
// the new address; closing it broadcasts the end. Closing only hides it: it keeps its text.
class TFormAdress : public QWidget {
  Q_OBJECT
public:
  explicit TFormAdress(TDialogHost& main);

  void BtnsetAdressClick();

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  void FormClose();

  TDialogHost& Main;
  QLineEdit* EditAdress = nullptr;
};

#pragma once

#include <QWidget>

class QPushButton;

// The row under the panels: Close port, Open port, Clear operation log.
class TPortStrip : public QWidget {
  Q_OBJECT
public:
  explicit TPortStrip(QWidget* parent);

  // Only the button that makes sense is enabled.
  void ShowPortOpen(bool portOpen);

signals:
  void CloseClicked();
  void OpenClicked();
  void ClearLogClicked();

private:
  QPushButton* BtnClosePort = nullptr;
  QPushButton* BtnOpenPort = nullptr;
};

#pragma once

#include <QFrame>

#include <cstdint>

class QGridLayout;
class QLabel;
struct TStatusTexts;

// The motion buttons and the live status: speed, feedback, the two counters and the direction.
class TOperationPanel : public QFrame {
  Q_OBJECT
public:
  explicit TOperationPanel(QWidget* parent);

  void ShowState(const TStatusTexts& texts);
  // 0 forward, 1 backward; any other value only writes the heading.
  void ShowDirection(std::uint8_t direction);
  void ShowCountersReset();

signals:
  void RunLeftClicked();
  void StopClicked();
  void RunClicked();
  void RunRightClicked();
  void ResetClicked();
  void Button1Clicked();

private:
  void BuildButtons(QGridLayout* grid);
  void BuildStatus(QGridLayout* grid);

  QLabel* lblStabil = nullptr;
  QLabel* lblMotorRates = nullptr;
  QLabel* lblGearedRates = nullptr;
  QLabel* lblCurrentSpeed = nullptr;
  QLabel* lblDir = nullptr;
  QLabel* lblDir0 = nullptr;
  QLabel* lblDir1 = nullptr;
};

#pragma once

#include "console/ParameterPanel.h"
#include "motor/PanelFields.h"

class TRadioGroup;

// "Operation parameters": direction, motion type with its time, speed and the two ramps.
class TWorkPanel : public TParameterPanel {
  Q_OBJECT
public:
  explicit TWorkPanel(QWidget* parent);

  TWorkFields Fields() const;
  // Writes every field and both choices as typing and clicking would.
  void SetFields(const TWorkFields& fields);
  // The texts that Apply rewrites with what the controller gets.
  void SetAppliedTexts(const TWorkFields& fields);
  void SetDirection(int direction);
  bool Timed() const;

private:
  TRadioGroup* rgrWorkDirection = nullptr;
  TRadioGroup* rgrWorkMove = nullptr;
  QLineEdit* EditWorkTime = nullptr;
  QLineEdit* EditWorkSpeed = nullptr;
  QLineEdit* EditWorkAccel = nullptr;
  QLineEdit* EditWorkDecel = nullptr;
};

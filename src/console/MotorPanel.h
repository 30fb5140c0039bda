#pragma once

#include "console/ParameterPanel.h"
#include "motor/PanelFields.h"

#include <string>

class QLabel;

// "Motor parameters": the address, encoder, maximum speed and reduction ratio as typed.
class TMotorPanel : public TParameterPanel {
  Q_OBJECT
public:
  explicit TMotorPanel(QWidget* parent);

  TMotorFields Fields() const;
  // Writes every field as typing would: the panel turns edited until it is marked clean.
  void SetFields(const TMotorFields& fields);
  void SetMaxSpeedText(const std::string& text);
  void SetMaxGearedSpeedText(const std::string& text);

signals:
  void LangClicked();

private:
  QLineEdit* EditMotorAddress = nullptr;
  QLineEdit* EditMotorEncoder = nullptr;
  QLineEdit* EditMotorMaxSpeed = nullptr;
  QLineEdit* EditGearRatio = nullptr;
  QLabel* LblMaxGearedSpeed = nullptr;
};

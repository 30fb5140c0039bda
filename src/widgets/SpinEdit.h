#pragma once

#include <QAbstractSpinBox>

// An integer field with up and down buttons that, unlike QSpinBox, lets any number be typed and
// decides only when read: a text that is not an integer reads as the minimum, a value set is pulled
// into the range, and leaving the field replaces a number outside the range by the nearer limit.
class TSpinEdit : public QAbstractSpinBox {
  Q_OBJECT
public:
  TSpinEdit(int minimum, int maximum, QWidget* parent = nullptr);

  int Value() const;
  void SetValue(int value);
  // The text as typed, before it is read as a value.
  QString Text() const;
  void SetText(const QString& text);

signals:
  // A key the field does not take: Enter, or a character other than a digit, a sign or the separator.
  void Refused();

protected:
  // Digits, signs and the decimal separator only; other characters are refused.
  QValidator::State validate(QString& input, int& pos) const override;
  void fixup(QString& input) const override;
  void stepBy(int steps) override;
  StepEnabled stepEnabled() const override;
  void focusOutEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

private:
  bool ReadInteger(int& value) const;
  bool Allowed(QChar c) const;

  const int Minimum;
  const int Maximum;
};

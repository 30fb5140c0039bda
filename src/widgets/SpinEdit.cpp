#include "widgets/SpinEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>

#include <algorithm>

TSpinEdit::TSpinEdit(int minimum, int maximum, QWidget* parent)
    : QAbstractSpinBox(parent), Minimum(minimum), Maximum(maximum)
{
  SetValue(minimum);
  connect(this, &TSpinEdit::Refused, this, [] { QApplication::beep(); });
}

bool TSpinEdit::ReadInteger(int& value) const
{
  bool ok = false;
  const int read = Text().toInt(&ok);
  if (ok)
    value = read;
  return ok;
}

int TSpinEdit::Value() const
{
  int value = Minimum;
  return ReadInteger(value) ? value : Minimum;
}

void TSpinEdit::SetValue(int value)
{
  SetText(QString::number(std::clamp(value, Minimum, Maximum)));
}

QString TSpinEdit::Text() const
{
  return lineEdit()->text();
}

void TSpinEdit::SetText(const QString& text)
{
  lineEdit()->setText(text);
}

bool TSpinEdit::Allowed(QChar c) const
{
  return c.isDigit() || c == '+' || c == '-' || c == locale().decimalPoint().front();
}

QValidator::State TSpinEdit::validate(QString& input, int&) const
{
  const bool allowed = std::all_of(input.begin(), input.end(), [this](QChar c) { return Allowed(c); });
  return allowed ? QValidator::Acceptable : QValidator::Invalid;
}

void TSpinEdit::fixup(QString&) const
{
  // Nothing: the text stays as typed until it is read or the field is left.
}

void TSpinEdit::stepBy(int steps)
{
  SetValue(Value() + steps);
}

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const
{
  return StepUpEnabled | StepDownEnabled;
}

void TSpinEdit::focusOutEvent(QFocusEvent* event)
{
  int value = 0;
  if (ReadInteger(value) && (value < Minimum || value > Maximum))
    SetValue(value);
  QAbstractSpinBox::focusOutEvent(event);
}

void TSpinEdit::keyPressEvent(QKeyEvent* event)
{
  const QString text = event->text();
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  // Control keys (Backspace, Delete, the arrows) carry no printable text and pass.
  const bool refusedCharacter =
      std::any_of(text.begin(), text.end(), [this](QChar c) { return c.isPrint() && !Allowed(c); });
  if (enter || refusedCharacter) {
    emit Refused();
    return;
  }
  QAbstractSpinBox::keyPressEvent(event);
}

#pragma once

#include <QObject>

#include <chrono>
#include <optional>

class QEventLoop;
class QLabel;

// Notes when a label is first painted with a text other than a given one: the moment the operator
// can see a new value, not merely the moment it was set.
class TPaintWatch : public QObject {
public:
  explicit TPaintWatch(QLabel& label);
  ~TPaintWatch() override;

  // Puts `placeholder` in the label and draws it, so the next new text shows as a change.
  void Reset(const QString& placeholder);
  // Runs the event loop until the label is painted with another text; none when the time ran out.
  std::optional<std::chrono::steady_clock::time_point> WaitForNewText(std::chrono::milliseconds timeout);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QLabel& Label;
  QString Placeholder;
  std::optional<std::chrono::steady_clock::time_point> Painted;
  QEventLoop* Loop = nullptr;
};

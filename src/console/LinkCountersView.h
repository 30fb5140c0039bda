#pragma once

#include <QLabel>
#include <QStringList>

class QTimer;
class TLinkCounters;

// The link counters at the right of the bottom line, refreshed once a second: the traffic, then
// each fault once it happens, missing answers in red (a dead line), checksum failures and short
// blocks in orange (a noisy one). A click resets them. Where the port description leaves too little
// room, the traffic goes first, then the time since the last answer: the faults stay in sight.
class TLinkCountersView : public QLabel {
  Q_OBJECT
public:
  TLinkCountersView(TLinkCounters& counters, QWidget* parent);

  void Reset();
  void Refresh();

  // As wide as every counter on one line, and as narrow as the bottom line needs.
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

protected:
  void mousePressEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  static constexpr const char* Explanation =
      "Frames sent (Tx), whole answers received (Rx), and, once they happen, answers missing after the\n"
      "timeout (red: a dead line), checksum failures, short blocks resynchronised and stale bytes that\n"
      "answered no frame (orange: a noisy or late line) and port failures (red); then the time since\n"
      "the last answer. Click to reset.";

  // The counters in the order they are shown, grouped by how long they keep their place.
  struct TParts {
    QStringList Traffic;
    QStringList Faults;
    QStringList Last;
  };

  void ShowWhatFits();
  int TextWidth(const QString& html) const;
  int Surround() const;

  TLinkCounters& Counters;
  QTimer* RefreshTimer = nullptr;
  TParts Parts;
};

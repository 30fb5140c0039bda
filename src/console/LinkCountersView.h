#pragma once

#include <QLabel>

class QTimer;
class TLinkCounters;

// The link counters at the right of the bottom line, refreshed once a second: the traffic, then
// each fault once it happens, missing answers in red (a dead line), checksum failures and short
// blocks in orange (a noisy one). A click resets them.
class TLinkCountersView : public QLabel {
  Q_OBJECT
public:
  TLinkCountersView(TLinkCounters& counters, QWidget* parent);

  void Reset();
  void Refresh();

protected:
  void mousePressEvent(QMouseEvent* event) override;

private:
  TLinkCounters& Counters;
  QTimer* RefreshTimer = nullptr;
};

#pragma once

#include "bus/BusList.h"
#include "protocol/BusListener.h"
#include "protocol/ConsoleView.h"

#include <QObject>

#include <optional>
#include <string>

class QTimer;
class TForm1;

// The bus view's side of the line: the listed controllers of the line in force, each decoded from
// its own answers; while polling, a round of status requests to each in turn, every 500 ms or, when
// a round takes longer, right after it (the panel's own is left to the panel's poll while that runs,
// and every command of the panels overtakes the round); and Stop all. The list is kept in the
// line's file, which ozmetctl's scan --save also writes.
class TBusPoller : public QObject, public TBusListener {
  Q_OBJECT
public:
  explicit TBusPoller(TForm1& form);
  // The window is closing: no more rounds, and the protocol and the exchange stop telling us.
  void Detach();

  TBusList& List() { return Controllers; }
  // The list kept for the line the port leads to now; a line changed since is loaded anew.
  void Reload();
  // Nothing, or why the list could not be kept.
  std::optional<std::string> Save() const;
  std::string FilePath() const;

  void SetPolling(bool on);
  bool Polling() const;
  // A Stop to every listed controller and the panel's own, in list order (the panel's own first
  // when nobody watches: it is the one most likely turning), overtaking what is on the line; one
  // more to each that did not answer.
  void StopAll(bool panelFirst = false);
  // How many Stops a Stop all sends at most: the listed, the panel's own, and those the window ran elsewhere.
  std::size_t StopCount() const;
  // A listed controller whose last answer showed its motor turning, or whose state is not known.
  bool AnyMayRun() const;
  // The window sent a Run to the address, or a Stop to it was answered: its row's mark changes.
  void MayRunChanged(std::uint8_t address) { emit RowChanged(address); }
  // A line of the log, scrolled into view as the panel's lines are: the newest line is never cut.
  void Say(const std::string& text, TLogColour colour);

  void StatusAnswered(std::uint8_t address, std::span<const std::uint8_t> block) override;
  void StatusMissing(std::uint8_t address) override;
  void ExchangeEnded() override;

signals:
  // The list itself changed.
  void Changed();
  // What one controller said changed its row, or whether it may run.
  void RowChanged(std::uint8_t address);
  // A listed controller's status answer was decoded: when it came and its output-shaft speed.
  void SpeedDecoded(std::uint8_t address, qint64 msSinceEpoch, double outputRpm);
  // A listed controller's status request ended: answered soundly, or not (its state is the last known).
  void StatusTold(std::uint8_t address, bool answered);

private:
  void Tick();
  // "Bus: $05 (conveyor)", for the log.
  static std::string Named(const TBusController& controller);
  // The round's addresses: the panel's own only while the panel's poll is off.
  std::vector<std::uint8_t> RoundAddresses() const;

  TForm1& Form;
  TBusList Controllers;
  QTimer* Timer = nullptr;
  std::string Line; // the line the list belongs to, as the port names it
  bool RoundDue = false; // a tick found the line busy: the round goes once it is free
};

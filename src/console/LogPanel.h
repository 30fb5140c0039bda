#pragma once

#include "ConsoleView.h"
#include "LogLine.h"

#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QPlainTextEdit;
class TDailyLogFile;

// The operation log in colour above the send memo. Each line keeps the time it was written beside
// its colour and weight, for saving; the view shows the texts alone.
class TLogPanel : public QWidget {
  Q_OBJECT
public:
  explicit TLogPanel(QWidget* parent);
  ~TLogPanel() override;

  void AppendLog(const std::string& text, TLogColour colour, bool bold);
  void ScrollToEnd();
  void AppendMemo(const std::string& line);
  void ClearMemo();
  // The view only: the daily file keeps every line.
  void ClearLog();
  // The lines in the view, oldest first, with their times.
  std::vector<TLogLine> Lines() const;
  // Every line from now on also goes to a file a day in that folder; none stops it.
  void SetDailyFolder(const std::optional<std::string>& folder);

private:
  struct TStamp {
    std::int64_t MsSinceEpoch;
    TLogColour Colour;
    bool Bold;
  };
  void WriteToDailyFile(const TLogLine& line);

  QPlainTextEdit* lbBufRead = nullptr;
  QPlainTextEdit* MemoSend = nullptr;
  TLogColour LogColour = TLogColour::Blue;
  // One for each line of the view, in order.
  std::vector<TStamp> Stamps;
  bool ScrollPending = false;
  std::unique_ptr<TDailyLogFile> DailyFile;
};

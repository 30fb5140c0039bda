#pragma once

#include "history/LogLine.h"
#include "protocol/ConsoleView.h"

#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <deque>
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
  // The lines the view keeps: a week of polling would otherwise hold millions; the daily file keeps all.
  static constexpr std::size_t MaxLines = 100'000;

  explicit TLogPanel(QWidget* parent);
  ~TLogPanel() override;

  void AppendLog(const std::string& text, TLogColour colour, bool bold);
  void ScrollToEnd();
  void AppendMemo(const std::string& line);
  void ClearMemo();
  // The view only: the daily file keeps every line.
  void ClearLog();
  // The lines in the view, oldest first, with their times; the note on lines dropped is not one.
  std::vector<TLogLine> Lines() const;
  // MaxLines unless a test asks for fewer.
  void SetLineLimit(std::size_t lines);
  std::size_t LineLimit() const { return Limit; }
  // How many of the oldest lines have left the view since it was last cleared.
  std::size_t DroppedLines() const { return Dropped; }
  // Every line from now on also goes to a file a day in that folder, headed by header; none stops it.
  void SetDailyFolder(const std::optional<std::string>& folder, const std::string& header = {});
  // The daily file being written, or empty.
  std::string DailyPath() const;

signals:
  // The daily file could not be written and is off; the log has said why.
  void DailyFileFailed();

private:
  struct TStamp {
    std::int64_t MsSinceEpoch;
    TLogColour Colour;
    bool Bold;
  };
  void WriteToDailyFile(const TLogLine& line);
  void DropOldest();
  std::string DroppedNote() const;

  QPlainTextEdit* lbBufRead = nullptr;
  QPlainTextEdit* MemoSend = nullptr;
  TLogColour LogColour = TLogColour::Blue;
  // One for each line of the view, in order; the note on dropped lines, when there, has none.
  std::deque<TStamp> Stamps;
  std::size_t Limit = MaxLines;
  std::size_t Dropped = 0;
  bool ScrollPending = false;
  std::unique_ptr<TDailyLogFile> DailyFile;
};

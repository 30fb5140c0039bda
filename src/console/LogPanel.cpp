#include "console/LogPanel.h"

#include "history/DailyLogFile.h"
#include "widgets/PanelParts.h"

#include <QDateTime>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QColor LogQColor(TLogColour colour)
{
  switch (colour) {
  case TLogColour::Green: return QColor(0, 128, 0);
  case TLogColour::Red: return QColor(255, 0, 0);
  default: return QColor(0, 0, 255);
  }
}

QPlainTextEdit* ReadOnlyText(const char* name, QWidget* parent)
{
  auto* text = Named<QPlainTextEdit>(name, parent);
  text->setReadOnly(true);
  text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  return text;
}

} // namespace

TLogPanel::TLogPanel(QWidget* parent) : QWidget(parent)
{
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  lbBufRead = ReadOnlyText("lbBufRead", this);
  // A narrow column wraps its long lines: nothing needs sideways scrolling.
  lbBufRead->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  lbBufRead->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  lbBufRead->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // No one undoes a log, and an undo history would keep every dropped line in memory.
  lbBufRead->document()->setUndoRedoEnabled(false);
  MemoSend = ReadOnlyText("MemoSend", this);
  MemoSend->setMaximumHeight(90);
  layout->addWidget(lbBufRead, 1);
  layout->addWidget(MemoSend);
  Hide(Named<QPlainTextEdit>("TempMemo", this));
}

TLogPanel::~TLogPanel() = default;

void TLogPanel::AppendLog(const std::string& text, TLogColour colour, bool bold)
{
  if (colour != TLogColour::InForce)
    LogColour = colour;
  QTextCharFormat format;
  format.setForeground(LogQColor(LogColour));
  format.setFontWeight(bold ? QFont::Bold : QFont::Normal);
  QTextCursor cursor(lbBufRead->document());
  cursor.movePosition(QTextCursor::End);
  if (!Stamps.empty() || Dropped > 0)
    cursor.insertBlock();
  cursor.insertText(QString::fromStdString(text), format);
  Stamps.push_back({QDateTime::currentMSecsSinceEpoch(), LogColour, bold});
  if (Stamps.size() > Limit)
    DropOldest();
  if (DailyFile)
    WriteToDailyFile({Stamps.back().MsSinceEpoch, LogColour, bold, text});
}

void TLogPanel::WriteToDailyFile(const TLogLine& line)
{
  if (DailyFile->Append(line))
    return;
  const std::string problem = DailyFile->Problem();
  DailyFile.reset(); // said once, in the view, rather than failing on every line
  AppendLog("Log file not written: " + problem, TLogColour::Red, false);
  emit DailyFileFailed();
}

namespace {

std::string WithThousands(std::size_t number)
{
  const std::string digits = std::to_string(number);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0)
      grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

} // namespace

std::string TLogPanel::DroppedNote() const
{
  const std::string path = DailyPath();
  return WithThousands(Dropped) + " older lines dropped from the view; the daily file keeps them: " +
         (path.empty() ? "Log > Write the log to a file a day" : path);
}

// The oldest line leaves; the first block of the view, above the lines, counts those gone.
void TLogPanel::DropOldest()
{
  QTextDocument* document = lbBufRead->document();
  QTextCursor cursor(document);
  if (Dropped > 0) { // otherwise the first line's block becomes the note
    cursor.movePosition(QTextCursor::NextBlock);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
  }
  Stamps.pop_front();
  ++Dropped;
  QTextCursor note(document);
  note.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  QTextCharFormat grey;
  grey.setForeground(QColor(128, 128, 128));
  note.insertText(QString::fromStdString(DroppedNote()), grey);
}

// Asks for one move to the newest line when the window next draws: a burst of lines costs one
// move, and a line costs the same at any length of the log.
void TLogPanel::ScrollToEnd()
{
  if (ScrollPending)
    return;
  ScrollPending = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        ScrollPending = false;
        QScrollBar* bar = lbBufRead->verticalScrollBar();
        bar->setValue(bar->maximum());
      },
      Qt::QueuedConnection);
}

void TLogPanel::SetLineLimit(std::size_t lines)
{
  Limit = std::max<std::size_t>(lines, 1);
  while (Stamps.size() > Limit)
    DropOldest();
}

void TLogPanel::AppendMemo(const std::string& line)
{
  MemoSend->appendPlainText(QString::fromStdString(line));
}

void TLogPanel::ClearMemo()
{
  MemoSend->clear();
}

void TLogPanel::ClearLog()
{
  lbBufRead->clear();
  Stamps.clear();
  Dropped = 0;
}

std::vector<TLogLine> TLogPanel::Lines() const
{
  std::vector<TLogLine> lines;
  lines.reserve(Stamps.size());
  QTextBlock block = lbBufRead->document()->firstBlock();
  if (Dropped > 0)
    block = block.next(); // the note
  for (const TStamp& stamp : Stamps) {
    lines.push_back({stamp.MsSinceEpoch, stamp.Colour, stamp.Bold, block.text().toStdString()});
    block = block.next();
  }
  return lines;
}

void TLogPanel::SetDailyFolder(const std::optional<std::string>& folder, const std::string& header)
{
  DailyFile = folder ? std::make_unique<TDailyLogFile>(*folder, header) : nullptr;
}

std::string TLogPanel::DailyPath() const
{
  return DailyFile ? DailyFile->PathFor({QDateTime::currentMSecsSinceEpoch(), TLogColour::Blue, false, {}}) : "";
}

#include "LogPanel.h"

#include "DailyLogFile.h"
#include "PanelParts.h"

#include <QDateTime>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QVBoxLayout>

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
  lbBufRead->setLineWrapMode(QPlainTextEdit::NoWrap);
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
  if (!Stamps.empty())
    cursor.insertBlock();
  cursor.insertText(QString::fromStdString(text), format);
  Stamps.push_back({QDateTime::currentMSecsSinceEpoch(), LogColour, bold});
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
}

std::vector<TLogLine> TLogPanel::Lines() const
{
  std::vector<TLogLine> lines;
  lines.reserve(Stamps.size());
  QTextBlock block = lbBufRead->document()->firstBlock();
  for (const TStamp& stamp : Stamps) {
    lines.push_back({stamp.MsSinceEpoch, stamp.Colour, stamp.Bold, block.text().toStdString()});
    block = block.next();
  }
  return lines;
}

void TLogPanel::SetDailyFolder(const std::optional<std::string>& folder)
{
  DailyFile = folder ? std::make_unique<TDailyLogFile>(*folder) : nullptr;
}

// The operation log as the operator reads it: long lines wrapped in a narrow column, and a view
// that keeps a bounded number of lines.
#include "ConsoleFixture.h"
#include "console/LogPanel.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>

namespace {

// At the window's first size the log column is narrow: the longest lines wrap rather than scroll.
TEST_F(ConsoleTest, LongLogLinesWrapAndNothingScrollsSideways)
{
  const std::string longLine = "No answer from address $00 at 9600 8N1: the controller must have this address and "
                               "these line settings.";
  Form->AppendLog(longLine, TLogColour::Red, false);
  Form->AppendLog("Set operation parameters and run motor", TLogColour::Blue, false);
  auto* log = Find<QPlainTextEdit>("lbBufRead");
  ASSERT_TRUE(WaitFor([&] { return log->document()->lastBlock().layout()->lineCount() > 0; }));
  EXPECT_FALSE(log->horizontalScrollBar()->isVisible());
  EXPECT_EQ(log->horizontalScrollBar()->maximum(), 0) << "nothing lies beyond the right edge";
  const QTextBlock first = log->document()->findBlockByNumber(log->document()->blockCount() - 2);
  EXPECT_EQ(first.text().toStdString(), longLine);
  EXPECT_GT(first.layout()->lineCount(), 1) << "wrapped at " << log->viewport()->width() << " px";
}

// The view's own cap: a week of polling fits in the daily file, not in the window's memory. (How
// the lines beyond it leave, a note above counting them, is shown with a small cap elsewhere.)
TEST(LogView, KeepsAHundredThousandLines)
{
  const TLogPanel log(nullptr);
  EXPECT_EQ(log.LineLimit(), 100'000u);
}

} // namespace

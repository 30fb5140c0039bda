#include "ConsoleFixture.h"

#include "serial/PortSettingsFile.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>

#include "widgets/MessageBox.h"

void WindowTest::SetUp()
{
  SetMessageRecorder([this](const std::string& text) { Messages.push_back(text); });
}

void ConsoleTest::SetUp()
{
  WindowTest::SetUp();
  Sim.Open();
  Data.Link("COM1", Sim.DevicePath());
  ASSERT_TRUE(TPortSettingsFile(Data.Path() + "/portp.dat").Save(1));
  StartWindow();
}

void WindowTest::StartWindow()
{
  Form = std::make_unique<TForm1>(Data.Path());
  Form->show();
}

void WindowTest::TearDown()
{
  Form.reset();
  SetMessageRecorder({});
}

void WindowTest::Type(const char* edit, const std::string& text)
{
  QLineEdit* field = Find<QLineEdit>(edit);
  field->selectAll();
  QTest::keyClicks(field, QString::fromStdString(text));
}

void WindowTest::Click(const char* button)
{
  QAbstractButton* target = Find<QAbstractButton>(button);
  QTest::mouseClick(target, Qt::LeftButton);
}

void WindowTest::ClickChoice(QRadioButton* item)
{
  QTest::mouseClick(item, Qt::LeftButton, {}, QPoint(6, item->height() / 2));
}

std::string WindowTest::Label(const char* name) const
{
  return Find<QLabel>(name)->text().toStdString();
}

namespace {
std::vector<std::string> Lines(const QPlainTextEdit* text)
{
  std::vector<std::string> lines;
  if (text->document()->isEmpty() && text->document()->blockCount() == 1)
    return lines;
  for (const QString& line : text->toPlainText().split('\n'))
    lines.push_back(line.toStdString());
  return lines;
}
} // namespace

std::vector<std::string> WindowTest::LogLines() const
{
  return Lines(Find<QPlainTextEdit>("lbBufRead"));
}

std::vector<WindowTest::TLogLook> WindowTest::LogLooks() const
{
  std::vector<TLogLook> looks;
  const QTextDocument* log = Find<QPlainTextEdit>("lbBufRead")->document();
  for (QTextBlock block = log->begin(); block.isValid(); block = block.next()) {
    // An empty line shows nothing: it has no colour and no weight.
    const QTextCharFormat format = block.begin().atEnd() ? QTextCharFormat() : block.begin().fragment().charFormat();
    looks.push_back({block.text().toStdString(), format.foreground().color(), format.fontWeight() == QFont::Bold});
  }
  return looks;
}

std::vector<std::string> WindowTest::MemoLines() const
{
  return Lines(Find<QPlainTextEdit>("MemoSend"));
}

bool WindowTest::WaitFor(const std::function<bool()>& ready, std::chrono::milliseconds timeout)
{
  return QTest::qWaitFor(ready, static_cast<int>(timeout.count()));
}

std::vector<std::vector<std::uint8_t>> ConsoleTest::FramesSeen() const
{
  std::vector<std::vector<std::uint8_t>> frames;
  for (const TSimTraffic& t : Sim.Traffic())
    if (t.Direction == TSimTraffic::TDirection::Received)
      frames.push_back(t.Bytes);
  return frames;
}

bool WindowTest::PollTimerActive() const
{
  return Find<QTimer>("TimerGetMotorState")->isActive();
}

std::vector<std::string> WindowTest::MessageHeads() const
{
  std::vector<std::string> heads;
  for (const std::string& message : Messages)
    heads.push_back(message.substr(0, message.find('\n')));
  return heads;
}

bool WindowTest::WholeTextShows(const QLabel* label)
{
  QLabel alone;
  alone.setFont(label->font());
  alone.setFrameStyle(label->frameStyle());
  alone.setTextFormat(label->textFormat());
  alone.setText(label->text());
  return alone.sizeHint().width() <= label->width();
}

bool WindowTest::StatusShownUnknown() const
{
  const bool unknown = Label("lblCurrentSpeed").starts_with("Current speed: unknown");
  for (const char* name : {"lblCurrentSpeed", "lblStabil", "lblMotorRates", "lblGearedRates", "lblDir", "lblDir0"})
    EXPECT_EQ(Find(name)->isEnabled(), !unknown) << name << " greyed exactly while the state is unknown";
  return unknown;
}

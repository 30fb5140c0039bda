#include "console/FormBus.h"

#include "bus/BusAddresses.h"
#include "console/BusChartLines.h"
#include "console/BusPoller.h"
#include "console/Form1.h"
#include "console/OperatorExtras.h"
#include "console/SpeedText.h"
#include "protocol/CommonDatas.h"
#include "protocol/OzmCommands.h"
#include "serial/ComPort.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QDateTime>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <functional>
#include <stdexcept>

namespace {

// Long captions on two lines: a caption wider than its numbers would push the speed out of view.
const char* const Headers[] = {"Address",  "Label",       "Speed",   "Direction", "Motor\nrevs",   "Gearmotor\nrevs",
                               "Feedback", "Last answer", "Answers", "Missing",   "Bad checksums", "Chart"};
static_assert(std::size(Headers) == TFormBus::ColumnCount);
// Said in the address cell's tooltip instead: at the window's smallest size the live state stays in view.
const int HiddenColumns[] = {TFormBus::ColLast, TFormBus::ColAnswers, TFormBus::ColMissing, TFormBus::ColBadChecksums};
const int NumberColumns[] = {TFormBus::ColSpeed,   TFormBus::ColMotorRevs, TFormBus::ColGearedRevs,
                             TFormBus::ColAnswers, TFormBus::ColMissing,   TFormBus::ColBadChecksums};

QPushButton* AddButton(QBoxLayout* row, const char* name, const char* text, const char* tip)
{
  auto* button = new QPushButton(text);
  button->setObjectName(name);
  button->setToolTip(tip);
  row->addWidget(button);
  return button;
}

// "Gearmotor revolutions counter: 42.857142857143 rev" as "42.9 rev": the number after the words.
QString Revs(const std::optional<std::string>& text, const char* words, double step)
{
  if (!text)
    return QString();
  const QString number = QString::fromStdString(*text).remove(words).remove(" rev");
  return QString::number(number.toDouble(), 'f', SpeedDecimals(step)) + " rev";
}

QString Clock(std::chrono::system_clock::time_point at)
{
  return QDateTime::fromMSecsSinceEpoch(
             std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count())
      .toString("HH:mm:ss");
}

// Tells the view of each label editor it opens, so that Esc there ends the edit and nothing else.
class TLabelDelegate : public QStyledItemDelegate {
public:
  TLabelDelegate(QObject* parent, std::function<void(QWidget*)> opened)
      : QStyledItemDelegate(parent), Opened(std::move(opened))
  {
  }
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override
  {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    Opened(editor);
    return editor;
  }

private:
  std::function<void(QWidget*)> Opened;
};

} // namespace

TFormBus::TFormBus(TForm1& form, TBusPoller& poller, TBusChartLines& chartLines)
    : QWidget(&form, Qt::Window), Form(form), Poller(poller), ChartLines(chartLines)
{
  setObjectName("FormBus");
  setWindowTitle("Bus");
  BuildWindow();
  connect(&Poller, &TBusPoller::Changed, this, &TFormBus::Refresh);
  TimerBusRedraw = new QTimer(this);
  TimerBusRedraw->setSingleShot(true);
  TimerBusRedraw->setInterval(250);
  connect(TimerBusRedraw, &QTimer::timeout, this, &TFormBus::RefreshRows);
  TimerBusLine = new QTimer(this);
  TimerBusLine->setObjectName("TimerBusLine");
  TimerBusLine->setInterval(LineCheckMs);
  connect(TimerBusLine, &QTimer::timeout, this, &TFormBus::CheckLine);
  connect(&Poller, &TBusPoller::RowChanged, this, &TFormBus::RowChanged);
  Refresh();
}

void TFormBus::BuildWindow()
{
  auto* layout = new QVBoxLayout(this);
  GridBus = new QTableWidget(0, ColumnCount);
  GridBus->setObjectName("GridBus");
  for (int column = 0; column < ColumnCount; ++column)
    GridBus->setHorizontalHeaderItem(column, new QTableWidgetItem(Headers[column]));
  for (int column : HiddenColumns)
    GridBus->setColumnHidden(column, true);
  GridBus->verticalHeader()->hide();
  GridBus->setSelectionBehavior(QAbstractItemView::SelectRows);
  GridBus->setSelectionMode(QAbstractItemView::ExtendedSelection);
  GridBus->setWordWrap(false);
  GridBus->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  GridBus->setItemDelegateForColumn(ColLabel,
                                    new TLabelDelegate(GridBus, [this](QWidget* editor) { WatchLabelEditor(editor); }));
  GridBus->installEventFilter(this);             // Delete removes the selected rows
  GridBus->viewport()->installEventFilter(this); // the label's room follows the width
  connect(GridBus, &QTableWidget::cellChanged, this, &TFormBus::CellEdited);
  connect(GridBus, &QTableWidget::itemSelectionChanged, this, &TFormBus::RowChosen);
  layout->addWidget(GridBus);

  auto* row = new QHBoxLayout;
  EditBusAddresses = new QLineEdit;
  EditBusAddresses->setObjectName("EditBusAddresses");
  EditBusAddresses->setPlaceholderText("address or range: 5, $0A, 1-4, 1-4,9");
  connect(EditBusAddresses, &QLineEdit::returnPressed, this, &TFormBus::BtnBusAddClick);
  row->addWidget(EditBusAddresses);
  connect(AddButton(row, "BtnBusAdd", "Add", "Add these controllers to the list"), &QPushButton::clicked, this,
          &TFormBus::BtnBusAddClick);
  connect(AddButton(row, "BtnBusRemove", "Remove", "Remove the selected controllers from the list (Delete)"),
          &QPushButton::clicked, this, &TFormBus::BtnBusRemoveClick);
  CbBusPoll = new QCheckBox("Poll in turn");
  CbBusPoll->setObjectName("CbBusPoll");
  CbBusPoll->setChecked(true);
  connect(CbBusPoll, &QCheckBox::toggled, this, &TFormBus::UpdatePolling);
  row->addWidget(CbBusPoll);
  row->addStretch();
  QPushButton* stopAll =
      AddButton(row, "BtnStopAll", "Stop all", "Stop every listed controller and the panel's own (Shift+Esc)");
  // The panel's Stop picture: Stop all reads as the Stop it extends, not as the Remove beside it.
  if (const auto* stop = Form.findChild<QAbstractButton*>("BtnStop"))
    stopAll->setIcon(stop->icon());
  connect(stopAll, &QPushButton::clicked, &Poller, [this] { Poller.StopAll(); });
  layout->addLayout(row);
  LblBusFile = new QLabel;
  LblBusFile->setObjectName("LblBusFile");
  LblBusFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(LblBusFile);
  resize(900, 300);
}

void TFormBus::showEvent(QShowEvent* event)
{
  Poller.Reload();
  UpdatePolling();
  TimerBusLine->start();
  QWidget::showEvent(event);
}

void TFormBus::hideEvent(QHideEvent* event)
{
  Poller.SetPolling(false);
  TimerBusLine->stop();
  Line = TLineState::Idle; // shown again, nothing is live before it answers again
  QWidget::hideEvent(event);
}

void TFormBus::UpdatePolling()
{
  Poller.SetPolling(isVisible() && CbBusPoll->isChecked() && !Poller.List().Empty());
  if (isVisible())
    CheckLine();
}

TFormBus::TLineState TFormBus::LineNow() const
{
  if (Form.OperatorExtras().SequenceRunning())
    return TLineState::Paused;
  return Form.ComPort->IsOpen() && Poller.Polling() ? TLineState::Asked : TLineState::Idle;
}

// Nothing tells the view when a sequence takes the line or the panel's address changes: it looks.
void TFormBus::CheckLine()
{
  const TLineState line = LineNow();
  const std::uint8_t panel = Form.Datas->MotorAddress;
  if (line == Line && panel == PanelAddress)
    return;
  if (line == TLineState::Asked && Line != TLineState::Asked)
    AskedSince = std::chrono::system_clock::now();
  if (line != TLineState::Paused)
    RunSamples.clear(); // a run's answers are shown only while it runs
  Line = line;
  PanelAddress = panel;
  for (const TBusController& controller : Poller.List().Controllers())
    StaleRows.insert(controller.Address());
  RefreshRows();
}

bool TFormBus::Live(const TBusController& controller) const
{
  return Line == TLineState::Asked && controller.Known() && controller.LastAnswer() &&
         *controller.LastAnswer() >= AskedSince;
}

void TFormBus::AddAddresses(const std::vector<std::uint8_t>& addresses)
{
  Poller.Reload();
  for (std::uint8_t address : addresses)
    Poller.List().Add(address);
  Keep();
}

void TFormBus::BtnBusAddClick()
{
  try {
    AddAddresses(TBusAddresses::Parse(EditBusAddresses->text().toStdString()));
    EditBusAddresses->clear();
  } catch (const std::invalid_argument& error) {
    Form.ShowMessage(std::string("Not added: ") + error.what());
  }
}

// The addresses are taken before any goes: a row number shifts as the list shrinks.
void TFormBus::BtnBusRemoveClick()
{
  std::vector<std::uint8_t> chosen;
  for (const QModelIndex& index : GridBus->selectionModel()->selectedRows())
    chosen.push_back(Poller.List().Controllers()[static_cast<std::size_t>(index.row())].Address());
  for (std::uint8_t address : chosen)
    Poller.List().Remove(address);
  Keep();
}

// The list is kept at once, so that ozmetctl sees what the operator sees.
void TFormBus::Keep()
{
  if (const auto problem = Poller.Save())
    Poller.Say("Bus list not kept: " + *problem, TLogColour::Red);
  UpdatePolling(); // the tick follows the number of controllers
  Refresh();
}

void TFormBus::Refresh()
{
  Filling = true;
  const int rows = static_cast<int>(Poller.List().Size());
  if (rows != GridBus->rowCount()) // a row gone may have been the widest
    for (int column = 0; column < ColumnCount; ++column)
      ColumnsChanged.insert(column);
  GridBus->setRowCount(rows);
  for (int row = 0; row < rows; ++row)
    FillRow(row);
  FitColumns();
  LblBusFile->setText("Kept in " + QString::fromStdString(Poller.FilePath()));
  ChartLines.Listed(Poller.List());
  Filling = false;
}

void TFormBus::SequenceSampled(const TSample& sample)
{
  RunSamples[sample.Address] = sample;
  if (Line == TLineState::Paused)
    RowChanged(sample.Address);
}

void TFormBus::RowChanged(std::uint8_t address)
{
  StaleRows.insert(address);
  if (!TimerBusRedraw->isActive())
    TimerBusRedraw->start();
}

void TFormBus::RefreshRows()
{
  const auto& controllers = Poller.List().Controllers();
  Filling = true;
  for (std::size_t row = 0; row < controllers.size() && static_cast<int>(row) < GridBus->rowCount(); ++row)
    if (StaleRows.contains(controllers[row].Address()))
      FillRow(static_cast<int>(row));
  FitColumns();
  Filling = false;
  StaleRows.clear();
}

// Fitted whenever a text changed, at most once a redraw: a cut label or a wrapped speed misleads.
// The label takes what the other columns leave, down to a few letters; its tooltip holds it whole.
void TFormBus::FitColumns()
{
  QHeaderView* header = GridBus->horizontalHeader();
  const QAbstractItemView* view = GridBus; // the table keeps its measure protected; the view's is public
  const auto fit = [&](int column) {
    return std::max(view->sizeHintForColumn(column), header->sectionSizeHint(column));
  };
  const auto resize = [&](int column, int width) {
    if (header->sectionSize(column) != width)
      header->resizeSection(column, width);
  };
  int others = 0;
  for (int column = 0; column < ColumnCount; ++column) {
    if (column == ColLabel || GridBus->isColumnHidden(column))
      continue;
    if (ColumnsChanged.contains(column))
      resize(column, fit(column));
    others += header->sectionSize(column);
  }
  resize(ColLabel, std::min(fit(ColLabel), std::max(LabelWidthMin, GridBus->viewport()->width() - others)));
  ColumnsChanged.clear();
}

void TFormBus::FillRow(int row)
{
  const TBusController& controller = Poller.List().Controllers()[static_cast<std::size_t>(row)];
  const TStatusTexts texts = controller.Texts();
  const double ratio = Form.Datas->GearRatio;
  const auto& lastAt = controller.LastAnswer();
  const auto ran = Line == TLineState::Paused ? RunSamples.find(controller.Address()) : RunSamples.end();
  const bool runAnswered = ran != RunSamples.end() && ran->second.State == TSample::TState::Answered;
  const bool live = Live(controller) || runAnswered;
  QString speed = runAnswered                  ? RpmText(ran->second.SpeedRpm, ratio)
                  : Line == TLineState::Paused ? QString(PausedText)
                  : !lastAt                    ? QString("unknown")
                                               : RpmText(controller.SpeedRpm(), ratio);
  if (!live && lastAt && Line != TLineState::Paused) // the last answered speed, said as such
    speed += " at " + Clock(*lastAt);
  const QString cells[ColumnCount] = {
      QString::fromStdString(TOzmCommands::HexAddress(controller.Address()) +
                             (Form.RunSentTo().contains(controller.Address()) ? " may run" : "")),
      QString::fromStdString(controller.Label()),
      speed,
      runAnswered      ? (ran->second.Direction ? "backward" : "forward")
      : texts.Backward ? (*texts.Backward ? "backward" : "forward")
                       : QString(),
      Revs(texts.MotorRevs, "Motor revolutions counter: ", 1),
      Revs(texts.GearedRevs, "Gearmotor revolutions counter: ", 1 / ratio),
      lastAt ? QString::fromStdString(texts.Feedback).remove("Feedback: ") : QString("unknown"),
      lastAt ? Clock(*lastAt) : QString("never"),
      QString::number(controller.Answers()),
      QString::number(controller.AnswersMissing()),
      QString::number(controller.ChecksumFailures()),
      QString()};
  const bool panels = controller.Address() == PanelAddress;
  const QBrush& colour = live ? palette().text() : palette().brush(QPalette::Disabled, QPalette::Text);
  for (int column = 0; column < ColumnCount; ++column) {
    QTableWidgetItem* item = GridBus->item(row, column);
    if (!item) {
      item = new QTableWidgetItem;
      if (std::find(std::begin(NumberColumns), std::end(NumberColumns), column) != std::end(NumberColumns))
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      GridBus->setItem(row, column, item);
    }
    // Counters and direction keep what they showed while the panel would keep them; a cell is only
    // touched when it changes, as every change is drawn anew.
    if ((!cells[column].isEmpty() || column == ColLabel) && item->text() != cells[column]) {
      item->setText(cells[column]);
      ColumnsChanged.insert(column);
    }
    Qt::ItemFlags flags = column == ColLabel ? item->flags() | Qt::ItemIsEditable : item->flags() & ~Qt::ItemIsEditable;
    if (column == ColChart) {
      flags |= Qt::ItemIsUserCheckable;
      const Qt::CheckState chosen = ChartLines.Chosen(controller.Address()) ? Qt::Checked : Qt::Unchecked;
      if (!item->data(Qt::CheckStateRole).isValid() || item->checkState() != chosen)
        item->setCheckState(chosen);
    }
    if (item->flags() != flags)
      item->setFlags(flags);
    if (item->foreground() != colour)
      item->setForeground(colour);
    if (item->font().bold() != panels) { // the panel's own controller stands out
      QFont font = item->font();
      font.setBold(panels);
      item->setFont(font);
      ColumnsChanged.insert(column);
    }
  }
  GridBus->item(row, ColAddress)
      ->setToolTip(QString("%1%2 answers, %3 missing, %4 bad checksums; last answer %5")
                       .arg(panels ? "The motor panel's controller. " : "", cells[ColAnswers], cells[ColMissing],
                            cells[ColBadChecksums], cells[ColLast]));
  GridBus->item(row, ColLabel)->setToolTip(cells[ColLabel]);
}

void TFormBus::CellEdited(int row, int column)
{
  if (Filling)
    return;
  TBusController& controller = Poller.List().Controllers()[static_cast<std::size_t>(row)];
  if (column == ColChart) {
    ChartLines.Choose(controller, GridBus->item(row, column)->checkState() == Qt::Checked);
  } else if (column == ColLabel) {
    controller.SetLabel(GridBus->item(row, column)->text().toStdString());
    Keep();
  }
}

// As "Use address" of the scan window: the address goes into the motor panel as typing would.
void TFormBus::RowChosen()
{
  const QList<QModelIndex> rows = GridBus->selectionModel()->selectedRows();
  if (Filling || rows.size() != 1)
    return;
  Form.UseAddress(Poller.List().Controllers()[static_cast<std::size_t>(rows.front().row())].Address());
}

// Esc is the window's Stop key wherever the focus is; in a label being edited it only ends the edit.
// Watched from the application, ahead of the window's key watch, for as long as the editor lives.
void TFormBus::WatchLabelEditor(QWidget* editor)
{
  LabelEditor = editor;
  qApp->installEventFilter(this);
  connect(editor, &QObject::destroyed, this, [this](QObject* gone) {
    if (!LabelEditor || LabelEditor.data() == gone)
      qApp->removeEventFilter(this);
  });
}

bool TFormBus::eventFilter(QObject* watched, QEvent* event)
{
  if (watched == GridBus->viewport() && event->type() == QEvent::Resize)
    FitColumns();
  if (event->type() != QEvent::KeyPress)
    return QWidget::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  if (watched == LabelEditor && key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
    emit GridBus->itemDelegateForColumn(ColLabel)->closeEditor(LabelEditor, QAbstractItemDelegate::RevertModelCache);
    return true;
  }
  if (watched == GridBus && key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
    BtnBusRemoveClick();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

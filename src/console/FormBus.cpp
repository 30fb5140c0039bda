#include "FormBus.h"

#include "BusAddresses.h"
#include "BusChartLines.h"
#include "BusPoller.h"
#include "Form1.h"
#include "NumberFormat.h"
#include "OzmCommands.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QDateTime>
#include <QHeaderView>
#include <QRegularExpression>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <stdexcept>

namespace {

const char* const Headers[] = {"Address", "Label", "Speed", "Direction", "Motor revs", "Gearmotor revs",
                               "Feedback", "Last answer", "Answers", "Missing", "Bad checksums", "Chart"};
static_assert(std::size(Headers) == TFormBus::ColumnCount);

QPushButton* AddButton(QBoxLayout* row, const char* name, const char* text, const char* tip)
{
  auto* button = new QPushButton(text);
  button->setObjectName(name);
  button->setToolTip(tip);
  row->addWidget(button);
  return button;
}

// "Current speed 510.00 rpm" and "Current speed: unknown (last ...)" without the panel's words.
QString SpeedCell(const std::string& panelText)
{
  QString text = QString::fromStdString(panelText);
  text.remove(QRegularExpression("^Current speed:? "));
  return text;
}

QString After(const std::optional<std::string>& text, const char* words)
{
  return text ? QString::fromStdString(*text).remove(words) : QString();
}

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
  GridBus->verticalHeader()->hide();
  GridBus->setSelectionBehavior(QAbstractItemView::SelectRows);
  GridBus->setSelectionMode(QAbstractItemView::ExtendedSelection);
  // Fitted when rows come or go, not at every answer: measuring every cell each time costs a core.
  GridBus->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
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
  connect(AddButton(row, "BtnBusRemove", "Remove", "Remove the selected controllers from the list"),
          &QPushButton::clicked, this, &TFormBus::BtnBusRemoveClick);
  CbBusPoll = new QCheckBox("Poll in turn");
  CbBusPoll->setObjectName("CbBusPoll");
  CbBusPoll->setChecked(true);
  connect(CbBusPoll, &QCheckBox::toggled, this, &TFormBus::UpdatePolling);
  row->addWidget(CbBusPoll);
  row->addStretch();
  connect(AddButton(row, "BtnStopAll", "Stop all", "Stop every listed controller and the panel's own (Shift+Esc)"),
          &QPushButton::clicked, &Poller, [this] { Poller.StopAll(); });
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
  QWidget::showEvent(event);
}

void TFormBus::hideEvent(QHideEvent* event)
{
  Poller.SetPolling(false);
  QWidget::hideEvent(event);
}

void TFormBus::UpdatePolling()
{
  Poller.SetPolling(isVisible() && CbBusPoll->isChecked() && !Poller.List().Empty());
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
    Form.AppendLog("Bus list not kept: " + *problem, TLogColour::Red, false);
  UpdatePolling(); // the tick follows the number of controllers
  Refresh();
}

void TFormBus::Refresh()
{
  Filling = true;
  const int rows = static_cast<int>(Poller.List().Size());
  const bool resized = rows != GridBus->rowCount();
  GridBus->setRowCount(rows);
  for (int row = 0; row < rows; ++row)
    FillRow(row);
  if (resized)
    GridBus->resizeColumnsToContents();
  LblBusFile->setText("Kept in " + QString::fromStdString(Poller.FilePath()));
  ChartLines.Listed(Poller.List());
  Filling = false;
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
  Filling = false;
  StaleRows.clear();
}

void TFormBus::FillRow(int row)
{
  const TBusController& controller = Poller.List().Controllers()[static_cast<std::size_t>(row)];
  const TStatusTexts texts = controller.Texts();
  const QString last = controller.LastAnswer()
                           ? QDateTime::fromMSecsSinceEpoch(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                                controller.LastAnswer()->time_since_epoch())
                                                                .count())
                                 .toString("HH:mm:ss")
                           : QString("never");
  const QString cells[ColumnCount] = {
      QString::fromStdString(TOzmCommands::HexAddress(controller.Address()) +
                             (Form.RunSentTo().contains(controller.Address()) ? " may run" : "")),
      QString::fromStdString(controller.Label()),
      SpeedCell(texts.Speed),
      texts.Backward ? (*texts.Backward ? "backward" : "forward") : QString(),
      After(texts.MotorRevs, "Motor revolutions counter: "),
      After(texts.GearedRevs, "Gearmotor revolutions counter: "),
      QString::fromStdString(texts.Feedback).remove("Feedback: "),
      last,
      QString::number(controller.Answers()),
      QString::number(controller.AnswersMissing()),
      QString::number(controller.ChecksumFailures()),
      QString()};
  for (int column = 0; column < ColumnCount; ++column) {
    QTableWidgetItem* item = GridBus->item(row, column);
    if (!item) {
      item = new QTableWidgetItem;
      GridBus->setItem(row, column, item);
    }
    // Counters and direction keep what they showed while the panel would keep them; a cell is only
    // touched when it changes, as every change is drawn anew.
    if ((!cells[column].isEmpty() || column == ColLabel) && item->text() != cells[column])
      item->setText(cells[column]);
    Qt::ItemFlags flags = column == ColLabel ? item->flags() | Qt::ItemIsEditable : item->flags() & ~Qt::ItemIsEditable;
    if (column == ColChart) {
      flags |= Qt::ItemIsUserCheckable;
      const Qt::CheckState chosen = ChartLines.Chosen(controller.Address()) ? Qt::Checked : Qt::Unchecked;
      if (!item->data(Qt::CheckStateRole).isValid() || item->checkState() != chosen)
        item->setCheckState(chosen);
    }
    if (item->flags() != flags)
      item->setFlags(flags);
    const QBrush& colour = controller.Known() ? palette().text() : palette().brush(QPalette::Disabled, QPalette::Text);
    if (item->foreground() != colour)
      item->setForeground(colour);
  }
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

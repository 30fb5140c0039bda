#include "console/FormRecords.h"

#include "console/CheckChart.h"
#include "console/RecordsQuery.h"
#include "console/ReportOpener.h"
#include "console/YieldChart.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>

#include <memory>

namespace {

const char* const Headers[] = {"Start (UTC)", "Unit", "Verdict", "Sequence", "Station", "Address", "Operator", "Why"};
static_assert(std::size(Headers) == TFormRecords::ColumnCount);
const char* const Verdicts[] = {TFormRecords::AnyVerdict, "PASS", "FAIL", "ABORTED"};
const char* const ChooseSequence = "Choose a sequence above to see its yield and its checks";

QColor VerdictColour(const std::string& verdict)
{
  if (verdict == "PASS")
    return Qt::darkGreen;
  return verdict == "FAIL" ? Qt::red : QColor(0xb0, 0x60, 0x00);
}

std::optional<std::string> Given(const QString& text)
{
  const QString trimmed = text.trimmed();
  return trimmed.isEmpty() ? std::nullopt : std::optional(trimmed.toStdString());
}

QString Text(const std::string& text)
{
  return QString::fromStdString(text);
}

// "2026-12-09T10:00:00.000Z" as "2026-12-09 10:00:00".
QString StartText(const std::string& start)
{
  return Text(start.substr(0, 19)).replace('T', ' ');
}

} // namespace

TFormRecords::TFormRecords(std::function<std::string()> store, QWidget* parent)
    : QWidget(parent, Qt::Window), StoreName(std::move(store)), RunsQuery(new TRecordsQuery(this)),
      SequenceQuery(new TRecordsQuery(this)), CheckQuery(new TRecordsQuery(this)), Opener(new TReportOpener(this))
{
  setObjectName("FormRecords");
  setWindowTitle("Records");
  BuildWindow();
  connect(Opener, &TReportOpener::Failed, this, [this](const QString& text) { Say(text, true); });
  connect(CheckChart, &TCheckChart::CheckChosen, this, &TFormRecords::AskCheck);
  resize(900, 600);
}

void TFormRecords::BuildWindow()
{
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(BuildFilters());
  Table = new QTableWidget(0, ColumnCount);
  Table->setObjectName("TableRecords");
  for (int column = 0; column < ColumnCount; ++column)
    Table->setHorizontalHeaderItem(column, new QTableWidgetItem(Headers[column]));
  Table->verticalHeader()->hide();
  Table->setSelectionBehavior(QAbstractItemView::SelectRows);
  Table->setSelectionMode(QAbstractItemView::SingleSelection);
  Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Table->setWordWrap(false);
  Table->horizontalHeader()->setStretchLastSection(true);
  Table->setToolTip("Double-click a run, or press Enter on it, to open its report");
  connect(Table, &QTableWidget::activated, this, [this](const QModelIndex& index) { OpenReport(index.row()); });
  YieldChart = new TYieldChart(this);
  CheckChart = new TCheckChart(this);
  Tabs = new QTabWidget;
  Tabs->setObjectName("TabsRecords");
  Tabs->addTab(Table, "&Runs");
  Tabs->addTab(YieldChart, "&Yield per day");
  Tabs->addTab(CheckChart, "C&hecks");
  layout->addWidget(Tabs, 1);
  Status = new QLabel;
  Status->setObjectName("LabelRecordsStatus");
  Status->setTextInteractionFlags(Qt::TextSelectableByMouse);
  Status->setWordWrap(true);
  layout->addWidget(Status);
}

QLayout* TFormRecords::BuildFilters()
{
  auto* rows = new QVBoxLayout;
  auto* first = new QHBoxLayout;
  EditUnit = new QLineEdit;
  EditUnit->setObjectName("EditRecordsUnit");
  EditUnit->setPlaceholderText("unit serial: type or scan, then Enter");
  EditUnit->setClearButtonEnabled(true);
  // A scanner types the serial and Enter: the search goes at once and the next scan replaces the serial.
  connect(EditUnit, &QLineEdit::returnPressed, this, [this] {
    Search();
    EditUnit->selectAll();
  });
  first->addWidget(new QLabel("&Unit:"));
  first->addWidget(EditUnit, 1);
  EditStation = new QLineEdit;
  EditStation->setObjectName("EditRecordsStation");
  EditStation->setPlaceholderText("any station");
  connect(EditStation, &QLineEdit::returnPressed, this, &TFormRecords::Search);
  first->addWidget(new QLabel("S&tation:"));
  first->addWidget(EditStation);
  auto* search = new QPushButton("&Search");
  search->setObjectName("BtnRecordsSearch");
  connect(search, &QPushButton::clicked, this, &TFormRecords::Search);
  first->addWidget(search);
  rows->addLayout(first);

  auto* second = new QHBoxLayout;
  ComboSequence = new QComboBox;
  ComboSequence->setObjectName("ComboRecordsSequence");
  ComboSequence->setEditable(true);
  ComboSequence->setInsertPolicy(QComboBox::NoInsert);
  ComboSequence->lineEdit()->setPlaceholderText("any sequence");
  ComboSequence->setMinimumContentsLength(16);
  connect(ComboSequence, &QComboBox::activated, this, &TFormRecords::Search);
  connect(ComboSequence->lineEdit(), &QLineEdit::returnPressed, this, &TFormRecords::Search);
  second->addWidget(new QLabel("Se&quence:"));
  second->addWidget(ComboSequence);
  ComboVerdict = new QComboBox;
  ComboVerdict->setObjectName("ComboRecordsVerdict");
  for (const char* verdict : Verdicts)
    ComboVerdict->addItem(verdict);
  connect(ComboVerdict, &QComboBox::currentIndexChanged, this, &TFormRecords::Search);
  second->addWidget(ComboVerdict);
  for (auto [box, date, text, name] :
       {std::tuple{&CbSince, &DateSince, "&From", "Since"}, std::tuple{&CbUntil, &DateUntil, "T&o", "Until"}}) {
    *box = new QCheckBox(text);
    (*box)->setObjectName(QString("CbRecords") + name);
    *date = new QDateEdit(QDate::currentDate());
    (*date)->setObjectName(QString("DateRecords") + name);
    (*date)->setDisplayFormat("yyyy-MM-dd");
    (*date)->setCalendarPopup(true);
    (*date)->setToolTip("A day in UTC, as the runs' start times");
    (*date)->setEnabled(false);
    connect(*box, &QCheckBox::toggled, *date, &QWidget::setEnabled);
    connect(*box, &QCheckBox::toggled, this, &TFormRecords::Search);
    connect(*date, &QDateEdit::dateChanged, this, [this, box = *box] {
      if (box->isChecked())
        Search();
    });
    second->addWidget(*box);
    second->addWidget(*date);
  }
  second->addStretch();
  rows->addLayout(second);
  return rows;
}

void TFormRecords::showEvent(QShowEvent* event)
{
  QWidget::showEvent(event);
  Search();
}

TRunFilter TFormRecords::Filter() const
{
  TRunFilter filter;
  filter.Unit = Given(EditUnit->text());
  filter.Sequence = Given(ComboSequence->currentText());
  filter.Station = Given(EditStation->text());
  if (ComboVerdict->currentIndex() > 0)
    filter.Verdict = ComboVerdict->currentText().toStdString();
  if (CbSince->isChecked())
    filter.Since = DateSince->date().toString("yyyy-MM-dd").toStdString();
  if (CbUntil->isChecked())
    filter.Until = DateUntil->date().toString("yyyy-MM-dd").toStdString();
  return filter;
}

void TFormRecords::Search()
{
  TRunFilter filter = Filter();
  filter.Limit = RowsShownMax + 1; // one more than shown tells that there are more
  Asked = StoreName();
  Say("Searching " + Text(Asked) + "...", false);
  auto runs = std::make_shared<std::vector<TUnitRun>>();
  auto sequences = std::make_shared<std::vector<std::string>>();
  RunsQuery->Ask(
      Asked,
      [runs, sequences, filter](TRecordsStore& store) {
        *runs = store.List(filter);
        *sequences = store.Sequences();
      },
      [this, runs, sequences](const std::string& failure) {
        FillSequences(*sequences);
        ShowRuns(*runs, failure);
      });
  if (filter.Sequence)
    AskSequence(Asked, *filter.Sequence);
  else {
    YieldChart->Show(ChooseSequence, {});
    CheckChart->Clear(ChooseSequence);
  }
}

void TFormRecords::ShowRuns(const std::vector<TUnitRun>& runs, const std::string& failure)
{
  Shown.assign(runs.begin(), runs.begin() + std::min<std::ptrdiff_t>(runs.size(), RowsShownMax));
  Table->setRowCount(0);
  if (!failure.empty()) {
    Say("The records store " + Text(Asked) + " could not be read: " + Text(failure), true);
    return;
  }
  Table->setRowCount(static_cast<int>(Shown.size()));
  for (int row = 0; row < Table->rowCount(); ++row) {
    const TUnitRun& run = Shown[static_cast<std::size_t>(row)];
    const QString cells[] = {StartText(run.Start), Text(run.Unit),
                             Text(run.Verdict),    Text(run.Sequence),
                             Text(run.Station),    QString("$%1").arg(run.Address, 2, 16, QChar('0')).toUpper(),
                             Text(run.Operator),   Text(run.Why)};
    for (int column = 0; column < ColumnCount; ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      item->setToolTip(Text(run.Record));
      Table->setItem(row, column, item);
    }
    Table->item(row, ColVerdict)->setForeground(VerdictColour(run.Verdict));
  }
  Table->resizeColumnsToContents();
  const QString count = QString("%1 run%2").arg(Shown.size()).arg(Shown.size() == 1 ? "" : "s");
  Say(runs.size() > Shown.size() ? "The newest " + count + " shown: narrow the search for older ones"
                                 : count + " in " + Text(Asked),
      false);
}

void TFormRecords::FillSequences(const std::vector<std::string>& sequences)
{
  const QString typed = ComboSequence->currentText();
  const QSignalBlocker quiet(ComboSequence);
  ComboSequence->clear();
  for (const std::string& sequence : sequences)
    ComboSequence->addItem(Text(sequence));
  ComboSequence->setCurrentIndex(-1);
  ComboSequence->setEditText(typed);
}

void TFormRecords::AskSequence(const std::string& store, const std::string& sequence)
{
  const TRunFilter filter = Filter();
  auto days = std::make_shared<std::vector<TYield>>();
  auto checks = std::make_shared<std::vector<TCheckSpread>>();
  SequenceQuery->Ask(
      store,
      [days, checks, sequence](TRecordsStore& records) {
        *days = records.Yield(TRecordsStore::TYieldBy::Day, sequence);
        *checks = records.Spread(sequence, std::nullopt);
      },
      [this, days, checks, sequence, filter](const std::string& failure) {
        if (!failure.empty()) {
          YieldChart->Show({}, {});
          CheckChart->Clear({});
          return; // said by the runs' search
        }
        std::erase_if(*days, [&filter](const TYield& day) {
          return (filter.Since && day.Group < *filter.Since) || (filter.Until && day.Group > *filter.Until);
        });
        YieldChart->Show("Yield per day of " + Text(sequence), *days);
        CheckChart->SetChecks(*checks);
      });
}

void TFormRecords::AskCheck(int index)
{
  const TCheckSpread check = CheckChart->Checks()[static_cast<std::size_t>(index)];
  auto values = std::make_shared<std::vector<double>>();
  CheckQuery->Ask(
      Asked, [values, check](TRecordsStore& records) { *values = records.Measured(check); },
      [this, values, check](const std::string& failure) {
        if (failure.empty())
          CheckChart->Show(check, *values);
        else
          Say("The values of " + Text(check.Check) + " could not be read: " + Text(failure), true);
      });
}

void TFormRecords::OpenReport(int row)
{
  if (row < 0 || static_cast<std::size_t>(row) >= Shown.size())
    return;
  QString report = Text(Shown[static_cast<std::size_t>(row)].Record);
  if (report.endsWith(".json"))
    report.chop(5);
  Opener->Open(report + ".html");
}

void TFormRecords::Say(const QString& text, bool trouble)
{
  Status->setText(text);
  Status->setStyleSheet(trouble ? "color: red" : "");
}

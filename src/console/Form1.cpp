#include "Form1.h"

#include "ButtonPictures.h"
#include "ClassicFont.h"
#include "ComPort.h"
#include "CommonDatas.h"
#include "ConsoleForms.h"
#include "Exchange.h"
#include "FormAdress.h"
#include "FormByteLen.h"
#include "FormPortName.h"
#include "FormSerialDevices.h"
#include "Langs.h"
#include "LongTimer.h"
#include "PortLinks.h"
#include "MessageBox.h"
#include "MotorParameters.h"
#include "OzmCommands.h"
#include "PortButtons.h"
#include "PortSettings.h"
#include "RadioGroup.h"
#include "StatusDisplay.h"
#include "Synchronizer.h"
#include "WorkParameters.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>

#include <chrono>

namespace {

constexpr int LeftColumnWidth = TForm1::CollapsedWidth - 12;
const QColor Maroon(128, 0, 0);
const QColor Silver(192, 192, 192);

QColor LogQColor(TLogColour colour)
{
  switch (colour) {
  case TLogColour::Green: return QColor(0, 128, 0);
  case TLogColour::Red: return QColor(255, 0, 0);
  default: return QColor(0, 0, 255);
  }
}

template <class T, class... Args>
T* Named(const char* name, QWidget* parent, Args&&... args)
{
  auto* widget = new T(std::forward<Args>(args)..., parent);
  widget->setObjectName(name);
  return widget;
}

QLabel* Heading(const char* name, const char* text, QWidget* parent)
{
  auto* label = Named<QLabel>(name, parent, text);
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  label->setStyleSheet("color: rgb(128, 0, 0);");
  return label;
}

QFrame* WhitePanel(const char* name, QWidget* parent)
{
  auto* panel = Named<QFrame>(name, parent);
  panel->setFrameShape(QFrame::StyledPanel);
  panel->setAutoFillBackground(true);
  QPalette palette = panel->palette();
  palette.setColor(QPalette::Window, Qt::white);
  panel->setPalette(palette);
  return panel;
}

// The grid of a parameter panel, its bold maroon heading across the top.
QGridLayout* PanelGrid(QFrame* panel, const char* headingName, const char* heading)
{
  auto* grid = new QGridLayout(panel);
  grid->setContentsMargins(6, 4, 6, 4);
  grid->setVerticalSpacing(2);
  grid->addWidget(Heading(headingName, heading, panel), 0, 0, 1, 4);
  return grid;
}

void Hide(QWidget* widget)
{
  widget->setVisible(false);
}

std::string Text(const QLineEdit* edit)
{
  return edit->text().toStdString();
}

void SetText(QLineEdit* edit, const std::string& text)
{
  edit->setText(QString::fromStdString(text));
}

} // namespace

TForm1::TForm1(std::string dataFolder, QWidget* parent, TStartChoice choice) : QMainWindow(parent)
{
  setObjectName("Form1");
  setWindowTitle(Caption);
  BuildWindow();
  resize(613, 488);
  FormCreate(dataFolder, choice);
  CreateDialogs();
}

// As the program starts: the dialogs after the window, hidden, each seeing the settings just loaded.
void TForm1::CreateDialogs()
{
  FormByteLen = new TFormByteLen(*this);
  FormPortName = new TFormPortName(*this);
  FormAdress = new TFormAdress(*this);
}

TForm1::~TForm1()
{
  FormClose();
}

void TForm1::closeEvent(QCloseEvent* event)
{
  FormClose();
  event->accept();
}

void TForm1::FormCreate(const std::string& dataFolder, const TStartChoice& choice)
{
  WidthBeforeCollapse = width();
  IsExpanded = true;
  // Background threads reach this window through its event loop.
  TSynchronizer& sync = TSynchronizer::Instance();
  sync.SetMainThread(std::this_thread::get_id());
  sync.SetWaker([this] {
    QMetaObject::invokeMethod(this, [] { TSynchronizer::Instance().ProcessPending(); }, Qt::QueuedConnection);
  });
  Datas = std::make_unique<TCommonDatas>();
  Langs = std::make_unique<TLangs>();
  ComPort = std::make_unique<TComPort>();
  ComPort->DataFolder = dataFolder;
  ComPort->OnReceive = [this](const std::uint8_t* data, std::int32_t count, std::uint32_t errors) {
    PortDataReceived(data, count, errors);
  };
  PortSettings = std::make_unique<TPortSettings>(*ComPort, *this);
  PortSettings->LoadPortSettings();
  OzmCommands = std::make_unique<TOzmCommands>(*Datas, *this);
  PortButtons = std::make_unique<TPortButtons>(*ComPort, *this);
  Exchange = std::make_unique<TExchange>(*Datas, *ComPort, *PortButtons, *this);
  MotorParameters = std::make_unique<TMotorParameters>(*Datas, *OzmCommands, *this);
  WorkParameters = std::make_unique<TWorkParameters>(*Datas, *OzmCommands, *this);
  ApplyStartChoice(choice);
  BtnOpenPortClick();
}

// Before the first open, so that a stored port that is not wanted this time shows no error.
void TForm1::ApplyStartChoice(const TStartChoice& choice)
{
  if (choice.Port) {
    PortForThisRun = choice.Port;
    ComPort->SetPortNumber(*choice.Port);
  }
  if (!choice.Device)
    return;
  const std::string problem = TPortLinks(ComPort->DataFolder).Assign(ComPort->PortNumber, *choice.Device);
  if (!problem.empty())
    AppendLog(problem, TLogColour::Red, false);
}

// Stops everything that could still call in before the objects go: the timers, the worker, the
// receive thread (closing the port), and only then frees them.
void TForm1::FormClose()
{
  if (Closed)
    return;
  Closed = true;
  // Hidden without their close steps: the address dialog would otherwise start an exchange now.
  for (QWidget* dialog : std::initializer_list<QWidget*>{FormByteLen, FormPortName, FormAdress, FormSerialDevices})
    if (dialog)
      dialog->hide();
  if (!PortForThisRun || ComPort->PortNumber != *PortForThisRun)
    PortSettings->SavePortSettings();
  TimerGetMotorState->stop();
  TmrStopMotor->SetEnabled(false);
  Exchange->WaitForWorker();
  ComPort->Close();
  WorkParameters.reset();
  MotorParameters.reset();
  Exchange.reset();
  PortButtons.reset();
  PortSettings.reset();
  ComPort.reset();
  Langs.reset();
  Datas.reset();
  OzmCommands.reset();
  TSynchronizer::Instance().SetWaker(nullptr);
}

void TForm1::BuildWindow()
{
  setFont(ClassicFont());

  auto* central = new QWidget(this);
  auto* columns = new QHBoxLayout;
  columns->setContentsMargins(0, 0, 0, 0);
  columns->setSpacing(0);

  auto* left = new QWidget(central);
  left->setFixedWidth(LeftColumnWidth);
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(2, 2, 2, 2);
  leftLayout->setSpacing(2);
  leftLayout->addWidget(BuildMotorPanel());
  leftLayout->addWidget(BuildWorkPanel());
  leftLayout->addWidget(BuildOperationPanel());
  leftLayout->addWidget(BuildPortStrip());
  leftLayout->addStretch();
  columns->addWidget(left);

  auto* strip = Named<QToolButton>("SpeedButton1", central);
  strip->setIcon(CollapseStripPicture());
  strip->setIconSize(QSize(12, 50));
  strip->setFixedWidth(12);
  strip->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
  strip->setAutoRaise(true);
  connect(strip, &QToolButton::clicked, this, &TForm1::SpeedButton1Click);
  columns->addWidget(strip);
  LogColumn = BuildLogColumn();
  columns->addWidget(LogColumn, 1);

  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  outer->addLayout(columns, 1);
  PanelPortProp = Named<QLabel>("PanelPortProp", central);
  PanelPortProp->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  PanelPortProp->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  PanelPortProp->setMinimumHeight(19);
  // A long description is cut at the window's edge rather than widening the window.
  PanelPortProp->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  outer->addWidget(PanelPortProp);
  setCentralWidget(central);

  BuildMenu();
  BuildTimers();
}

QLineEdit* TForm1::AddField(QGridLayout* grid, QFrame* panel, const TFieldSpec& field)
{
  grid->addWidget(Named<QLabel>(field.LabelName, panel, field.Label), field.Row, field.Column);
  auto* edit = Named<QLineEdit>(field.EditName, panel, field.Text);
  edit->setMaximumWidth(60);
  MarkEditedOnChange(edit, panel);
  grid->addWidget(edit, field.Row, field.Column + 1);
  return edit;
}

void TForm1::MarkEditedOnChange(QLineEdit* edit, QFrame* panel)
{
  connect(edit, &QLineEdit::textChanged, this, [this, panel] {
    MarkPanelEdited(panel, panel == PanelMotorData ? BtnMotorCancel : BtnWorkCancel);
  });
}

// The panel's Apply and its Cancel, which starts disabled: nothing is edited yet.
QPushButton* TForm1::AddApplyCancel(QGridLayout* grid, QFrame* panel, const char* prefix, int row,
                                    void (TForm1::*apply)(), void (TForm1::*cancel)())
{
  auto* applyButton = Named<QPushButton>((std::string("Btn") + prefix + "Apply").c_str(), panel, "Apply");
  connect(applyButton, &QPushButton::clicked, this, apply);
  auto* cancelButton = Named<QPushButton>((std::string("Btn") + prefix + "Cancel").c_str(), panel, "Cancel");
  cancelButton->setEnabled(false);
  connect(cancelButton, &QPushButton::clicked, this, cancel);
  grid->addWidget(applyButton, row, 2);
  grid->addWidget(cancelButton, row, 3);
  return cancelButton;
}

QWidget* TForm1::BuildMotorPanel()
{
  PanelMotorData = WhitePanel("PanelMotorData", this);
  QGridLayout* grid = PanelGrid(PanelMotorData, "LblMotorParam", "Motor parameters");
  EditMotorAddress = AddField(grid, PanelMotorData, {"LblAddress", "Address (ID):", "EditMotorAddress", "$00", 1, 0});
  auto* bevel = Named<QFrame>("Bevel1", PanelMotorData);
  bevel->setFrameShape(QFrame::HLine);
  bevel->setFrameShadow(QFrame::Sunken);
  grid->addWidget(bevel, 2, 0, 1, 4);
  EditMotorEncoder =
      AddField(grid, PanelMotorData, {"LblEncoder", "Encoder, puls/rev:", "EditMotorEncoder", "2", 3, 0});
  EditMotorMaxSpeed =
      AddField(grid, PanelMotorData, {"LblMaxMotorSpeed", "Max.motor speed, rpm:", "EditMotorMaxSpeed", "4000", 3, 2});
  EditGearRatio = AddField(grid, PanelMotorData, {"LblReducer", "Reduction ratio:", "EditGearRatio", "1", 4, 0});
  LblMaxGearedSpeed = Named<QLabel>("LblMaxGearedSpeed", PanelMotorData, "Max. output speed after gearhead: 4000 rpm");
  grid->addWidget(LblMaxGearedSpeed, 5, 0, 1, 4);
  BtnMotorCancel =
      AddApplyCancel(grid, PanelMotorData, "Motor", 6, &TForm1::BtnMotorApplyClick, &TForm1::BtnMotorCancelClick);

  auto* maxCurrent = Named<QLineEdit>("EditMotorMaxCurrent", PanelMotorData, "1");
  MarkEditedOnChange(maxCurrent, PanelMotorData);
  auto* lang = Named<QPushButton>("LangBtn", PanelMotorData, "LangBtn");
  connect(lang, &QPushButton::clicked, this, &TForm1::LangBtnClick);
  for (QWidget* hidden : std::initializer_list<QWidget*>{
           maxCurrent, lang, Named<QLabel>("LblMotor", PanelMotorData, "Motor:"),
           Named<QLabel>("LblMaxCurrent", PanelMotorData, "Max. current, Amp:"),
           Named<QLineEdit>("EditMotorName", PanelMotorData), Named<QPushButton>("btnMotorSave", PanelMotorData),
           Named<QPushButton>("btnMotorOpen", PanelMotorData)})
    Hide(hidden);
  return PanelMotorData;
}

QWidget* TForm1::BuildWorkPanel()
{
  PanelWorkData = WhitePanel("PanelWorkData", this);
  QGridLayout* grid = PanelGrid(PanelWorkData, "LblWorkParam", "Operation parameters");

  rgrWorkDirection = Named<TRadioGroup>("rgrWorkDirection", PanelWorkData, "Direction:",
                                        QStringList{"Forward", "Backward"}, 2);
  grid->addWidget(rgrWorkDirection, 1, 0, 1, 2);
  rgrWorkMove = Named<TRadioGroup>("rgrWorkMove", PanelWorkData, "Motion type:",
                                   QStringList{"Continuous", "                         seconds"}, 1);
  connect(rgrWorkMove, &TRadioGroup::Clicked, this, [this] { MarkPanelEdited(PanelWorkData, BtnWorkCancel); });
  // The time sits in the blank start of the timed item's caption.
  EditWorkTime = Named<QLineEdit>("EditWorkTime", rgrWorkMove->Item(1));
  EditWorkTime->setGeometry(18, 0, 70, rgrWorkMove->Item(1)->sizeHint().height());
  connect(EditWorkTime, &QLineEdit::textEdited, this, [this] {
    rgrWorkMove->SetItemIndex(1); // the same as clicking the timed item
    MarkPanelEdited(PanelWorkData, BtnWorkCancel);
  });
  grid->addWidget(rgrWorkMove, 1, 2, 1, 2);

  EditWorkSpeed = AddField(grid, PanelWorkData, {"LblWorkSpeed", "Set speed, rpm:", "EditWorkSpeed", "1000", 2, 0});
  EditWorkAccel = AddField(grid, PanelWorkData, {"LblAccel", "Acceleration, V/s:", "EditWorkAccel", "24", 2, 2});
  EditWorkDecel = AddField(grid, PanelWorkData, {"LblDecel", "Deceleration, V/s:", "EditWorkDecel", "24", 3, 2});
  BtnWorkCancel =
      AddApplyCancel(grid, PanelWorkData, "Work", 4, &TForm1::BtnWorkApplyClick, &TForm1::BtnWorkCancelClick);

  auto* current = Named<QLineEdit>("EditWorkCurrent", PanelWorkData, "1");
  MarkEditedOnChange(current, PanelWorkData);
  Hide(current);
  Hide(Named<QLabel>("LblWorkcurrent", PanelWorkData, "Set current, Amp:"));
  return PanelWorkData;
}

QWidget* TForm1::BuildOperationPanel()
{
  auto* panel = WhitePanel("PanelOperation", this);
  auto* grid = new QGridLayout(panel);
  grid->setContentsMargins(6, 4, 6, 4);
  grid->setVerticalSpacing(1);

  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(2);
  const auto pictureButton = [&](const char* name, TPictureShape shape, QColor colour, int width, void (TForm1::*handler)()) {
    auto* button = Named<QToolButton>(name, panel);
    button->setIcon(ButtonPicture(shape, colour, width, 33));
    button->setIconSize(QSize(width, 33));
    connect(button, &QToolButton::clicked, this, handler);
    buttons->addWidget(button);
  };
  const QColor darkRed(128, 0, 0);
  pictureButton("BtnRunLeft", TPictureShape::TriangleLeft, darkRed, 19, &TForm1::BtnRunLeftClick);
  pictureButton("BtnStop", TPictureShape::Square, QColor(64, 64, 64), 41, &TForm1::BtnStopClick);
  pictureButton("BtnRun", TPictureShape::TriangleRight, QColor(0, 160, 0), 41, &TForm1::BtnRunClick);
  pictureButton("BtnRunRight", TPictureShape::TriangleRight, darkRed, 19, &TForm1::BtnRunRightClick);
  buttons->addStretch();
  auto* reset = Named<QPushButton>("BtnReset", panel, "Clear");
  connect(reset, &QPushButton::clicked, this, &TForm1::BtnResetClick);
  buttons->addWidget(reset);
  grid->addLayout(buttons, 0, 0, 1, 3);

  lblCurrentSpeed = Named<QLabel>("lblCurrentSpeed", panel, "Current speed: 0 rpm");
  lblStabil = Named<QLabel>("lblStabil", panel, "Feedback:");
  lblMotorRates = Named<QLabel>("lblMotorRates", panel, "Motor revolutions counter: 0 rev");
  lblGearedRates = Named<QLabel>("lblGearedRates", panel, "Gearmotor revolutions counter: 0 rev");
  lblDir = Named<QLabel>("lblDir", panel, "Direction:");
  lblDir0 = Named<QLabel>("lblDir0", panel, "forward");
  lblDir1 = Named<QLabel>("lblDir1", panel, "backward");
  Hide(lblDir1);
  grid->addWidget(lblCurrentSpeed, 1, 0);
  grid->addWidget(lblStabil, 1, 1, 1, 2);
  grid->addWidget(lblMotorRates, 2, 0, 1, 3);
  grid->addWidget(lblGearedRates, 3, 0, 1, 3);
  auto* direction = new QHBoxLayout;
  direction->addWidget(lblDir);
  direction->addWidget(lblDir0); // the two words share one place: one of them is shown
  direction->addWidget(lblDir1);
  direction->addStretch();
  grid->addLayout(direction, 4, 0, 1, 3);

  auto* button1 = Named<QPushButton>("Button1", panel, "Button1");
  connect(button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  for (QWidget* hidden : std::initializer_list<QWidget*>{button1, Named<QLabel>("lblOverCount", panel),
                                                         Named<QPushButton>("BtnRunSave", panel),
                                                         Named<QPushButton>("BtnRunOpen", panel)})
    Hide(hidden);
  return panel;
}

QWidget* TForm1::BuildPortStrip()
{
  auto* strip = new QWidget(this);
  auto* row = new QHBoxLayout(strip);
  row->setContentsMargins(0, 0, 0, 0);
  BtnClosePort = Named<QPushButton>("BtnClosePort", strip, "Close port");
  BtnOpenPort = Named<QPushButton>("BtnOpenPort", strip, "Open port");
  auto* clearLog = Named<QPushButton>("BtnClearLog", strip, "Clear operation log");
  connect(BtnClosePort, &QPushButton::clicked, this, &TForm1::BtnClosePortClick);
  connect(BtnOpenPort, &QPushButton::clicked, this, &TForm1::BtnOpenPortClick);
  connect(clearLog, &QPushButton::clicked, this, &TForm1::BtnClearLogClick);
  row->addWidget(BtnClosePort);
  row->addWidget(BtnOpenPort);
  row->addWidget(clearLog);
  return strip;
}

QWidget* TForm1::BuildLogColumn()
{
  auto* column = new QWidget(this);
  auto* layout = new QVBoxLayout(column);
  layout->setContentsMargins(2, 2, 2, 2);
  lbBufRead = Named<QPlainTextEdit>("lbBufRead", column);
  lbBufRead->setReadOnly(true);
  lbBufRead->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  lbBufRead->setLineWrapMode(QPlainTextEdit::NoWrap);
  MemoSend = Named<QPlainTextEdit>("MemoSend", column);
  MemoSend->setReadOnly(true);
  MemoSend->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  MemoSend->setMaximumHeight(90);
  layout->addWidget(lbBufRead, 1);
  layout->addWidget(MemoSend);
  Hide(Named<QPlainTextEdit>("TempMemo", column));
  return column;
}

void TForm1::BuildMenu()
{
  QMenuBar* bar = menuBar();
  bar->setObjectName("MainMenu1");
  QMenu* settings = bar->addMenu("Port settings");
  settings->setObjectName("MmPortSettings");
  settings->menuAction()->setObjectName("MmPortSettings"); // the menu item, as the text table finds it
  QAction* number = settings->addAction("Port number");
  number->setObjectName("MmPortNumber");
  connect(number, &QAction::triggered, this, &TForm1::MmPortNumberClick);
  QAction* parameters = settings->addAction("Port parameters");
  parameters->setObjectName("mmPortParam");
  connect(parameters, &QAction::triggered, this, &TForm1::mmPortParamClick);
  QAction* devices = settings->addAction("Serial devices...");
  devices->setObjectName("MmSerialDevices");
  connect(devices, &QAction::triggered, this, &TForm1::MmSerialDevicesClick);
  QAction* address = bar->addAction("Set new address");
  address->setObjectName("MmSetNewAddress");
  connect(address, &QAction::triggered, this, &TForm1::MmSetNewAddressClick);
}

void TForm1::BuildTimers()
{
  TimerGetMotorState = new QTimer(this);
  TimerGetMotorState->setObjectName("TimerGetMotorState");
  TimerGetMotorState->setInterval(500);
  TimerGetMotorState->setTimerType(Qt::PreciseTimer); // a coarse timer may fire up to 5 % early
  connect(TimerGetMotorState, &QTimer::timeout, this, &TForm1::TimerGetMotorStateTimer);
  TmrStopMotor = new TLongTimer(this);
  TmrStopMotor->setObjectName("TmrStopMotor");
  connect(TmrStopMotor, &TLongTimer::Timeout, this, &TForm1::TmrStopMotorTimer);
}

// ---- The window as the system reaches it

void TForm1::AppendLog(const std::string& text, TLogColour colour, bool bold)
{
  if (colour != TLogColour::InForce)
    LogColour = colour;
  QTextCharFormat format;
  format.setForeground(LogQColor(LogColour));
  format.setFontWeight(bold ? QFont::Bold : QFont::Normal);
  QTextCursor cursor(lbBufRead->document());
  cursor.movePosition(QTextCursor::End);
  if (LogHasLines)
    cursor.insertBlock();
  cursor.insertText(QString::fromStdString(text), format);
  LogHasLines = true;
}

// Asks for one move to the newest line when the window next draws: a burst of lines costs one
// move, and a line costs the same at any length of the log.
bool TForm1::ScrollLogToEnd()
{
  if (!ScrollPending) {
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
  return true;
}

void TForm1::AppendMemo(const std::string& line)
{
  MemoSend->appendPlainText(QString::fromStdString(line));
}

void TForm1::ShowMotorState()
{
  const TStatusTexts texts = StatusTexts(*Datas);
  if (texts.Backward)
    ShowDirection(*texts.Backward ? 1 : 0);
  lblCurrentSpeed->setText(QString::fromStdString(texts.Speed));
  lblStabil->setText(QString::fromStdString(texts.Feedback));
  const QString colour = texts.FeedbackRed ? "color: rgb(255, 0, 0);" : "color: black;";
  if (lblStabil->styleSheet() != colour) // a style sheet set anew re-styles the label: costly at 2 Hz
    lblStabil->setStyleSheet(colour);
  if (texts.MotorRevs)
    lblMotorRates->setText(QString::fromStdString(*texts.MotorRevs));
  if (texts.GearedRevs)
    lblGearedRates->setText(QString::fromStdString(*texts.GearedRevs));
}

void TForm1::DisablePollTimer()
{
  TimerGetMotorState->stop();
}

void TForm1::DisableStopMotorTimer()
{
  TmrStopMotor->SetEnabled(false);
}

void TForm1::AnswerReceived()
{
  Exchange->EventPortString.Set();
}

void TForm1::ShowMessage(const std::string& text)
{
  ::ShowMessage(text);
}

void TForm1::SetPortPanelText(const std::string& text)
{
  PanelPortProp->setText(QString::fromStdString(text));
}

void TForm1::ShowPortDevice(const std::string& device, const std::string& toolTip)
{
  setWindowTitle(QString(Caption) + (device.empty() ? "" : " - " + QString::fromStdString(device)));
  PanelPortProp->setToolTip(QString::fromStdString(toolTip));
}

void TForm1::UpdatePortButtons(bool portOpen)
{
  BtnClosePort->setEnabled(portOpen);
  BtnOpenPort->setEnabled(!portOpen);
  if (FormByteLen)
    FormByteLen->DisableDataBits();
  if (FormSerialDevices && FormSerialDevices->isVisible())
    FormSerialDevices->Refresh(); // its "open now" column
}

// ---- Port, log and window

void TForm1::BtnOpenPortClick()
{
  PortButtons->BtnOpenPortClick();
}

void TForm1::BtnClosePortClick()
{
  PortButtons->BtnClosePortClick();
}

void TForm1::BtnClearLogClick()
{
  lbBufRead->clear();
  LogHasLines = false;
}

void TForm1::SpeedButton1Click()
{
  // The log column is hidden while collapsed, so the window can narrow down to the left panels.
  if (IsExpanded) {
    WidthBeforeCollapse = width();
    LogColumn->hide();
    setMinimumWidth(CollapsedWidth); // at once, not at the layout's next pass
    resize(CollapsedWidth, height());
  } else {
    LogColumn->show();
    setMinimumWidth(0); // the layout decides again
    resize(WidthBeforeCollapse, height());
  }
  IsExpanded = !IsExpanded;
}

void TForm1::Button1Click()
{
  ShowMessage("a3: $" + TOzmCommands::HexByte(TOzmCommands::Crc8(3, 0x01, 0x52, 0x00)));
}

template <class TDialog>
void TForm1::ShowDialog(QPointer<TDialog>& dialog)
{
  if (!dialog)
    dialog = new TDialog(*this);
  dialog->show();
  dialog->raise();
  dialog->activateWindow();
}

void TForm1::MmPortNumberClick()
{
  BtnClosePortClick();
  ShowDialog(FormPortName);
}

void TForm1::mmPortParamClick()
{
  ShowDialog(FormByteLen);
}

void TForm1::MmSerialDevicesClick()
{
  ShowDialog(FormSerialDevices);
}

void TForm1::MmSetNewAddressClick()
{
  BtnClosePortClick(); // the handler itself: a button's click() does nothing while it is disabled
  if (TimerGetMotorState->isActive()) {
    ShowMessage("New address setting is possible when there is not data transferring.");
    return;
  }
  FormAdress->show();
  FormAdress->raise();
  FormAdress->activateWindow();
}

void TForm1::LangBtnClick()
{
  Langs->ApplyTexts(*this);
}

void TForm1::PortDataReceived(const std::uint8_t* data, std::int32_t count, std::uint32_t errors)
{
  OzmCommands->PortDataReceived(data, count, errors);
}

// ---- Commands

void TForm1::WriteHeading(const char* heading)
{
  AppendLog("", TLogColour::Blue, false);
  AppendLog(heading, TLogColour::Blue, false);
}

void TForm1::ClearMemoAndQueue()
{
  MemoSend->clear();
  Datas->ClearQueue();
}

void TForm1::SendSequence(const char* heading, const std::function<bool()>& prepare,
                          const std::function<void(bool)>& closing)
{
  WriteHeading(heading);
  if (!prepare())
    return;
  TimerGetMotorState->stop();
  Datas->StatusPolling = false;
  const bool ok = Exchange->StartExchange();
  Exchange->EventRWAllowed.WaitFor(std::chrono::milliseconds(TCommonDatas::AnswerTimeout));
  if (closing)
    closing(ok);
  TimerGetMotorState->start();
}

void TForm1::BtnMotorApplyClick()
{
  SendSequence("Set motor parameters", [this] {
    ClearMemoAndQueue();
    TMotorFields fields{Text(EditMotorAddress), Text(EditMotorEncoder), Text(EditMotorMaxSpeed), Text(EditGearRatio)};
    if (!MotorParameters->ApplyMotorParameters(fields))
      return false;
    SetText(EditMotorMaxSpeed, fields.MaxSpeed);
    LblMaxGearedSpeed->setText(QString::fromStdString(MotorParameters->MaxGearedSpeedText()));
    MarkPanelClean(PanelMotorData, BtnMotorCancel);
    return true;
  });
}

void TForm1::BtnMotorCancelClick()
{
  const TMotorFields fields = MotorParameters->StoredFields();
  SetText(EditMotorAddress, fields.Address);
  SetText(EditMotorEncoder, fields.Encoder);
  SetText(EditMotorMaxSpeed, fields.MaxSpeed);
  SetText(EditGearRatio, fields.GearRatio);
  LblMaxGearedSpeed->setText(QString::fromStdString(MotorParameters->MaxGearedSpeedText()));
  MarkPanelClean(PanelMotorData, BtnMotorCancel);
}

bool TForm1::ApplyWorkPanel()
{
  ClearMemoAndQueue();
  TWorkFields fields{Text(EditWorkSpeed), Text(EditWorkAccel), Text(EditWorkDecel), Text(EditWorkTime),
                     rgrWorkDirection->ItemIndex(), rgrWorkMove->ItemIndex()};
  if (!WorkParameters->ApplyOperationParameters(fields))
    return false;
  if (Datas->MotionType == 1)
    TmrStopMotor->SetInterval(Datas->MotionTimeMs);
  SetText(EditWorkAccel, fields.Accel);
  SetText(EditWorkDecel, fields.Decel);
  SetText(EditWorkSpeed, fields.Speed);
  MarkPanelClean(PanelWorkData, BtnWorkCancel);
  return true;
}

void TForm1::BtnWorkApplyClick()
{
  SendSequence("Set operation parameters", [this] { return ApplyWorkPanel(); });
}

void TForm1::BtnWorkCancelClick()
{
  const TWorkFields fields = WorkParameters->StoredFields();
  rgrWorkDirection->SetItemIndex(fields.Direction);
  rgrWorkMove->SetItemIndex(fields.MotionType);
  SetText(EditWorkSpeed, fields.Speed);
  SetText(EditWorkAccel, fields.Accel);
  SetText(EditWorkDecel, fields.Decel);
  SetText(EditWorkTime, fields.Time);
  MarkPanelClean(PanelWorkData, BtnWorkCancel);
}

void TForm1::BtnRunClick()
{
  SendSequence(
      "Set operation parameters and run motor",
      [this] {
        if (!ApplyWorkPanel())
          return false;
        OzmCommands->QueueFrame(CmdRun, 0);
        return true;
      },
      [this](bool ok) {
        if (!ok)
          return;
        Datas->MotorStopped = false;
        if (rgrWorkMove->ItemIndex() == 1)
          TmrStopMotor->SetEnabled(true);
      });
}

void TForm1::BtnStopClick()
{
  SendSequence(
      "Motor stop",
      [this] {
        TmrStopMotor->SetEnabled(false);
        ClearMemoAndQueue();
        OzmCommands->QueueFrame(CmdStop, 0);
        return true;
      },
      [this](bool ok) {
        if (ok)
          Datas->MotorStopped = true;
      });
}

void TForm1::SetDirection(std::uint8_t direction)
{
  rgrWorkDirection->SetItemIndex(direction);
  Datas->WorkDirection = direction;
  ClearMemoAndQueue();
  OzmCommands->QueueFrame(CmdSetDirection, direction);
}

void TForm1::BtnRunRightClick()
{
  SendSequence("Set forward direction", [this] {
    SetDirection(0);
    return true;
  });
}

void TForm1::BtnRunLeftClick()
{
  SendSequence("Set backward Direction", [this] {
    SetDirection(1);
    return true;
  });
}

void TForm1::TmrStopMotorTimer()
{
  BtnStopClick();
}

// ---- Status polling and display

void TForm1::TimerGetMotorStateTimer()
{
  Datas->StatusPolling = true;
  OzmCommands->BuildStatusRequest();
  ClearMemoAndQueue();
  Exchange->StartExchange();
}

void TForm1::ShowDirection(std::uint8_t direction)
{
  lblDir->setText("Direction: ");
  if (direction > 1)
    return;
  lblDir0->setVisible(direction == 0);
  lblDir1->setVisible(direction == 1);
}

void TForm1::ResetRevCounters()
{
  Datas->SetMotorRevCounter(0);
  lblMotorRates->setText(QString(MotorRevsResetText));
  lblGearedRates->setText(QString(GearedRevsResetText));
  Datas->CounterOverflow = false;
}

void TForm1::BtnResetClick()
{
  ResetRevCounters();
  ShowMotorState();
}

// ---- Panels

void TForm1::MarkPanelEdited(QFrame* panel, QPushButton* cancel)
{
  QPalette palette = panel->palette();
  palette.setColor(QPalette::Window, Silver);
  panel->setPalette(palette);
  cancel->setEnabled(true);
}

void TForm1::MarkPanelClean(QFrame* panel, QPushButton* cancel)
{
  cancel->setEnabled(false);
  QPalette palette = panel->palette();
  palette.setColor(QPalette::Window, Qt::white);
  panel->setPalette(palette);
}

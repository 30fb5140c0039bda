#include "console/MainLayout.h"

#include "console/ButtonPictures.h"
#include "console/Form1.h"
#include "console/LogPanel.h"
#include "console/MotorPanel.h"
#include "console/OperationPanel.h"
#include "console/PortStrip.h"
#include "console/WorkPanel.h"
#include "widgets/PanelParts.h"

#include <QBoxLayout>
#include <QMainWindow>
#include <QMenuBar>
#include <QToolButton>

TMainLayout::TMainLayout(QMainWindow& window)
{
  auto* central = new QWidget(&window);
  auto* columns = new QHBoxLayout;
  columns->setContentsMargins(0, 0, 0, 0);
  columns->setSpacing(0);
  BuildLeftColumn(central, columns);
  BuildCollapseStrip(central, columns);
  Log = new TLogPanel(central);
  columns->addWidget(Log, 1);

  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  outer->addLayout(columns, 1);
  BuildBottomLine(central);
  outer->addLayout(BottomLine);
  window.setCentralWidget(central);
}

void TMainLayout::BuildLeftColumn(QWidget* central, QHBoxLayout* columns)
{
  auto* left = new QWidget(central);
  left->setFixedWidth(CollapsedWidth - 12);
  auto* layout = new QVBoxLayout(left);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(2);
  Motor = new TMotorPanel(left);
  Work = new TWorkPanel(left);
  Operation = new TOperationPanel(left);
  Strip = new TPortStrip(left);
  for (QWidget* panel : std::initializer_list<QWidget*>{Motor, Work, Operation, Strip})
    layout->addWidget(panel);
  layout->addStretch();
  columns->addWidget(left);
}

void TMainLayout::BuildCollapseStrip(QWidget* central, QHBoxLayout* columns)
{
  CollapseStrip = Named<QToolButton>("SpeedButton1", central);
  CollapseStrip->setIcon(CollapseStripPicture());
  CollapseStrip->setIconSize(QSize(12, 50));
  CollapseStrip->setFixedWidth(12);
  CollapseStrip->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
  CollapseStrip->setAutoRaise(true);
  columns->addWidget(CollapseStrip);
}

void TMainLayout::BuildBottomLine(QWidget* central)
{
  PortProp = Named<QLabel>("PanelPortProp", central);
  PortProp->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  PortProp->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  PortProp->setMinimumHeight(19);
  // Never narrower than its text: the link counters beside it give way instead.
  PortProp->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  BottomLine = new QHBoxLayout;
  BottomLine->setSpacing(0);
  BottomLine->addWidget(PortProp, 1);
}

// Each panel's buttons reach the handler of the same name.
void TMainLayout::Connect(TForm1& form) const
{
  QObject::connect(CollapseStrip, &QToolButton::clicked, &form, &TForm1::SpeedButton1Click);
  QObject::connect(Motor, &TMotorPanel::ApplyClicked, &form, &TForm1::BtnMotorApplyClick);
  QObject::connect(Motor, &TMotorPanel::CancelClicked, &form, &TForm1::BtnMotorCancelClick);
  QObject::connect(Motor, &TMotorPanel::LangClicked, &form, &TForm1::LangBtnClick);
  QObject::connect(Work, &TWorkPanel::ApplyClicked, &form, &TForm1::BtnWorkApplyClick);
  QObject::connect(Work, &TWorkPanel::CancelClicked, &form, &TForm1::BtnWorkCancelClick);
  QObject::connect(Operation, &TOperationPanel::RunLeftClicked, &form, &TForm1::BtnRunLeftClick);
  QObject::connect(Operation, &TOperationPanel::StopClicked, &form, &TForm1::BtnStopClick);
  QObject::connect(Operation, &TOperationPanel::RunClicked, &form, &TForm1::BtnRunClick);
  QObject::connect(Operation, &TOperationPanel::RunRightClicked, &form, &TForm1::BtnRunRightClick);
  QObject::connect(Operation, &TOperationPanel::ResetClicked, &form, &TForm1::BtnResetClick);
  QObject::connect(Operation, &TOperationPanel::Button1Clicked, &form, &TForm1::Button1Click);
  QObject::connect(Strip, &TPortStrip::CloseClicked, &form, &TForm1::BtnClosePortClick);
  QObject::connect(Strip, &TPortStrip::OpenClicked, &form, &TForm1::BtnOpenPortClick);
  QObject::connect(Strip, &TPortStrip::ClearLogClicked, &form, &TForm1::BtnClearLogClick);
}

void TMainLayout::BuildMenu(TForm1& form) const
{
  QMenuBar* bar = form.menuBar();
  bar->setObjectName("MainMenu1");
  QMenu* settings = bar->addMenu("Port settings");
  settings->setObjectName("MmPortSettings");
  settings->menuAction()->setObjectName("MmPortSettings"); // the menu item, as the text table finds it
  QAction* number = settings->addAction("Port number");
  number->setObjectName("MmPortNumber");
  QObject::connect(number, &QAction::triggered, &form, &TForm1::MmPortNumberClick);
  QAction* parameters = settings->addAction("Port parameters");
  parameters->setObjectName("mmPortParam");
  QObject::connect(parameters, &QAction::triggered, &form, &TForm1::mmPortParamClick);
  QAction* devices = settings->addAction("Serial devices...");
  devices->setObjectName("MmSerialDevices");
  QObject::connect(devices, &QAction::triggered, &form, &TForm1::MmSerialDevicesClick);
  QAction* address = bar->addAction("Set new address");
  address->setObjectName("MmSetNewAddress");
  QObject::connect(address, &QAction::triggered, &form, &TForm1::MmSetNewAddressClick);
}

void TMainLayout::Fold(QMainWindow& window, QWidget& logColumn, bool collapse, int expandedWidth)
{
  logColumn.setVisible(!collapse);
  // Collapsed at once, not at the layout's next pass; expanded, the layout decides again.
  window.setMinimumWidth(collapse ? CollapsedWidth : 0);
  window.resize(collapse ? CollapsedWidth : expandedWidth, window.height());
}

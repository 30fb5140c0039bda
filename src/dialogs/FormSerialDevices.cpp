#include "dialogs/FormSerialDevices.h"

#include "devices/NetworkAddress.h"
#include "devices/PortLinks.h"
#include "dialogs/DeviceMonitor.h"
#include "dialogs/DialogHost.h"
#include "serial/ComPort.h"
#include "widgets/PanelParts.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSerialPortInfo>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QTableWidget* Table(const char* name, const QStringList& headings, QWidget* parent)
{
  auto* table = new QTableWidget(0, static_cast<int>(headings.size()), parent);
  table->setObjectName(name);
  table->setHorizontalHeaderLabels(headings);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->verticalHeader()->hide();
  // Every column as wide as its longest text, the stable names above all: a window too narrow for
  // them scrolls rather than cutting a column.
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  table->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
  return table;
}

void SetRow(QTableWidget* table, int row, const QStringList& cells)
{
  for (int column = 0; column < cells.size(); ++column)
    table->setItem(row, column, new QTableWidgetItem(cells[column]));
}

QString UsbId(const QSerialPortInfo& info)
{
  if (!info.hasVendorIdentifier())
    return {};
  return QString("%1:%2").arg(info.vendorIdentifier(), 4, 16, QChar('0')).arg(info.productIdentifier(), 4, 16, QChar('0'));
}

} // namespace

TFormSerialDevices::TFormSerialDevices(TDialogHost& main) : QWidget(&main.Window(), Qt::Window), Main(main)
{
  setObjectName("FormSerialDevices");
  setWindowTitle("Serial devices");
  resize(760, 420);
  TableDevices = Table("TableDevices",
                       {"Device", "Description", "Manufacturer", "Serial number", "USB id", "Stable name"}, this);
  TablePorts = Table("TablePorts", {"Port", "Linked to", "Present", "Open now"}, this);
  SpinPortNumber = Named<QSpinBox>("SpinPortNumber", this);
  SpinPortNumber->setRange(1, 255);
  SpinPortNumber->setValue(std::clamp(Main.Port().PortNumber, 1, 255));
  EditNetworkLine = Named<QLineEdit>("EditNetworkLine", this);
  EditNetworkLine->setPlaceholderText("rfc2217://HOST:PORT or tcp://HOST:PORT");
  EditNetworkLine->setToolTip("A line at a serial device server, assigned instead of a device of the list");
  auto* assign = Named<QPushButton>("BtnAssign", this, "Assign to port");
  connect(assign, &QPushButton::clicked, this, &TFormSerialDevices::BtnAssignClick);
  auto* remove = Named<QPushButton>("BtnRemoveLink", this, "Remove link");
  connect(remove, &QPushButton::clicked, this, &TFormSerialDevices::BtnRemoveLinkClick);
  // Choosing a port row picks its number for the buttons.
  connect(TablePorts, &QTableWidget::itemSelectionChanged, this, [this] {
    const int row = TablePorts->currentRow();
    if (row >= 0)
      SpinPortNumber->setValue(TablePorts->item(row, 0)->text().toInt());
  });

  auto* actions = new QHBoxLayout;
  actions->addWidget(new QLabel("Port number:", this));
  actions->addWidget(SpinPortNumber);
  actions->addWidget(assign);
  actions->addWidget(remove);
  actions->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Serial devices on this machine:", this));
  layout->addWidget(TableDevices, 3);
  auto* network = new QHBoxLayout;
  network->addWidget(new QLabel("Or a serial device server:", this));
  network->addWidget(EditNetworkLine, 1);
  layout->addLayout(network);
  layout->addLayout(actions);
  layout->addWidget(new QLabel("Port numbers linked to a device:", this));
  layout->addWidget(TablePorts, 2);

  Monitor = new TDeviceMonitor(this);
  connect(Monitor, &TDeviceMonitor::DeviceChanged, this, &TFormSerialDevices::Refresh);
}

void TFormSerialDevices::showEvent(QShowEvent* event)
{
  Refresh(); // links may have changed while it was hidden
  WidenToFit();
  QWidget::showEvent(event);
}

// As wide as the tables' columns where the screen has the room; never narrower than the operator left it.
void TFormSerialDevices::WidenToFit()
{
  const int wanted = std::min(sizeHint().width(), screen()->availableGeometry().width());
  resize(std::max(width(), wanted), height());
}

void TFormSerialDevices::Refresh()
{
  FillDevices();
  FillPorts();
}

void TFormSerialDevices::FillDevices()
{
  const QList<QSerialPortInfo> devices = QSerialPortInfo::availablePorts();
  TableDevices->setRowCount(static_cast<int>(devices.size()));
  int row = 0;
  for (const QSerialPortInfo& info : devices) {
    const std::string stable = TPortLinks::StableName(info.systemLocation().toStdString());
    SetRow(TableDevices, row++,
           {info.systemLocation(), info.description(), info.manufacturer(), info.serialNumber(), UsbId(info),
            QString::fromStdString(stable == info.systemLocation().toStdString() ? "" : stable)});
  }
}

// Pseudo-terminals (the simulator) never show among the devices: their links show them here.
void TFormSerialDevices::FillPorts()
{
  const std::vector<TPortLink> links = TPortLinks(Main.Port().DataFolder).List();
  TablePorts->setRowCount(static_cast<int>(links.size()));
  int row = 0;
  for (const TPortLink& link : links) {
    const bool open = link.Port == Main.Port().PortNumber && Main.Port().IsOpen();
    SetRow(TablePorts, row++,
           {QString::number(link.Port), QString::fromStdString(link.Target),
            TNetworkAddress::IsUrl(link.Target) ? "network" : link.Present ? "yes" : "absent", open ? "open" : ""});
  }
}

// A network line typed in wins over the device chosen in the list.
std::string TFormSerialDevices::ChosenDevice() const
{
  const std::string typed = EditNetworkLine->text().trimmed().toStdString();
  const int row = TableDevices->currentRow();
  return !typed.empty() || row < 0 ? typed : TableDevices->item(row, 0)->text().toStdString();
}

void TFormSerialDevices::BtnAssignClick()
{
  const std::string device = ChosenDevice();
  if (device.empty()) {
    Main.ShowMessage("Choose a device in the list first, or type a serial device server's address.");
    return;
  }
  const int port = SpinPortNumber->value();
  Report(TPortLinks(Main.Port().DataFolder).Assign(port, device));
  if (port == Main.Port().PortNumber) // as the port number dialog does: the port in force opens anew
    Main.BtnOpenPortClick();
  FillPorts();
}

void TFormSerialDevices::BtnRemoveLinkClick()
{
  const int port = SpinPortNumber->value();
  if (port == Main.Port().PortNumber) // the device goes: do not leave the port open on it
    Main.BtnClosePortClick();
  Report(TPortLinks(Main.Port().DataFolder).Remove(port));
  FillPorts();
}

void TFormSerialDevices::Report(const std::string& problem)
{
  if (!problem.empty())
    Main.ShowMessage(problem);
}

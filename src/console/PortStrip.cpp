#include "console/PortStrip.h"

#include "widgets/PanelParts.h"

#include <QHBoxLayout>
#include <QPushButton>

TPortStrip::TPortStrip(QWidget* parent) : QWidget(parent)
{
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  BtnClosePort = Named<QPushButton>("BtnClosePort", this, "Close port");
  BtnOpenPort = Named<QPushButton>("BtnOpenPort", this, "Open port");
  auto* clearLog = Named<QPushButton>("BtnClearLog", this, "Clear operation log");
  connect(BtnClosePort, &QPushButton::clicked, this, &TPortStrip::CloseClicked);
  connect(BtnOpenPort, &QPushButton::clicked, this, &TPortStrip::OpenClicked);
  connect(clearLog, &QPushButton::clicked, this, &TPortStrip::ClearLogClicked);
  row->addWidget(BtnClosePort);
  row->addWidget(BtnOpenPort);
  row->addWidget(clearLog);
}

void TPortStrip::ShowPortOpen(bool portOpen)
{
  BtnClosePort->setEnabled(portOpen);
  BtnOpenPort->setEnabled(!portOpen);
}

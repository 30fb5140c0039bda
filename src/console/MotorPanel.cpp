#include "console/MotorPanel.h"

#include "widgets/PanelParts.h"

#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>

TMotorPanel::TMotorPanel(QWidget* parent) : TParameterPanel("PanelMotorData", "LblMotorParam", "Motor parameters", parent)
{
  EditMotorAddress = AddField({"LblAddress", "Address (ID):", "EditMotorAddress", "$00", 1, 0});
  auto* bevel = Named<QFrame>("Bevel1", this);
  bevel->setFrameShape(QFrame::HLine);
  bevel->setFrameShadow(QFrame::Sunken);
  Grid->addWidget(bevel, 2, 0, 1, 4);
  EditMotorEncoder = AddField({"LblEncoder", "Encoder, puls/rev:", "EditMotorEncoder", "2", 3, 0});
  EditMotorMaxSpeed = AddField({"LblMaxMotorSpeed", "Max.motor speed, rpm:", "EditMotorMaxSpeed", "4000", 3, 2});
  EditGearRatio = AddField({"LblReducer", "Reduction ratio:", "EditGearRatio", "1", 4, 0});
  LblMaxGearedSpeed = Named<QLabel>("LblMaxGearedSpeed", this, "Max. output speed after gearhead: 4000 rpm");
  Grid->addWidget(LblMaxGearedSpeed, 5, 0, 1, 4);
  AddApplyCancel("Motor", 6);

  AddHiddenField("EditMotorMaxCurrent", "1");
  auto* lang = Named<QPushButton>("LangBtn", this, "LangBtn");
  connect(lang, &QPushButton::clicked, this, &TMotorPanel::LangClicked);
  for (QWidget* hidden : std::initializer_list<QWidget*>{
           lang, Named<QLabel>("LblMotor", this, "Motor:"), Named<QLabel>("LblMaxCurrent", this, "Max. current, Amp:"),
           Named<QLineEdit>("EditMotorName", this), Named<QPushButton>("btnMotorSave", this),
           Named<QPushButton>("btnMotorOpen", this)})
    Hide(hidden);
}

TMotorFields TMotorPanel::Fields() const
{
  return {Text(EditMotorAddress), Text(EditMotorEncoder), Text(EditMotorMaxSpeed), Text(EditGearRatio)};
}

void TMotorPanel::SetFields(const TMotorFields& fields)
{
  SetText(EditMotorAddress, fields.Address);
  SetText(EditMotorEncoder, fields.Encoder);
  SetMaxSpeedText(fields.MaxSpeed);
  SetText(EditGearRatio, fields.GearRatio);
}

void TMotorPanel::SetMaxSpeedText(const std::string& text)
{
  SetText(EditMotorMaxSpeed, text);
}

void TMotorPanel::SetMaxGearedSpeedText(const std::string& text)
{
  LblMaxGearedSpeed->setText(QString::fromStdString(text));
}

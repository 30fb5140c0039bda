#include "console/WorkPanel.h"

#include "widgets/PanelParts.h"
#include "widgets/RadioGroup.h"

#include <QGridLayout>
#include <QLineEdit>

TWorkPanel::TWorkPanel(QWidget* parent)
    : TParameterPanel("PanelWorkData", "LblWorkParam", "Operation parameters", parent)
{
  rgrWorkDirection =
      Named<TRadioGroup>("rgrWorkDirection", this, "Direction:", QStringList{"Forward", "Backward"}, 2);
  Grid->addWidget(rgrWorkDirection, 1, 0, 1, 2);
  rgrWorkMove =
      Named<TRadioGroup>("rgrWorkMove", this, "Motion type:", QStringList{"Continuous", "                         seconds"}, 1);
  connect(rgrWorkMove, &TRadioGroup::Clicked, this, &TWorkPanel::MarkEdited);
  // The time sits in the blank start of the timed item's caption.
  EditWorkTime = Named<QLineEdit>("EditWorkTime", rgrWorkMove->Item(1));
  EditWorkTime->setGeometry(18, 0, 70, rgrWorkMove->Item(1)->sizeHint().height());
  connect(EditWorkTime, &QLineEdit::textEdited, this, [this] {
    rgrWorkMove->SetItemIndex(1); // the same as clicking the timed item
    MarkEdited();
  });
  Grid->addWidget(rgrWorkMove, 1, 2, 1, 2);

  EditWorkSpeed = AddField({"LblWorkSpeed", "Set speed, rpm:", "EditWorkSpeed", "1000", 2, 0});
  EditWorkAccel = AddField({"LblAccel", "Acceleration, V/s:", "EditWorkAccel", "24", 2, 2});
  EditWorkDecel = AddField({"LblDecel", "Deceleration, V/s:", "EditWorkDecel", "24", 3, 2});
  AddApplyCancel("Work", 4);

  AddHiddenField("EditWorkCurrent", "1");
  Hide(Named<QLabel>("LblWorkcurrent", this, "Set current, Amp:"));
}

TWorkFields TWorkPanel::Fields() const
{
  return {Text(EditWorkSpeed), Text(EditWorkAccel), Text(EditWorkDecel), Text(EditWorkTime),
          rgrWorkDirection->ItemIndex(), rgrWorkMove->ItemIndex()};
}

void TWorkPanel::SetFields(const TWorkFields& fields)
{
  rgrWorkDirection->SetItemIndex(fields.Direction);
  rgrWorkMove->SetItemIndex(fields.MotionType);
  SetText(EditWorkSpeed, fields.Speed);
  SetText(EditWorkAccel, fields.Accel);
  SetText(EditWorkDecel, fields.Decel);
  SetText(EditWorkTime, fields.Time);
}

void TWorkPanel::SetAppliedTexts(const TWorkFields& fields)
{
  SetText(EditWorkAccel, fields.Accel);
  SetText(EditWorkDecel, fields.Decel);
  SetText(EditWorkSpeed, fields.Speed);
}

void TWorkPanel::SetDirection(int direction)
{
  rgrWorkDirection->SetItemIndex(direction);
}

bool TWorkPanel::Timed() const
{
  return rgrWorkMove->ItemIndex() == 1;
}

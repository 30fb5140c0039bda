#include "console/ParameterPanel.h"

#include "widgets/PanelParts.h"

#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>

#include <string>

namespace {
const QColor Silver(192, 192, 192);
}

TParameterPanel::TParameterPanel(const char* name, const char* headingName, const char* heading, QWidget* parent)
    : QFrame(parent)
{
  MakeWhitePanel(this, name);
  Grid = new QGridLayout(this);
  Grid->setContentsMargins(6, 4, 6, 4);
  Grid->setVerticalSpacing(2);
  Grid->addWidget(Heading(headingName, heading, this), 0, 0, 1, 4);
}

QLineEdit* TParameterPanel::AddField(const TFieldSpec& field)
{
  Grid->addWidget(Named<QLabel>(field.LabelName, this, field.Label), field.Row, field.Column);
  auto* edit = Named<QLineEdit>(field.EditName, this, field.Text);
  edit->setMaximumWidth(60);
  MarkEditedOnChange(edit);
  Grid->addWidget(edit, field.Row, field.Column + 1);
  return edit;
}

QLineEdit* TParameterPanel::AddHiddenField(const char* name, const char* text)
{
  auto* edit = Named<QLineEdit>(name, this, text);
  MarkEditedOnChange(edit);
  Hide(edit);
  return edit;
}

void TParameterPanel::MarkEditedOnChange(QLineEdit* edit)
{
  connect(edit, &QLineEdit::textChanged, this, &TParameterPanel::MarkEdited);
}

void TParameterPanel::AddApplyCancel(const char* prefix, int row)
{
  auto* apply = Named<QPushButton>((std::string("Btn") + prefix + "Apply").c_str(), this, "Apply");
  connect(apply, &QPushButton::clicked, this, &TParameterPanel::ApplyClicked);
  Cancel = Named<QPushButton>((std::string("Btn") + prefix + "Cancel").c_str(), this, "Cancel");
  Cancel->setEnabled(false);
  connect(Cancel, &QPushButton::clicked, this, &TParameterPanel::CancelClicked);
  Grid->addWidget(apply, row, 2);
  Grid->addWidget(Cancel, row, 3);
}

void TParameterPanel::MarkEdited()
{
  SetPanelColour(this, Silver);
  Cancel->setEnabled(true);
}

void TParameterPanel::MarkClean()
{
  Cancel->setEnabled(false);
  SetPanelColour(this, Qt::white);
}


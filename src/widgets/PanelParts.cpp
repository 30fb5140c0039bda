#include "widgets/PanelParts.h"

QLabel* Heading(const char* name, const char* text, QWidget* parent)
{
  auto* label = Named<QLabel>(name, parent, text);
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  label->setStyleSheet("color: rgb(128, 0, 0);");
  return label;
}

void SetPanelColour(QFrame* panel, const QColor& colour)
{
  QPalette palette = panel->palette();
  palette.setColor(QPalette::Window, colour);
  panel->setPalette(palette);
}

void MakeWhitePanel(QFrame* panel, const char* name)
{
  panel->setObjectName(name);
  panel->setFrameShape(QFrame::StyledPanel);
  panel->setAutoFillBackground(true);
  SetPanelColour(panel, Qt::white);
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

#include "console/OperationPanel.h"

#include "console/ButtonPictures.h"
#include "motor/StatusDisplay.h"
#include "widgets/PanelParts.h"

#include <QGridLayout>
#include <QPushButton>
#include <QToolButton>

TOperationPanel::TOperationPanel(QWidget* parent) : QFrame(parent)
{
  MakeWhitePanel(this, "PanelOperation");
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(6, 4, 6, 4);
  grid->setVerticalSpacing(1);
  BuildButtons(grid);
  BuildStatus(grid);

  auto* button1 = Named<QPushButton>("Button1", this, "Button1");
  connect(button1, &QPushButton::clicked, this, &TOperationPanel::Button1Clicked);
  for (QWidget* hidden : std::initializer_list<QWidget*>{button1, Named<QLabel>("lblOverCount", this),
                                                         Named<QPushButton>("BtnRunSave", this),
                                                         Named<QPushButton>("BtnRunOpen", this)})
    Hide(hidden);
}

void TOperationPanel::BuildButtons(QGridLayout* grid)
{
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(2);
  const auto pictureButton = [&](const char* name, TPictureShape shape, QColor colour, int width,
                                 void (TOperationPanel::*clicked)()) {
    auto* button = Named<QToolButton>(name, this);
    button->setIcon(ButtonPicture(shape, colour, width, 33));
    button->setIconSize(QSize(width, 33));
    connect(button, &QToolButton::clicked, this, clicked);
    buttons->addWidget(button);
  };
  const QColor darkRed(128, 0, 0);
  pictureButton("BtnRunLeft", TPictureShape::TriangleLeft, darkRed, 19, &TOperationPanel::RunLeftClicked);
  pictureButton("BtnStop", TPictureShape::Square, QColor(64, 64, 64), 41, &TOperationPanel::StopClicked);
  pictureButton("BtnRun", TPictureShape::TriangleRight, QColor(0, 160, 0), 41, &TOperationPanel::RunClicked);
  pictureButton("BtnRunRight", TPictureShape::TriangleRight, darkRed, 19, &TOperationPanel::RunRightClicked);
  buttons->addStretch();
  auto* reset = Named<QPushButton>("BtnReset", this, "Clear");
  connect(reset, &QPushButton::clicked, this, &TOperationPanel::ResetClicked);
  buttons->addWidget(reset);
  grid->addLayout(buttons, 0, 0, 1, 3);
}

void TOperationPanel::BuildStatus(QGridLayout* grid)
{
  lblCurrentSpeed = Named<QLabel>("lblCurrentSpeed", this, "Current speed: 0 rpm");
  lblStabil = Named<QLabel>("lblStabil", this, "Feedback:");
  lblMotorRates = Named<QLabel>("lblMotorRates", this, MotorRevsResetText);
  lblGearedRates = Named<QLabel>("lblGearedRates", this, GearedRevsResetText);
  lblDir = Named<QLabel>("lblDir", this, "Direction:");
  lblDir0 = Named<QLabel>("lblDir0", this, "forward");
  lblDir1 = Named<QLabel>("lblDir1", this, "backward");
  Hide(lblDir1);
  // The speed has its line to itself: a state no longer known says since when, at length. The
  // feedback word goes beside the direction, the other word about how the motor turns.
  grid->addWidget(lblCurrentSpeed, 1, 0, 1, 3);
  grid->addWidget(lblMotorRates, 2, 0, 1, 3);
  grid->addWidget(lblGearedRates, 3, 0, 1, 3);
  auto* direction = new QHBoxLayout;
  // The start-up caption "Direction:" has no blank of its own: the word keeps the place that
  // "Direction: " gives it, rather than touching the colon.
  direction->setSpacing(0);
  lblDir->setMinimumWidth(lblDir->fontMetrics().horizontalAdvance("Direction: "));
  direction->addWidget(lblDir);
  direction->addWidget(lblDir0); // the two words share one place: one of them is shown
  direction->addWidget(lblDir1);
  direction->addStretch();
  direction->addWidget(lblStabil);
  grid->addLayout(direction, 4, 0, 1, 3);
}

void TOperationPanel::ShowState(const TStatusTexts& texts)
{
  if (texts.Backward)
    ShowDirection(*texts.Backward ? 1 : 0);
  lblCurrentSpeed->setText(QString::fromStdString(texts.Speed));
  lblStabil->setText(QString::fromStdString(texts.Feedback));
  // The feedback's colour comes from a style sheet, which a disabled label does not grey by itself.
  const QString colour = texts.Unknown       ? "color: gray;"
                         : texts.FeedbackRed ? "color: rgb(255, 0, 0);"
                                             : "color: black;";
  if (lblStabil->styleSheet() != colour) // a style sheet set anew re-styles the label: costly at 2 Hz
    lblStabil->setStyleSheet(colour);
  for (QLabel* live : {lblCurrentSpeed, lblStabil, lblMotorRates, lblGearedRates, lblDir, lblDir0, lblDir1})
    live->setEnabled(!texts.Unknown);
  if (texts.MotorRevs)
    lblMotorRates->setText(QString::fromStdString(*texts.MotorRevs));
  if (texts.GearedRevs)
    lblGearedRates->setText(QString::fromStdString(*texts.GearedRevs));
}

void TOperationPanel::ShowDirection(std::uint8_t direction)
{
  lblDir->setText("Direction: ");
  if (direction > 1)
    return;
  lblDir0->setVisible(direction == 0);
  lblDir1->setVisible(direction == 1);
}

void TOperationPanel::ShowCountersReset()
{
  lblMotorRates->setText(MotorRevsResetText);
  lblGearedRates->setText(GearedRevsResetText);
}

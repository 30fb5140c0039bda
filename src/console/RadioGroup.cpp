#include "RadioGroup.h"

#include <QGridLayout>

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(caption, parent)
{
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(6, 2, 6, 2);
  grid->setVerticalSpacing(0);
  for (int i = 0; i < items.size(); ++i) {
    auto* button = new QRadioButton(items[i], this);
    Group.addButton(button, i);
    grid->addWidget(button, i / columns, i % columns);
    Buttons.push_back(button);
  }
  if (!Buttons.empty())
    Buttons.front()->setChecked(true);
  connect(&Group, &QButtonGroup::idClicked, this, &TRadioGroup::Clicked);
}

int TRadioGroup::ItemIndex() const
{
  return Group.checkedId();
}

void TRadioGroup::SetItemIndex(int index)
{
  if (QRadioButton* button = Item(index))
    button->setChecked(true);
}

QRadioButton* TRadioGroup::Item(int index) const
{
  return index >= 0 && index < Count() ? Buttons[static_cast<std::size_t>(index)] : nullptr;
}

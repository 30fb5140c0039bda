#include "widgets/RadioGroup.h"

#include <QGridLayout>

#include <algorithm>

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent,
                         int selected)
    : QGroupBox(caption, parent)
{
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(6, 2, 6, 2);
  grid->setVerticalSpacing(0);
  const int rows = std::max<int>(1, (static_cast<int>(items.size()) + columns - 1) / columns);
  for (int i = 0; i < items.size(); ++i) {
    auto* button = new QRadioButton(items[i], this);
    Group.addButton(button, i);
    grid->addWidget(button, i % rows, i / rows);
    Buttons.push_back(button);
  }
  SetItemIndex(selected);
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

#pragma once

#include <QButtonGroup>
#include <QGroupBox>
#include <QRadioButton>
#include <QStringList>

#include <vector>

// A captioned group of radio buttons read and written by item index. Items fill the columns one
// after the other, top to bottom; `selected` -1 starts with none selected.
class TRadioGroup : public QGroupBox {
  Q_OBJECT
public:
  TRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent = nullptr,
              int selected = 0);

  int ItemIndex() const;
  // An index outside the items selects nothing and changes nothing else.
  void SetItemIndex(int index);
  int Count() const { return static_cast<int>(Buttons.size()); }
  QRadioButton* Item(int index) const;

signals:
  void Clicked(int index);

private:
  QButtonGroup Group;
  std::vector<QRadioButton*> Buttons;
};

#pragma once

#include <QFrame>

class QGridLayout;
class QLineEdit;
class QPushButton;

// A parameter panel: white with a heading, labelled fields, Apply and Cancel. Any change the operator
// makes turns it silver and enables Cancel, until Apply or Cancel makes it clean again.
class TParameterPanel : public QFrame {
  Q_OBJECT
public:
  TParameterPanel(const char* name, const char* headingName, const char* heading, QWidget* parent);

  void MarkEdited();
  void MarkClean();

signals:
  void ApplyClicked();
  void CancelClicked();

protected:
  struct TFieldSpec {
    const char* LabelName;
    const char* Label;
    const char* EditName;
    const char* Text;
    int Row;
    int Column;
  };
  QLineEdit* AddField(const TFieldSpec& field);
  // A field the panel keeps hidden; typing into it still marks the panel edited.
  QLineEdit* AddHiddenField(const char* name, const char* text);
  void MarkEditedOnChange(QLineEdit* edit);
  // The Apply and the Cancel (disabled until an edit) named Btn<prefix>Apply and Btn<prefix>Cancel.
  void AddApplyCancel(const char* prefix, int row);

  QGridLayout* Grid = nullptr;

private:
  QPushButton* Cancel = nullptr;
};

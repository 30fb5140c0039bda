#pragma once

#include <string_view>

class QAction;
class QString;
class QWidget;
class TConsoleView;

// The window's texts in one numbered table, and the steps that write them into the main window.
class TLangs {
public:
  static constexpr int SlotCount = 84;

  // The text numbered 1..SlotCount; any other number gives an empty text.
  std::string_view Slot(int number) const;
  // Writes the texts into the captions of window and its menu bar, then lets view redraw the
  // status labels, whose texts the captions' steps overwrite.
  void ApplyTexts(QWidget& window, TConsoleView& view) const;

  // Depth first through root's items (a menu bar or a menu), each item before its submenu; root
  // itself is never compared. The first item whose object name equals name, or nullptr.
  static QAction* FindMenuItemByName(const QWidget* root, const QString& name);
};

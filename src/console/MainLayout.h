#pragma once

class QHBoxLayout;
class QLabel;
class QMainWindow;
class QToolButton;
class QWidget;
class TForm1;
class TLogPanel;
class TMotorPanel;
class TOperationPanel;
class TPortStrip;
class TWorkPanel;

// The main window's face: the panels in the left column, the collapse strip, the log column, the
// bottom line with the port description, and the menu bar; wired to the window's handlers. Built
// once into the window, which owns every widget.
struct TMainLayout {
  static constexpr int CollapsedWidth = 406;

  explicit TMainLayout(QMainWindow& window);
  // Each panel's buttons and the strip reach the window's handler of the same name.
  void Connect(TForm1& form) const;
  // The Parts' menu bar: the port settings menu and "Set new address".
  void BuildMenu(TForm1& form) const;
  // The log column is hidden while collapsed, so the window can narrow down to the left panels;
  // expanded, the window gets expandedWidth back.
  static void Fold(QMainWindow& window, QWidget& logColumn, bool collapse, int expandedWidth);

  TMotorPanel* Motor = nullptr;
  TWorkPanel* Work = nullptr;
  TOperationPanel* Operation = nullptr;
  TPortStrip* Strip = nullptr;
  QToolButton* CollapseStrip = nullptr;
  TLogPanel* Log = nullptr;
  QLabel* PortProp = nullptr;
  // The additions on the bottom line go to the right of the port description.
  QHBoxLayout* BottomLine = nullptr;

private:
  void BuildLeftColumn(QWidget* central, QHBoxLayout* columns);
  void BuildCollapseStrip(QWidget* central, QHBoxLayout* columns);
  void BuildBottomLine(QWidget* central);
};

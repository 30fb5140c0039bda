#pragma once

#include <QFrame>
#include <QLabel>
#include <QLineEdit>

#include <string>
#include <utility>

// The pieces every panel of the main window is built from. Each control carries its object name, by
// which the text table and the tests find it.
template <class T, class... Args>
T* Named(const char* name, QWidget* parent, Args&&... args)
{
  auto* widget = new T(std::forward<Args>(args)..., parent);
  widget->setObjectName(name);
  return widget;
}

// A panel's bold maroon heading.
QLabel* Heading(const char* name, const char* text, QWidget* parent);
// A white framed panel; an edited parameter panel turns silver.
void SetPanelColour(QFrame* panel, const QColor& colour);
void MakeWhitePanel(QFrame* panel, const char* name);
void Hide(QWidget* widget);
std::string Text(const QLineEdit* edit);
void SetText(QLineEdit* edit, const std::string& text);

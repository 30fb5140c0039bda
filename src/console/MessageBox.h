#pragma once

#include <functional>
#include <string>

// The one way to a message box: a modal box in the program, a recorder in tests.
void ShowMessage(const std::string& text);
// Replaces the box by the recorder; an empty function brings the box back.
void SetMessageRecorder(std::function<void(const std::string&)> recorder);

#pragma once

#include <functional>
#include <string>

// The one way to a message box: a modal box in the program, a recorder in tests.
void ShowMessage(const std::string& text);
// True while a box waits for the operator: its caller resumes after it, so nothing may be freed yet.
bool MessageShowing();
// Replaces the box by the recorder; an empty function brings the box back.
void SetMessageRecorder(std::function<void(const std::string&)> recorder);
// Boxes said on standard error from now on: nobody is there to close them.
void SayMessagesOnStderr();

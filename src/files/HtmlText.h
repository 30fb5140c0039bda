#pragma once

#include <string>

// Text for HTML and inline SVG alike: markup characters escaped, so that a name from a user's file
// stays text. Bytes that are no UTF-8 become the characters of the same number (as the JSON record
// has them), and control characters, which XML cannot hold, U+FFFD.
std::string HtmlEscaped(const std::string& text);

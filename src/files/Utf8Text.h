#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The length of the well-formed UTF-8 sequence at `at`, 0 when the byte there begins none: names
// come from users' files and device paths, which may hold any bytes.
std::size_t Utf8Length(std::string_view text, std::size_t at);

// The text with each control character (below a blank, and DEL) written as \xNN: a name from a file or the
// command line can then neither recolour a terminal nor begin a line of its own in a log.
std::string Printable(std::string_view text);

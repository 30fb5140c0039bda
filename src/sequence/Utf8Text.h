#pragma once

#include <cstddef>
#include <string_view>

// The length of the well-formed UTF-8 sequence at `at`, 0 when the byte there begins none: names
// come from users' files and device paths, which may hold any bytes.
std::size_t Utf8Length(std::string_view text, std::size_t at);

#pragma once

#include <cstdint>
#include <string>

class TConsoleView;

// Reads a whole 32-bit integer typed by the operator: leading blanks (space, tab), an optional sign,
// then decimal digits, or hexadecimal digits after "$", "0x" or "x". A sign may stand before the hex
// prefix ("-$10" is -16). Nothing may follow the digits, and a value outside the 32-bit range is
// malformed. A malformed text shows "Please, set correct value from <low> to <high>!" and gives false;
// a well-formed value outside low..high gives false silently. value is set whenever the text is well formed.
bool ReadValueInRange(const std::string& text, std::int32_t low, std::int32_t high, double& value, TConsoleView& view);

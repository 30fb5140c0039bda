#pragma once

#include "motor/PanelFields.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class TConsoleView;

// A whole 32-bit integer typed by the operator: leading blanks (space, tab), an optional sign, then
// decimal digits, or hexadecimal digits after "$", "0x" or "x". A sign may stand before the hex prefix
// ("-$10" is -16). Nothing may follow the digits, and a value outside the 32-bit range is malformed.
// Nothing when the text is malformed.
std::optional<std::int32_t> ParseValue(std::string_view text);

// Why the field's text is refused for low..high, or nothing when it is a whole number within it.
// A malformed text carries ReadValueInRange's message; a value outside the range carries none.
std::optional<TFieldFault> ValueFault(TField field, std::string_view text, std::int32_t low, std::int32_t high);

// The window's reading of a field: a malformed text shows "Please, set correct value from <low> to <high>!"
// and gives false; a well-formed value outside low..high gives false silently. value is set whenever
// the text is well formed.
bool ReadValueInRange(const std::string& text, std::int32_t low, std::int32_t high, double& value, TConsoleView& view);

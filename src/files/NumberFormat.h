#pragma once

#include <string>

// Numbers as the window shows and reads them, always with "." whatever the locale Qt has set.
// Not-a-number and infinities come out as "NAN", "INF" and "-INF" in both formats, so a fault shows
// on the label instead of passing for a real value.

// At most 15 significant digits without trailing zeros: 321.6, 4020, 0.1; exponent form only for
// very large or very small magnitudes (1e+20, 1e-05).
std::string FormatGeneral(double value);
// Fixed point with exactly two decimals (1020.00, -5.50) of the value rounded to ten significant
// digits, the decimals padded with zeros (123456789.10); exponent form (1.23456789e+14) where the
// whole part alone has more than ten digits.
std::string FormatFixed2(double value);
// A finite real number: leading blanks, an optional sign, digits with an optional fraction after "."
// or "," (operators type "12,5"), an optional exponent. ".5" and "5." are accepted; nothing may follow.
// "inf", "nan" and values too large or too small for a double are refused.
bool ParseReal(const std::string& text, double& value);

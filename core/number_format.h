#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Number text of the whole program. The decimal separator is always the full stop; nothing
// here looks at the process locale.

// Fixed-point text of `value` with exactly `decimals` digits after the full stop (clamped to
// 0..18): an optional minus sign and at least one digit before the separator. The value is
// rounded once, half away from zero, to whichever is coarser: 12 significant digits or the
// given decimals. When more than 12 digits would stand before the separator the text is in
// exponent form instead: up to 12 significant digits with trailing zeros dropped, "E", the
// exponent's sign and at least two digits, e.g. "1.23456789012E+14" or "1E+20".
// A result that shows as zero carries no minus sign ("0.00", never "-0.00").
// Infinities and NaNs read "INF", "-INF" and "NAN".
std::string FormatFixed(double value, int decimals);

// A signed 32-bit decimal integer: optional '+' or '-', then digits, nothing around them.
// Anything else, or a value out of range, gives nullopt.
std::optional<int32_t> ParseInt32(std::string_view text);

// A decimal number: optional sign, digits with at most one full stop (at least one digit in
// all), then optionally 'e' or 'E', an optional sign and at least one digit. Nothing around it,
// no comma, no "inf"/"nan", no hexadecimal. A magnitude beyond the double range gives
// nullopt; one too small for it reads as zero.
std::optional<double> ParseFloat(std::string_view text);

// A double rounded to a 32-bit float, with magnitudes beyond its range becoming infinities
// (a plain conversion of such a value is undefined).
float ToFloat32(double value);

// The message shown when a field's text is not the number it must be.
std::string NotANumberMessage(std::string_view text);

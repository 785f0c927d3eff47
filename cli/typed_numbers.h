#pragma once

#include <optional>
#include <string>

// Numbers and units as a tired hand types them on a command line.

// A decimal number with a full stop or a decimal comma ("0,5" is 0.5); otherwise the grammar
// of ParseFloat. A text with both marks, or two commas, is not a number.
std::optional<double> ParseTypedNumber(const std::string& text);

// A number typed for a calibration value, rounded to a 32-bit float: a decimal number as above,
// or "inf", "-inf", "nan" in any case, which are taken only to be refused by name.
std::optional<float> CalibrationNumber(const std::string& text);

// The index of a pressure unit in PressureUnits as it may be typed: its index, the name the
// program shows ("кПа"), or a Latin name in any case ("kPa", "kpa", "MMHG").
std::optional<int> PressureUnitIndex(const std::string& unit);

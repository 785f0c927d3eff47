#include "cli/typed_numbers.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "core/calibration.h"
#include "core/number_format.h"

namespace {

// Latin names of PressureUnits, in its order.
const char* const kUnitAliases[] = {"kgf/cm2", "kPa", "MPa", "bar", "mbar", "mmHg", "kgf/m2"};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

std::optional<double> ParseTypedNumber(const std::string& text) {
  const size_t comma = text.find(',');
  if (comma == std::string::npos)
    return ParseFloat(text);
  if (text.find(',', comma + 1) != std::string::npos || text.find('.') != std::string::npos)
    return std::nullopt;
  std::string point = text;
  point[comma] = '.';
  return ParseFloat(point);
}

std::optional<float> CalibrationNumber(const std::string& text) {
  const std::string lower = Lower(text);
  if (lower == "inf" || lower == "+inf" || lower == "infinity")
    return INFINITY;
  if (lower == "-inf" || lower == "-infinity")
    return -INFINITY;
  if (lower == "nan")
    return NAN;
  const std::optional<double> value = ParseTypedNumber(text);
  if (!value)
    return std::nullopt;
  return ToFloat32(*value);
}

std::optional<int> PressureUnitIndex(const std::string& unit) {
  const std::string lower = Lower(unit);
  for (size_t i = 0; i < PressureUnits.size(); ++i) {
    if (unit == PressureUnits[i].name || lower == Lower(kUnitAliases[i]) ||
        unit == std::to_string(i))
      return static_cast<int>(i);
  }
  return std::nullopt;
}

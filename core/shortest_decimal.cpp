#include "core/shortest_decimal.h"

#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>

namespace {

// Decimal exponents (of the first significant digit) written without an exponent.
constexpr int kPlainFrom = -15;
constexpr int kPlainBelow = 21;

template <typename T>
std::string Shortest(T value, char decimal_mark) {
  char buffer[64];
  if (!std::isfinite(value)) {
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
  }
  // The shortest round-trip digits, always as d.ddde±x, so that the digits and the exponent
  // are read off one way whatever the magnitude.
  const auto end =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr;
  const std::string_view text(buffer, static_cast<size_t>(end - buffer));
  const size_t e_at = text.find('e');
  std::string_view mantissa = text.substr(0, e_at);
  std::string_view power = text.substr(e_at + 1);
  const bool negative = !mantissa.empty() && mantissa.front() == '-';
  if (negative)
    mantissa.remove_prefix(1);
  if (power.front() == '+')
    power.remove_prefix(1);
  int exponent = 0;
  std::from_chars(power.data(), power.data() + power.size(), exponent);
  std::string digits;
  for (char c : mantissa) {
    if (c != '.')
      digits.push_back(c);
  }

  std::string out = negative ? "-" : "";
  if (value == 0 || exponent < kPlainFrom || exponent >= kPlainBelow) {
    if (value == 0)
      return out + "0";
    out += digits.front();
    if (digits.size() > 1) {
      out += decimal_mark;
      out.append(digits, 1);
    }
    out += exponent < 0 ? "e-" : "e+";
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude < 10)
      out += '0';
    return out + std::to_string(magnitude);
  }
  if (exponent < 0) {
    out += '0';
    out += decimal_mark;
    out.append(static_cast<size_t>(-exponent - 1), '0');
    return out + digits;
  }
  const size_t whole = static_cast<size_t>(exponent) + 1;
  if (digits.size() <= whole)
    return out + digits + std::string(whole - digits.size(), '0');
  return out + digits.substr(0, whole) + decimal_mark + digits.substr(whole);
}

}  // namespace

std::string ShortestDecimal(float value, char decimal_mark) {
  return Shortest(value, decimal_mark);
}

std::string ShortestDecimal(double value, char decimal_mark) {
  return Shortest(value, decimal_mark);
}

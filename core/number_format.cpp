#include "core/number_format.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace {

constexpr int kPrecision = 12;
constexpr int kMaxDecimals = 18;

// The exact decimal expansion of a finite, non-zero |value|: significant digits without
// leading zeros, and the power of ten of the first one. A double never needs more than 767
// significant digits, so asking for that many gives the value itself, not a rounding of it.
struct ExactDecimal {
  std::string digits;
  int exponent = 0;
};

ExactDecimal ExpandExactly(double magnitude) {
  std::array<char, 800> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude,
                                    std::chars_format::scientific, 766);
  const std::string_view text(buffer.data(), static_cast<size_t>(result.ptr - buffer.data()));
  const size_t e_at = text.find('e');
  ExactDecimal exact;
  for (char c : text.substr(0, e_at)) {
    if (c != '.') {
      exact.digits.push_back(c);
    }
  }
  std::string_view exponent_text = text.substr(e_at + 1);
  if (!exponent_text.empty() && exponent_text.front() == '+') {
    exponent_text.remove_prefix(1);
  }
  std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(),
                  exact.exponent);
  while (exact.digits.size() > 1 && exact.digits.back() == '0') {
    exact.digits.pop_back();
  }
  return exact;
}

std::string ExponentForm(bool negative, std::string digits, int exponent) {
  while (digits.size() > 1 && digits.back() == '0') {
    digits.pop_back();
  }
  std::string text = negative ? "-" : "";
  text.push_back(digits.front());
  if (digits.size() > 1) {
    text.push_back('.');
    text.append(digits, 1);
  }
  text.push_back('E');
  text.push_back(exponent < 0 ? '-' : '+');
  const std::string power = std::to_string(exponent < 0 ? -exponent : exponent);
  if (power.size() < 2) {
    text.push_back('0');
  }
  text += power;
  return text;
}

std::string Zero(int decimals) {
  std::string text = "0";
  if (decimals > 0) {
    text.push_back('.');
    text.append(static_cast<size_t>(decimals), '0');
  }
  return text;
}

}  // namespace

std::string FormatFixed(double value, int decimals) {
  if (std::isnan(value)) {
    return "NAN";
  }
  if (std::isinf(value)) {
    return value < 0 ? "-INF" : "INF";
  }
  decimals = decimals < 0 ? 0 : (decimals > kMaxDecimals ? kMaxDecimals : decimals);
  if (value == 0) {
    return Zero(decimals);
  }
  const bool negative = std::signbit(value);
  ExactDecimal exact = ExpandExactly(std::fabs(value));

  // One rounding at the coarser of the two limits.
  const int keep = std::min(kPrecision, exact.exponent + 1 + decimals);
  if (keep < 0) {
    return Zero(decimals);
  }
  std::string digits = exact.digits.substr(0, static_cast<size_t>(keep));
  int exponent = exact.exponent;
  const bool round_up = static_cast<size_t>(keep) < exact.digits.size() &&
                        exact.digits[static_cast<size_t>(keep)] >= '5';
  if (round_up) {
    int i = keep - 1;
    while (i >= 0 && digits[static_cast<size_t>(i)] == '9') {
      digits[static_cast<size_t>(i)] = '0';
      --i;
    }
    if (i >= 0) {
      ++digits[static_cast<size_t>(i)];
    } else {
      digits.insert(digits.begin(), '1');
      ++exponent;
    }
  }
  if (digits.find_first_not_of('0') == std::string::npos) {
    return Zero(decimals);
  }
  if (exponent + 1 > kPrecision) {
    return ExponentForm(negative, digits, exponent);
  }

  // Place the digits around the separator; positions past the kept digits are zeros.
  auto digit_at = [&](int power) -> char {
    const int index = exponent - power;
    return index >= 0 && static_cast<size_t>(index) < digits.size()
               ? digits[static_cast<size_t>(index)]
               : '0';
  };
  std::string text = negative ? "-" : "";
  if (exponent < 0) {
    text.push_back('0');
  } else {
    for (int power = exponent; power >= 0; --power) {
      text.push_back(digit_at(power));
    }
  }
  if (decimals > 0) {
    text.push_back('.');
    for (int power = -1; power >= -decimals; --power) {
      text.push_back(digit_at(power));
    }
  }
  return text;
}

std::optional<int32_t> ParseInt32(std::string_view text) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') {
      return std::nullopt;
    }
  }
  if (text.empty() || (text.front() == '-' && text.size() == 1)) {
    return std::nullopt;
  }
  int32_t value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

std::optional<double> ParseFloat(std::string_view text) {
  // Check the grammar first: from_chars alone would also take "inf", "nan" and hex forms.
  size_t i = 0;
  const size_t n = text.size();
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const size_t mantissa_start = i;
  // Power of ten of the first non-zero digit plus one, for telling overflow from underflow.
  int64_t magnitude = 0;
  bool seen_nonzero = false;
  bool seen_point = false;
  size_t digit_count = 0;
  for (; i < n; ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      ++digit_count;
      if (c != '0' && !seen_nonzero) {
        seen_nonzero = true;
      }
      if (!seen_point && seen_nonzero) {
        ++magnitude;
      } else if (seen_point && !seen_nonzero) {
        --magnitude;
      }
    } else if (c == '.' && !seen_point) {
      seen_point = true;
    } else {
      break;
    }
  }
  if (digit_count == 0) {
    return std::nullopt;
  }
  int64_t exponent = 0;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool exponent_negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
      exponent_negative = text[i] == '-';
      ++i;
    }
    const size_t exponent_start = i;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
      if (exponent < 100000) {
        exponent = exponent * 10 + (text[i] - '0');
      }
    }
    if (i == exponent_start) {
      return std::nullopt;
    }
    if (exponent_negative) {
      exponent = -exponent;
    }
  }
  if (i != n) {
    return std::nullopt;
  }
  if (!seen_nonzero) {
    return negative ? -0.0 : 0.0;
  }

  // from_chars wants no leading '+' and accepts an exponent only after the mantissa it read.
  const char* first = text.data() + mantissa_start;
  if (negative) {
    --first;
  }
  double value = 0;
  const auto result = std::from_chars(first, text.data() + n, value, std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) {
    if (magnitude + exponent > 0) {
      return std::nullopt;
    }
    return negative ? -0.0 : 0.0;
  }
  if (result.ec != std::errc() || result.ptr != text.data() + n) {
    return std::nullopt;
  }
  return value;
}

float ToFloat32(double value) {
  // From half an ulp past the largest float on, IEEE rounding gives infinity; C++ leaves the
  // conversion undefined there, so it is spelt out.
  constexpr double kOverflow = 3.4028235677973366e38;  // 2^128 - 2^103
  if (value >= kOverflow)
    return std::numeric_limits<float>::infinity();
  if (value <= -kOverflow)
    return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

std::string NotANumberMessage(std::string_view text) {
  std::string message(1, '"');
  message.append(text);
  message += "\" не є правильним числом";
  return message;
}

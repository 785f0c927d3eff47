#include "core/suplfunc.h"

#include <array>
#include <cstring>

// ---------------------------------------------------------------------------------------------
// Rates

int32_t RateIndex(int32_t rate) {
  for (size_t i = 0; i < BaudRates.size(); ++i) {
    if (BaudRates[i] == rate) {
      return static_cast<int32_t>(i);
    }
  }
  return -1;
}

int32_t RateByIndex(int32_t index) {
  if (index < 0 || index >= static_cast<int32_t>(BaudRates.size())) {
    return 0;
  }
  return BaudRates[static_cast<size_t>(index)];
}

// ---------------------------------------------------------------------------------------------
// Floats and key filters

bool IsBadFloat(const void* four_bytes) {
  uint32_t bits = 0;
  std::memcpy(&bits, four_bytes, sizeof bits);
  constexpr uint32_t kExponentBits = 0x7F800000u;
  return (bits & kExponentBits) == kExponentBits;
}

namespace {

constexpr char16_t kBackspace = 8;
constexpr char16_t kPercent = 37;
constexpr char16_t kApostrophe = 39;
constexpr char16_t kDecimalSeparator = u'.';

bool IsDigit(char16_t key) {
  return key >= u'0' && key <= u'9';
}

bool IsEditingKey(char16_t key) {
  return key == kBackspace || key == kPercent || key == kApostrophe;
}

}  // namespace

char16_t IntKeyFilter(char16_t key) {
  return IsDigit(key) || IsEditingKey(key) ? key : 0;
}

char16_t FloatKeyFilter(std::u16string_view text, int caret, char16_t key) {
  if (IsEditingKey(key)) {
    return key;
  }
  if (key == u'.' || key == u',') {
    key = kDecimalSeparator;
  }
  if (!IsDigit(key) && key != u'e' && key != kDecimalSeparator && key != u'+' && key != u'-') {
    return 0;
  }

  const auto len = static_cast<int64_t>(text.size());
  const int64_t pos = caret < 0 ? 0 : (caret > len ? len : caret);
  const size_t e_at = text.find(u'e');
  const bool has_e = e_at != std::u16string_view::npos;
  const auto e_pos = has_e ? static_cast<int64_t>(e_at) : int64_t{-1};
  const bool has_sep = text.find(kDecimalSeparator) != std::u16string_view::npos;
  const bool minus_after = text.find(u'-', 1) != std::u16string_view::npos;
  const bool plus_after = text.find(u'+', 1) != std::u16string_view::npos;
  const int64_t room = (minus_after || plus_after) ? 3 : 2;
  const bool sign_of_exponent = has_e && !minus_after && !plus_after && pos == e_pos + 1;

  bool passes = false;
  if (IsDigit(key)) {
    passes = !has_e || pos <= e_pos || len <= e_pos + room;
  } else if (key == u'e') {
    passes = !has_e && pos == len && len != 0;
  } else if (key == kDecimalSeparator) {
    passes = !has_sep && !(has_e && pos > e_pos);
  } else if (key == u'-') {
    passes = (pos == 0 && (text.empty() || text.front() != u'-')) || sign_of_exponent;
  } else {  // '+'
    passes = sign_of_exponent;
  }
  return passes ? key : 0;
}

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
// Code pages

namespace {

constexpr std::array<uint8_t, 256> MakeCp866Table() {
  std::array<uint8_t, 256> table{};
  for (unsigned i = 0; i < 0x80; ++i) {
    table[i] = static_cast<uint8_t>(i);
  }
  for (unsigned i = 0x80; i < 0xC0; ++i) {
    table[i] = 0x5F;
  }
  for (unsigned i = 0xC0; i < 0xF0; ++i) {  // А..Я, а..п
    table[i] = static_cast<uint8_t>(i - 0x40);
  }
  for (unsigned i = 0xF0; i <= 0xFF; ++i) {  // р..я
    table[i] = static_cast<uint8_t>(i - 0x10);
  }
  constexpr uint8_t kUpperHalf[][2] = {
      {0x95, 0xF9},  // bullet
      {0xA1, 0xF6},  // Ў
      {0xA2, 0xF7},  // ў
      {0xA4, 0xFD},  // currency sign
      {0xA6, 0x7C},  // broken bar -> |
      {0xA7, 0x15},  // section sign
      {0xA8, 0xF0},  // Ё
      {0xA9, 0x63},  // copyright -> c
      {0xAA, 0xF2},  // Є
      {0xAB, 0x11},  // left guillemet
      {0xAC, 0x2D},  // not sign -> -
      {0xAD, 0x2D},  // soft hyphen -> -
      {0xAE, 0x72},  // registered -> r
      {0xAF, 0xF4},  // Ї
      {0xB0, 0xF8},  // degree
      {0xB2, 0x49},  // І -> Latin I
      {0xB3, 0x69},  // і -> Latin i
      {0xB6, 0x14},  // pilcrow
      {0xB7, 0xFA},  // middle dot
      {0xB8, 0xF1},  // ё
      {0xB9, 0xFC},  // numero
      {0xBA, 0xF3},  // є
      {0xBB, 0x10},  // right guillemet
      {0xBF, 0xF5},  // ї
  };
  for (const auto& entry : kUpperHalf) {
    table[entry[0]] = entry[1];
  }
  return table;
}

constexpr std::array<uint8_t, 256> kCp866Of1251 = MakeCp866Table();

// Unicode code points of cp1251 bytes 0x80..0xBF; 0 marks the one unassigned byte (0x98).
// 0xC0..0xFF are U+0410..U+044F in order.
constexpr std::array<char32_t, 64> kCp1251UpperHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

char Cp1251ByteOf(char32_t code_point) {
  if (code_point < 0x80) {
    return static_cast<char>(code_point);
  }
  if (code_point >= 0x0410 && code_point <= 0x044F) {
    return static_cast<char>(code_point - 0x0410 + 0xC0);
  }
  for (size_t i = 0; i < kCp1251UpperHalf.size(); ++i) {
    if (kCp1251UpperHalf[i] != 0 && kCp1251UpperHalf[i] == code_point) {
      return static_cast<char>(0x80 + i);
    }
  }
  return '?';
}

}  // namespace

void Cp1251ToCp866(char* text, uint8_t length) {
  for (uint8_t i = 0; i < length; ++i) {
    text[i] = static_cast<char>(kCp866Of1251[static_cast<uint8_t>(text[i])]);
  }
}

std::string Utf8ToCp1251(std::string_view utf8) {
  std::string result;
  result.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<uint8_t>(utf8[i]);
    size_t count = 0;
    char32_t code_point = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
      result.push_back(static_cast<char>(lead));
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      count = 1;
      code_point = lead & 0x1Fu;
      minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      count = 2;
      code_point = lead & 0x0Fu;
      minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      count = 3;
      code_point = lead & 0x07u;
      minimum = 0x10000;
    } else {
      result.push_back('?');  // stray continuation byte or invalid lead byte
      ++i;
      continue;
    }
    size_t taken = 1;
    while (taken <= count && i + taken < utf8.size() &&
           (static_cast<uint8_t>(utf8[i + taken]) & 0xC0) == 0x80) {
      code_point = (code_point << 6) | (static_cast<uint8_t>(utf8[i + taken]) & 0x3Fu);
      ++taken;
    }
    if (taken != count + 1 || code_point < minimum || code_point > 0x10FFFF ||
        (code_point >= 0xD800 && code_point <= 0xDFFF)) {
      // A cut-short, overlong or surrogate sequence: one '?' per byte consumed, and the
      // byte that broke the sequence starts the next character.
      result.append(taken, '?');
      i += taken;
      continue;
    }
    result.push_back(Cp1251ByteOf(code_point));
    i += taken;
  }
  return result;
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

#include "comm/code_page.h"

#include <array>
#include <cstdint>

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

#include "sim/code_page.h"

#include <cstdint>

namespace {

// Cyrillic characters of code page 1251 outside the run А..я.
struct Extra {
  char32_t code;
  uint8_t cp1251;
};
constexpr Extra kExtras[] = {
    {U'Ё', 0xA8}, {U'ё', 0xB8}, {U'Є', 0xAA}, {U'є', 0xBA}, {U'І', 0xB2}, {U'і', 0xB3},
    {U'Ї', 0xAF}, {U'ї', 0xBF}, {U'Ґ', 0xA5}, {U'ґ', 0xB4}, {U'Ў', 0xA1}, {U'ў', 0xA2},
};

// Decodes one UTF-8 sequence at `pos`; false on a malformed one.
bool NextCodePoint(std::string_view s, size_t& pos, char32_t& out) {
  const auto b = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
  const uint8_t lead = b(pos);
  size_t extra = 0;
  if (lead < 0x80) {
    out = lead;
  } else if ((lead & 0xE0) == 0xC0) {
    out = lead & 0x1F;
    extra = 1;
  } else if ((lead & 0xF0) == 0xE0) {
    out = lead & 0x0F;
    extra = 2;
  } else if ((lead & 0xF8) == 0xF0) {
    out = lead & 0x07;
    extra = 3;
  } else {
    return false;
  }
  if (pos + extra >= s.size())
    return false;
  for (size_t i = 1; i <= extra; ++i) {
    if ((b(pos + i) & 0xC0) != 0x80)
      return false;
    out = (out << 6) | (b(pos + i) & 0x3F);
  }
  pos += extra + 1;
  return true;
}

}  // namespace

std::optional<std::string> Utf8ToCp1251(std::string_view utf8) {
  std::string out;
  size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t c = 0;
    if (!NextCodePoint(utf8, pos, c))
      return std::nullopt;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c >= U'А' && c <= U'я') {
      out.push_back(static_cast<char>(0xC0 + (c - U'А')));
    } else {
      bool found = false;
      for (const Extra& e : kExtras) {
        if (e.code == c) {
          out.push_back(static_cast<char>(e.cp1251));
          found = true;
        }
      }
      if (!found)
        return std::nullopt;
    }
  }
  return out;
}

std::string Cp1251ToCp866(std::string_view cp1251) {
  std::string out;
  for (char ch : cp1251) {
    const uint8_t c = static_cast<uint8_t>(ch);
    uint8_t r = 0x5F;
    if (c < 0x80) {
      r = c;
    } else if (c >= 0xC0 && c <= 0xEF) {
      r = static_cast<uint8_t>(c - 0x40);  // А..п
    } else if (c >= 0xF0) {
      r = static_cast<uint8_t>(c - 0x10);  // р..я
    } else {
      switch (c) {
        case 0xA8:
          r = 0xF0;
          break;  // Ё
        case 0xB8:
          r = 0xF1;
          break;  // ё
        case 0xAA:
          r = 0xF2;
          break;  // Є
        case 0xBA:
          r = 0xF3;
          break;  // є
        case 0xAF:
          r = 0xF4;
          break;  // Ї
        case 0xBF:
          r = 0xF5;
          break;  // ї
        case 0xA1:
          r = 0xF6;
          break;  // Ў
        case 0xA2:
          r = 0xF7;
          break;  // ў
        case 0xB2:
          r = 'I';
          break;  // Ukrainian І
        case 0xB3:
          r = 'i';
          break;  // Ukrainian і
        default:
          break;
      }
    }
    out.push_back(static_cast<char>(r));
  }
  return out;
}

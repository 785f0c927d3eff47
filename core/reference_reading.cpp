#include "core/reference_reading.h"

#include <cctype>
#include <charconv>
#include <cmath>

#include "core/calibration.h"

namespace {

bool SameWord(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return i == a.size() && b[i] == '\0';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Where a number starts at `i`: a digit, or a sign or a full stop with a digit after them.
bool NumberStartsAt(const std::string& s, size_t i) {
  if (IsDigit(s[i]))
    return true;
  size_t j = i;
  if (s[j] == '+' || s[j] == '-')
    ++j;
  if (j < s.size() && s[j] == '.')
    ++j;
  return j > i && j < s.size() && IsDigit(s[j]);
}

}  // namespace

const std::vector<ReferenceUnit>& ReferenceUnits() {
  static const std::vector<ReferenceUnit> units = {
      {"kPa", {"kPa", "kPaA", "kPaG", "KPA"}, 1.0},
      {"Pa", {"Pa", "PaA", "PaG"}, 1000.0},
      {"MPa", {"MPa", "MPaA", "MPaG"}, 0.001},
      {"bar", {"bar", "barA", "barG"}, 0.01},
      {"mbar", {"mbar", "mbarA", "mbarG", "hPa"}, 10.0},
      {"kgf/cm2", {"kgf/cm2", "kgf/cm^2", "kg/cm2"}, 0.0101971621298},
      {"mmHg", {"mmHg", "mmHg0C", "Torr"}, 7.50061682704},
      {"psi", {"psi", "psiA", "psiG", "psia", "psig"}, 0.145037737730},
      {"inHg", {"inHg", "inHg0C"}, 0.295299830714},
      {"mmH2O", {"mmH2O", "mmWC", "mmH2O4C"}, 101.971621298},
      {"atm", {"atm"}, 0.00986923266716},
      {"°C",
       {"°C", "C", "degC", "CEL",
        "\xB0"
        "C"},
       0.0},
  };
  return units;
}

const ReferenceUnit* FindReferenceUnit(const std::string& word) {
  for (const ReferenceUnit& unit : ReferenceUnits()) {
    if (SameWord(word, unit.word))
      return &unit;
    for (const char* alias : unit.aliases) {
      if (SameWord(word, alias))
        return &unit;
    }
  }
  return nullptr;
}

ReferenceReply ParseReferenceReply(const std::string& reply, const ReferenceUnit& expected,
                                   bool check_unit) {
  ReferenceReply out;
  for (size_t i = 0; i < reply.size(); ++i) {
    if (!NumberStartsAt(reply, i))
      continue;
    const size_t start = reply[i] == '+' ? i + 1 : i;
    double value = 0.0;
    const auto [end, ec] =
        std::from_chars(reply.data() + start, reply.data() + reply.size(), value);
    if (ec != std::errc() || !std::isfinite(value))
      return out;
    out.value = value;
    out.kind = ReferenceReply::Kind::kNumber;
    if (!check_unit)
      return out;
    const char* p = end;
    const char* stop = reply.data() + reply.size();
    while (p < stop && (*p == ' ' || *p == '\t' || *p == ','))
      ++p;
    const char* word_end = p;
    while (word_end < stop && *word_end != ' ' && *word_end != '\t' && *word_end != ',' &&
           *word_end != ';')
      ++word_end;
    const std::string word(p, word_end);
    const ReferenceUnit* unit = word.empty() ? nullptr : FindReferenceUnit(word);
    if (unit != nullptr && unit != &expected) {
      out.kind = ReferenceReply::Kind::kOtherUnit;
      out.unit_word = word;
    }
    return out;
  }
  return out;
}

std::optional<double> ReferenceToDisplay(double value, const ReferenceUnit& unit, int channel,
                                         int p_unit) {
  if (unit.temperature() != (channel == 1))
    return std::nullopt;
  if (unit.temperature())
    return value;
  return value / unit.per_kpa *
         PressureUnits[static_cast<size_t>(ListedPressureUnit(p_unit))].factor;
}

std::optional<double> DisplayToReference(double value, const ReferenceUnit& unit, int channel,
                                         int p_unit) {
  if (unit.temperature() != (channel == 1))
    return std::nullopt;
  if (unit.temperature())
    return value;
  return value / PressureUnits[static_cast<size_t>(ListedPressureUnit(p_unit))].factor *
         unit.per_kpa;
}

std::string ReferenceNumberText(double value) {
  char text[400];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
  std::string s(text, result.ptr);
  while (!s.empty() && s.back() == '0')
    s.pop_back();
  if (!s.empty() && s.back() == '.')
    s.pop_back();
  if (s == "-0")
    s = "0";
  return s;
}

std::string FillSetPoint(const std::string& pattern, double value) {
  static const std::string kField = "{value}";
  std::string out = pattern;
  const std::string number = ReferenceNumberText(value);
  for (size_t at = out.find(kField); at != std::string::npos;
       at = out.find(kField, at + number.size()))
    out.replace(at, kField.size(), number);
  return out;
}

#pragma once

#include <optional>
#include <string>
#include <vector>

// What a reference instrument's reply says, and its units.

// A unit a reference reading may come in: the word it is stored and shown as, the words
// instruments write for it, and the factor that turns kPa into it (0 for °C).
struct ReferenceUnit {
  const char* word;
  std::vector<const char*> aliases;  // compared without regard to ASCII case
  double per_kpa;
  bool temperature() const { return per_kpa == 0.0; }
};
const std::vector<ReferenceUnit>& ReferenceUnits();
// The unit of a stored or replied word (any alias, any ASCII case); nullptr when unknown.
const ReferenceUnit* FindReferenceUnit(const std::string& word);

struct ReferenceReply {
  enum class Kind {
    kNumber,     // `value` holds the first number, in the expected unit
    kNoNumber,   // the reply holds no number
    kOtherUnit,  // the number is followed by the word of another unit (`unit_word`)
  } kind = Kind::kNoNumber;
  double value = 0.0;
  std::string unit_word;
};

// Takes the first number in `reply` (optional sign, digits with a full stop, an exponent) and,
// when `check_unit`, the word right after it: a unit word other than `expected` refuses the
// reply; a word that names no unit is not looked at. Numbers that are not finite count as none.
ReferenceReply ParseReferenceReply(const std::string& reply, const ReferenceUnit& expected,
                                   bool check_unit);

// A value in `unit` converted into the channel's display unit (channel 0 pressure in the listed
// unit `p_unit`, channel 1 °C); nullopt when the unit does not measure what the channel does.
std::optional<double> ReferenceToDisplay(double value, const ReferenceUnit& unit, int channel,
                                         int p_unit);
// The other way: a display value as the instrument takes it.
std::optional<double> DisplayToReference(double value, const ReferenceUnit& unit, int channel,
                                         int p_unit);

// A number as a command carries it: a full stop, no exponent, no trailing zeros.
std::string ReferenceNumberText(double value);
// `pattern` with every "{value}" replaced by the number.
std::string FillSetPoint(const std::string& pattern, double value);

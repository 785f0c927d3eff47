#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// The selectable line rates; a position in the connection dialog's rate list is an index here.
inline constexpr std::array<int32_t, 8> BaudRates = {1200,  2400,  4800,  9600,
                                                     19200, 38400, 57600, 115200};

// Position of the first entry equal to `rate`, or -1 when the rate is not selectable.
int32_t RateIndex(int32_t rate);

// BaudRates[index] for 0..7, otherwise 0 (also for -1, "nothing selected").
int32_t RateByIndex(int32_t index);

// True when the four bytes, read as an IEEE-754 single, are an infinity or a NaN (all eight
// exponent bits set). The bytes may sit at any address.
bool IsBadFloat(const void* four_bytes);

// Key filters for the numeric edit fields. They get the typed character (a UTF-16 code unit,
// as a Qt key event's text delivers it) and answer the character to insert, or 0 to swallow
// the keystroke. Backspace (8), '%' (37) and the apostrophe (39) always pass: these are the
// character codes the editing keys produce in some toolkits.
//
// IntKeyFilter lets digits through and nothing else.
char16_t IntKeyFilter(char16_t key);

// FloatKeyFilter keeps a field typeable as a decimal number: optional leading '-', digits, one
// full stop (a typed comma becomes a full stop), and an optional exponent of a lower-case 'e',
// an optional sign and at most two digits. `text` is the field's whole current text and
// `caret` the start of its selection (the cursor position when nothing is selected), counted
// in UTF-16 code units from 0 = before the first character. The length of the selection is
// not considered.
char16_t FloatKeyFilter(std::u16string_view text, int caret, char16_t key);

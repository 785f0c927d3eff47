#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The code pages of the codes the corrector is sent: what is typed arrives as UTF-8, the
// corrector compares its password in DOS Cyrillic.

// Converts the first `length` bytes of `text` in place from Windows Cyrillic (cp1251) to DOS
// Cyrillic (cp866), the code page the corrector compares its password in. Characters with no
// cp866 counterpart (Ґ, ґ, most typographic signs) become '_'.
void Cp1251ToCp866(char* text, uint8_t length);

// UTF-8 text (what the GUI hands over) to cp1251 bytes, one byte per character. A character
// that cp1251 cannot hold, and every byte of a malformed UTF-8 sequence, becomes '?', as the
// Windows conversion does with its default character.
std::string Utf8ToCp1251(std::string_view utf8);

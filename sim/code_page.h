#pragma once

#include <optional>
#include <string>
#include <string_view>

// The corrector stores its codes as the master's text travels: the write password in the DOS
// Cyrillic code page (866), other text as typed on a Windows Cyrillic keyboard (1251). These
// turn command-line text (UTF-8) into those bytes. Characters the code page cannot hold give
// nothing.
std::optional<std::string> Utf8ToCp1251(std::string_view utf8);
// The same mapping the master applies before sending the write password: letters to their
// 866 places, the Ukrainian I and i to their Latin look-alikes, what 866 lacks to '_'.
std::string Cp1251ToCp866(std::string_view cp1251);

#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "comm/reply_finder.h"

namespace detail {
template <size_t N>
constexpr std::array<char, N> Blanks() {
  std::array<char, N> blanks{};
  blanks.fill(' ');
  return blanks;
}
}  // namespace detail

// All settings of the program. Four groups, each stored in one section of the settings file:
// link (CURR_CONNECT_PAR), corrector (LUTAR_CONNECT_PAR), sensor (SENS_CONNECT_PAR) and display
// (SHOW_TASK). The corrector's write password and user code belong to the corrector group but
// are never stored.
struct TConnectSettings {
  // Link.
  uint8_t conn_type = 1;     // 0 = straight to the sensor, 1 = through the corrector
  uint8_t port = 1;          // COM port number
  int32_t rate = 19200;      // bit/s
  int32_t wait_time = 1000;  // ms for the first reply byte
  int32_t time_out = 300;    // ms for each further reply byte
  uint8_t repeat = 1;        // attempts per exchange
  uint8_t echo = 0;          // the adapter's echo of a request: EchoMode
  // Corrector.
  uint8_t adr = 1;  // 255 = search
  uint8_t corr_pream = 3;
  uint8_t line_num = 1;
  std::array<char, 12> write_password = detail::Blanks<12>();  // cp866, blank-padded
  std::array<char, 4> user_code = detail::Blanks<4>();         // blank-padded
  // Sensor.
  uint8_t adr_P = 101;  // Modbus address of the pressure sensor
  uint8_t adr_T = 102;  // Modbus address of the temperature sensor
  uint8_t sens_pream = 3;
  // Display.
  uint8_t P_unit = 1;  // index into the pressure units
  uint8_t P_format = 2;
  uint8_t T_format = 2;
  uint16_t interval = 1000;  // ms between polls

  bool operator==(const TConnectSettings&) const = default;
};

// The echo setting as the exchanges take it; a stored value outside the three reads as kDetect.
EchoMode EchoModeOf(const TConnectSettings& settings);

// An integer value as the settings file holds it: decimal with an optional sign, or hexadecimal
// after "$" or (when the text is longer than two characters) "0x"/"0X". Hexadecimal takes up to
// eight digits and wraps into the signed range ("$FFFFFFFF" is -1). nullopt for anything else.
std::optional<int32_t> ParseIniInteger(std::string_view text);

// What a load found, for the user to be told once.
struct SettingsLoadReport {
  bool file_read = false;   // a file was there and was read
  bool too_large = false;   // a file was there but refused for its size (all defaults)
  bool unreadable = false;  // a file was there but could not be read (all defaults)
  // "SECTION/key=value" of each key that was present but not an integer of 32 bits, and so
  // took its default.
  std::vector<std::string> fallbacks;
};

// Fills `settings` from the file at `path`, parsed once. A missing or unreadable file, section
// or key, or a value that is not an integer, gives the field's default. Values are not
// range-checked; each is cut to its field's width (257 in an 8-bit field is 1). The password
// fields become blanks.
SettingsLoadReport LoadSettings(const std::string& path, TConnectSettings& settings);

// LoadSettings from the file's bytes (the report tells nothing of a file).
SettingsLoadReport LoadSettingsFromBytes(std::string bytes, TConnectSettings& settings);

// The file's bytes with every group of `current` that differs from `saved` written into them,
// as SaveSettings writes them; false when a key could not be set.
bool UpdateSettingsBytes(std::string& bytes, const TConnectSettings& current,
                         const TConnectSettings& saved);

// One line naming what a load could not take (a refused file, the keys that fell back), or ""
// when it took everything.
std::string SettingsLoadNotice(const SettingsLoadReport& report, const std::string& path);

// Writes every group of `current` that differs from `saved` (password fields included in the
// corrector group's comparison, but never written) into the file at `path`, each group's keys
// in the file's key order, and copies the written groups into `saved`. All changed groups go
// into the file in one replace, so the file on disk is the old one or the new one, never a mix.
// Nothing is touched when the two are equal. Where `path` does not exist yet and `base_path`
// names a readable file, the new file starts as a copy of that one (settings read from one
// place and saved to another keep what the first held). On failure returns false with `error`
// "Unable to write to <path>", `reason` (when given) the cause in Ukrainian, and `saved`
// unchanged, so the next call tries every changed group again.
bool SaveSettings(const std::string& path, const TConnectSettings& current, TConnectSettings& saved,
                  std::string& error, std::string* reason = nullptr,
                  const std::string& base_path = {});

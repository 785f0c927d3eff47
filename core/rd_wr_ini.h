#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

// An integer value as the settings file holds it: decimal with an optional sign, or hexadecimal
// after "$" or (when the text is longer than two characters) "0x"/"0X". Hexadecimal takes up to
// eight digits and wraps into the signed range ("$FFFFFFFF" is -1). nullopt for anything else.
std::optional<int32_t> ParseIniInteger(std::string_view text);

// Fills `settings` from the file at `path`. A missing or unreadable file, section or key, or a
// value that is not an integer, gives the field's default. Values are not range-checked; each
// is cut to its field's width (257 in an 8-bit field is 1). The password fields become blanks.
void LoadSettings(const std::string& path, TConnectSettings& settings);

// Writes every group of `current` that differs from `saved` (password fields included in the
// corrector group's comparison, but never written) into the file at `path`, key by key in the
// file's key order, and copies each written group into `saved`. Nothing is touched when the
// two are equal. If a key cannot be written, returns false with `error` "Unable to write to
// <path>"; that group and the ones after it stay unsaved in `saved`, so the next call tries
// them again.
bool SaveSettings(const std::string& path, const TConnectSettings& current, TConnectSettings& saved,
                  std::string& error);

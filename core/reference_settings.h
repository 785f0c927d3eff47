#pragma once

#include <array>
#include <cstdint>
#include <string>

// The reference instrument on a port of its own: how to reach it, what to ask it and how to read
// its answer; for a pressure controller also how to command it. Stored in a section of its own,
// so the settings of the link, the corrector, the sensor and the display are never touched.
struct ReferenceSettings {
  std::string name;        // as the engineer calls it in messages; empty: "Еталон"
  uint8_t port = 0;        // COM port number; 0: no reference instrument
  int32_t rate = 9600;     // bit/s
  uint8_t parity = 0;      // 0 none, 1 even, 2 odd (the codes OpenComPort takes)
  uint8_t stop_bits = 0;   // 0 one, 2 two
  uint8_t line_end = 2;    // of the commands sent: 0 CR, 1 LF, 2 CR LF
  int32_t timeout = 1000;  // ms for the first reply byte
  std::string identify = "*IDN?";
  std::string read = "VAL?";
  std::string unit = "kPa";  // the unit its readings come in: a word of ReferenceUnits()
  bool check_unit = true;    // a unit word after the number must be `unit`
  // Asked before a reading is taken when not empty; a non-zero answer means settled (a
  // controller in limits, a gauge stable).
  std::string in_limits;
  bool controller = false;
  std::string set_point;  // "{value}" stands for the set point in `unit`
  std::string output_on;
  std::string output_off;  // vents the output

  bool operator==(const ReferenceSettings&) const = default;
};

// A preset: the command style of a family of instruments, named by that style.
struct ReferencePreset {
  const char* name;
  ReferenceSettings settings;  // only the command fields and the line end count
};
const std::array<ReferencePreset, 3>& ReferencePresets();
// The command fields of `preset` put into `settings`; the port and the name stay.
void ApplyReferencePreset(const ReferencePreset& preset, ReferenceSettings& settings);

// The line end of `settings` as bytes.
std::string ReferenceLineEnd(const ReferenceSettings& settings);
// How the instrument is named in messages: its name and port.
std::string ReferenceTitle(const ReferenceSettings& settings);

// The section of the settings file; a missing or damaged key takes its default.
ReferenceSettings LoadReferenceSettings(const std::string& ini_path);
ReferenceSettings ReferenceSettingsFromBytes(const std::string& bytes);
// Writes the section into the file in one replace; the rest of the file stays as it was.
bool SaveReferenceSettings(const std::string& ini_path, const ReferenceSettings& settings,
                           std::string& reason);

#include "core/reference_settings.h"

#include <functional>
#include <vector>

#include "core/ini_file.h"
#include "core/rd_wr_ini.h"

namespace {

constexpr const char* kSection = "REFERENCE";

using S = ReferenceSettings;

struct Key {
  const char* name;
  std::function<std::string(const S&)> get;
  std::function<bool(S&, const std::string&)> set;  // false: the text does not fit
};

template <typename Int>
Key Whole(const char* name, Int S::*member, int64_t min, int64_t max) {
  return {name, [member](const S& s) { return std::to_string(static_cast<int64_t>(s.*member)); },
          [member, min, max](S& s, const std::string& text) {
            const auto value = ParseIniInteger(text);
            if (!value || *value < min || *value > max)
              return false;
            s.*member = static_cast<Int>(*value);
            return true;
          }};
}

Key Flag(const char* name, bool S::*member) {
  return {name, [member](const S& s) { return std::string(s.*member ? "1" : "0"); },
          [member](S& s, const std::string& text) {
            if (text != "0" && text != "1")
              return false;
            s.*member = text == "1";
            return true;
          }};
}

// Text keys are written in quotes, so blanks at either end of a command survive a reading.
Key Text(const char* name, std::string S::*member) {
  return {name, [member](const S& s) { return "\"" + s.*member + "\""; },
          [member](S& s, const std::string& text) {
            if (text.find_first_of("\r\n") != std::string::npos)
              return false;
            s.*member = text;
            return true;
          }};
}

const std::vector<Key>& Keys() {
  static const std::vector<Key> keys = {
      Text("name", &S::name),
      Whole("port", &S::port, 0, 255),
      Whole("rate", &S::rate, 110, 256000),
      Whole("parity", &S::parity, 0, 2),
      Whole("stop_bits", &S::stop_bits, 0, 2),
      Whole("line_end", &S::line_end, 0, 2),
      Whole("timeout", &S::timeout, 50, 60000),
      Text("identify", &S::identify),
      Text("read", &S::read),
      Text("unit", &S::unit),
      Flag("check_unit", &S::check_unit),
      Text("in_limits", &S::in_limits),
      Flag("controller", &S::controller),
      Text("set_point", &S::set_point),
      Text("output_on", &S::output_on),
      Text("output_off", &S::output_off),
  };
  return keys;
}

ReferenceSettings Preset(const char* read, const char* in_limits, bool controller,
                         const char* set_point, const char* on, const char* off, uint8_t line_end) {
  ReferenceSettings s;
  s.identify = "*IDN?";
  s.read = read;
  s.in_limits = in_limits;
  s.controller = controller;
  s.set_point = set_point;
  s.output_on = on;
  s.output_off = off;
  s.line_end = line_end;
  return s;
}

}  // namespace

const std::array<ReferencePreset, 3>& ReferencePresets() {
  static const std::array<ReferencePreset, 3> presets = {{
      {"Контролер тиску, команди SCPI (:SENS:PRES?, :SOUR:PRES)",
       Preset(":SENS:PRES?", ":SENS:PRES:INL?", true, ":SOUR:PRES {value}", ":OUTP:STAT ON",
              ":OUTP:STAT OFF", 1)},
      {"Ручний калібратор (VAL?, *IDN?)", Preset("VAL?", "", false, "", "", "", 2)},
      {"Простий манометр (A?, Stable?)", Preset("A?", "Stable?", false, "", "", "", 2)},
  }};
  return presets;
}

void ApplyReferencePreset(const ReferencePreset& preset, ReferenceSettings& s) {
  const ReferenceSettings& p = preset.settings;
  s.identify = p.identify;
  s.read = p.read;
  s.in_limits = p.in_limits;
  s.controller = p.controller;
  s.set_point = p.set_point;
  s.output_on = p.output_on;
  s.output_off = p.output_off;
  s.line_end = p.line_end;
}

std::string ReferenceLineEnd(const ReferenceSettings& s) {
  switch (s.line_end) {
    case 0:
      return "\r";
    case 1:
      return "\n";
    default:
      return "\r\n";
  }
}

std::string ReferenceTitle(const ReferenceSettings& s) {
  const std::string name = s.name.empty() ? std::string("Еталон") : "Еталон «" + s.name + "»";
  return name + " (COM" + std::to_string(s.port) + ")";
}

ReferenceSettings ReferenceSettingsFromBytes(const std::string& bytes) {
  const IniValues values{IniDocument(bytes)};
  ReferenceSettings s;
  for (const Key& key : Keys()) {
    if (const auto text = values.Get(kSection, key.name))
      key.set(s, *text);  // a value that does not fit leaves the default
  }
  return s;
}

ReferenceSettings LoadReferenceSettings(const std::string& ini_path) {
  std::string bytes;
  if (ReadIniFile(ini_path, bytes) != IniFileState::kRead)
    return {};
  return ReferenceSettingsFromBytes(bytes);
}

bool SaveReferenceSettings(const std::string& ini_path, const ReferenceSettings& s,
                           std::string& reason) {
  std::string bytes;
  switch (ReadIniFile(ini_path, bytes)) {
    case IniFileState::kRead:
    case IniFileState::kMissing:
      break;
    case IniFileState::kTooLarge:
      reason = "файл завеликий для файлу налаштувань";
      return false;
    case IniFileState::kUnreadable:
      reason = "файл є, але його не вдається прочитати";
      return false;
  }
  IniDocument document(std::move(bytes));
  for (const Key& key : Keys()) {
    if (!document.Set(kSection, key.name, key.get(s))) {
      reason = "неприпустиме значення ключа " + std::string(key.name);
      return false;
    }
  }
  return ReplaceFileAtomically(ini_path, document.Bytes(), &reason);
}

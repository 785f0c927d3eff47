#include "core/rd_wr_ini.h"

#include "core/ini_file.h"

#include <algorithm>
#include <functional>
#include <vector>

namespace {

constexpr const char* kLinkSection = "CURR_CONNECT_PAR";
constexpr const char* kCorrectorSection = "LUTAR_CONNECT_PAR";
constexpr const char* kSensorSection = "SENS_CONNECT_PAR";
constexpr const char* kDisplaySection = "SHOW_TASK";

std::optional<uint32_t> ParseDigits(std::string_view text, uint32_t base, uint64_t limit) {
  if (text.empty()) {
    return std::nullopt;
  }
  uint64_t value = 0;
  for (char c : text) {
    uint32_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
    if (value > limit) {
      return std::nullopt;
    }
  }
  return static_cast<uint32_t>(value);
}

// One field of the record: how it compares and copies, and, when it is stored, its key and its
// conversion to and from the file's integer.
struct Field {
  const char* key;  // nullptr: compared and copied with its group, never stored
  std::function<bool(const TConnectSettings&, const TConnectSettings&)> same;
  std::function<void(const TConnectSettings&, TConnectSettings&)> copy;
  std::function<void(TConnectSettings&, int32_t)> store;  // cut to the field's width
  std::function<int64_t(const TConnectSettings&)> load;
};

template <typename Value>
Field Unstored(Value TConnectSettings::*member) {
  return Field{
      nullptr,
      [member](const TConnectSettings& a, const TConnectSettings& b) {
        return a.*member == b.*member;
      },
      [member](const TConnectSettings& from, TConnectSettings& to) { to.*member = from.*member; },
      nullptr, nullptr};
}

template <typename Value>
Field Stored(const char* key, Value TConnectSettings::*member) {
  Field field = Unstored(member);
  field.key = key;
  field.store = [member](TConnectSettings& s, int32_t value) {
    s.*member = static_cast<Value>(static_cast<uint32_t>(value));
  };
  field.load = [member](const TConnectSettings& s) { return static_cast<int64_t>(s.*member); };
  return field;
}

// A group is saved as a whole, into its own section, whenever any of its fields differs.
struct Group {
  const char* section;
  std::vector<Field> fields;  // the stored ones in the file's key order
};

const std::vector<Group>& Groups() {
  using S = TConnectSettings;
  static const std::vector<Group> groups = {
      {kLinkSection,
       {Stored("conn_type", &S::conn_type), Stored("port", &S::port), Stored("rate", &S::rate),
        Stored("repeat", &S::repeat), Stored("wait_time", &S::wait_time),
        Stored("time_out", &S::time_out)}},
      // Its own group, so that a file saved before it existed is rewritten only when it changes.
      {kLinkSection, {Stored("echo", &S::echo)}},
      {kCorrectorSection,
       {Stored("adr", &S::adr), Stored("pream", &S::corr_pream), Stored("line_num", &S::line_num),
        Unstored(&S::write_password), Unstored(&S::user_code)}},
      {kSensorSection,
       {Stored("adr_P", &S::adr_P), Stored("adr_T", &S::adr_T), Stored("pream", &S::sens_pream)}},
      {kDisplaySection,
       {Stored("P_unit", &S::P_unit), Stored("P_format", &S::P_format),
        Stored("T_format", &S::T_format), Stored("interval", &S::interval)}},
  };
  return groups;
}

bool SameGroup(const Group& group, const TConnectSettings& a, const TConnectSettings& b) {
  return std::all_of(group.fields.begin(), group.fields.end(),
                     [&](const Field& field) { return field.same(a, b); });
}

}  // namespace

std::optional<int32_t> ParseIniInteger(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    const auto value = ParseDigits(text.substr(2), 16, 0xFFFFFFFFu);
    return value ? std::optional<int32_t>(static_cast<int32_t>(*value)) : std::nullopt;
  }
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  std::optional<uint32_t> magnitude;
  if (!text.empty() && text.front() == '$') {
    magnitude = ParseDigits(text.substr(1), 16, 0xFFFFFFFFu);
  } else {
    magnitude = ParseDigits(text, 10, negative ? 0x80000000u : 0x7FFFFFFFu);
  }
  if (!magnitude) {
    return std::nullopt;
  }
  const uint32_t bits = negative ? 0u - *magnitude : *magnitude;
  return static_cast<int32_t>(bits);
}

EchoMode EchoModeOf(const TConnectSettings& settings) {
  switch (settings.echo) {
    case static_cast<uint8_t>(EchoMode::kOff):
      return EchoMode::kOff;
    case static_cast<uint8_t>(EchoMode::kAlways):
      return EchoMode::kAlways;
    default:
      return EchoMode::kDetect;
  }
}

SettingsLoadReport LoadSettingsFromBytes(std::string bytes, TConnectSettings& settings) {
  SettingsLoadReport report;
  const IniValues values{IniDocument(std::move(bytes))};
  const TConnectSettings defaults;
  for (const Group& group : Groups()) {
    for (const Field& field : group.fields) {
      const std::optional<std::string> text =
          field.key ? values.Get(group.section, field.key) : std::nullopt;
      const std::optional<int32_t> value = text ? ParseIniInteger(*text) : std::nullopt;
      if (value) {
        field.store(settings, *value);
      } else {
        field.copy(defaults, settings);
        if (text) {
          report.fallbacks.push_back(std::string(group.section) + "/" + field.key + "=" + *text);
        }
      }
    }
  }
  return report;
}

SettingsLoadReport LoadSettings(const std::string& path, TConnectSettings& settings) {
  std::string bytes;
  const IniFileState state = ReadIniFile(path, bytes);
  SettingsLoadReport report = LoadSettingsFromBytes(std::move(bytes), settings);
  report.file_read = state == IniFileState::kRead;
  report.too_large = state == IniFileState::kTooLarge;
  report.unreadable = state == IniFileState::kUnreadable;
  return report;
}

bool UpdateSettingsBytes(std::string& bytes, const TConnectSettings& current,
                         const TConnectSettings& saved) {
  IniDocument document(std::move(bytes));
  bool ok = true;
  for (const Group& group : Groups()) {
    if (SameGroup(group, current, saved)) {
      continue;
    }
    for (const Field& field : group.fields) {
      if (field.key) {
        ok = document.Set(group.section, field.key, std::to_string(field.load(current))) && ok;
      }
    }
  }
  bytes = document.Bytes();
  return ok;
}

std::string SettingsLoadNotice(const SettingsLoadReport& report, const std::string& path) {
  if (report.too_large) {
    return "Файл налаштувань " + path + " завеликий (понад " +
           std::to_string(kMaxIniFileBytes / 1024) + " КБ) і не прочитаний: взято типові значення";
  }
  if (report.unreadable) {
    return "Файл налаштувань " + path + " не вдалося прочитати: взято типові значення";
  }
  if (report.fallbacks.empty()) {
    return {};
  }
  std::string text = "У файлі налаштувань " + path + " непридатні значення замінено типовими: ";
  for (size_t i = 0; i < report.fallbacks.size(); ++i) {
    // A damaged value may hold anything; the line shows a short, printable piece of it.
    std::string shown;
    for (char c : report.fallbacks[i].substr(0, 60)) {
      shown += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    }
    text += (i ? ", " : "") + shown;
  }
  return text;
}

bool SaveSettings(const std::string& path, const TConnectSettings& current, TConnectSettings& saved,
                  std::string& error, std::string* reason, const std::string& base_path) {
  if (current == saved) {
    return true;
  }
  const auto fail = [&](const std::string& why) {
    error = "Unable to write to " + path;
    if (reason) {
      *reason = why;
    }
    return false;
  };
  std::string bytes;
  switch (ReadIniFile(path, bytes)) {
    case IniFileState::kRead:
      break;
    case IniFileState::kMissing:
      if (!base_path.empty() && ReadIniFile(base_path, bytes) != IniFileState::kRead) {
        bytes.clear();
      }
      break;
    case IniFileState::kTooLarge:
      return fail("файл завеликий для файлу налаштувань");
    case IniFileState::kUnreadable:
      return fail("файл є, але його не вдається прочитати");
  }
  if (!UpdateSettingsBytes(bytes, current, saved)) {
    return fail("неприпустима назва розділу чи ключа");
  }
  std::string why;
  if (!ReplaceFileAtomically(path, bytes, &why)) {
    return fail(why);
  }
  for (const Group& group : Groups()) {
    for (const Field& field : group.fields) {
      field.copy(current, saved);
    }
  }
  return true;
}

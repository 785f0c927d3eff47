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

void LoadSettings(const std::string& path, TConnectSettings& settings) {
  std::string bytes;
  ReadIniFile(path, bytes);
  const IniDocument document(std::move(bytes));
  const TConnectSettings defaults;
  for (const Group& group : Groups()) {
    for (const Field& field : group.fields) {
      const std::optional<std::string> text =
          field.key ? document.Get(group.section, field.key) : std::nullopt;
      const std::optional<int32_t> value = text ? ParseIniInteger(*text) : std::nullopt;
      if (value) {
        field.store(settings, *value);
      } else {
        field.copy(defaults, settings);
      }
    }
  }
}

bool SaveSettings(const std::string& path, const TConnectSettings& current, TConnectSettings& saved,
                  std::string& error) {
  if (current == saved) {
    return true;
  }
  for (const Group& group : Groups()) {
    if (SameGroup(group, current, saved)) {
      continue;
    }
    for (const Field& field : group.fields) {
      if (field.key &&
          !WriteIniString(path, group.section, field.key, std::to_string(field.load(current)))) {
        error = "Unable to write to " + path;
        return false;
      }
    }
    for (const Field& field : group.fields) {
      field.copy(current, saved);
    }
  }
  return true;
}

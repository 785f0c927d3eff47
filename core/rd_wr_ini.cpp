#include "core/rd_wr_ini.h"

#include "core/ini_file.h"

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

// A field's key, its place in the record, and how wide it is.
struct Key {
  const char* name;
  int32_t default_value;
  std::function<void(TConnectSettings&, int32_t)> store;
  std::function<int64_t(const TConnectSettings&)> load;
};

template <typename Field>
Key MakeKey(const char* name, Field TConnectSettings::*field) {
  const TConnectSettings defaults;
  return Key{name, static_cast<int32_t>(defaults.*field),
             [field](TConnectSettings& s, int32_t value) {
               s.*field = static_cast<Field>(static_cast<uint32_t>(value));
             },
             [field](const TConnectSettings& s) { return static_cast<int64_t>(s.*field); }};
}

struct Group {
  const char* section;
  std::vector<Key> keys;  // in the file's order
  std::function<bool(const TConnectSettings&, const TConnectSettings&)> same;
  std::function<void(const TConnectSettings&, TConnectSettings&)> copy;
};

const std::vector<Group>& Groups() {
  using S = TConnectSettings;
  static const std::vector<Group> groups = {
      {kLinkSection,
       {MakeKey("conn_type", &S::conn_type), MakeKey("port", &S::port), MakeKey("rate", &S::rate),
        MakeKey("repeat", &S::repeat), MakeKey("wait_time", &S::wait_time),
        MakeKey("time_out", &S::time_out)},
       [](const S& a, const S& b) {
         return a.conn_type == b.conn_type && a.port == b.port && a.rate == b.rate &&
                a.wait_time == b.wait_time && a.time_out == b.time_out && a.repeat == b.repeat;
       },
       [](const S& from, S& to) {
         to.conn_type = from.conn_type;
         to.port = from.port;
         to.rate = from.rate;
         to.wait_time = from.wait_time;
         to.time_out = from.time_out;
         to.repeat = from.repeat;
       }},
      {kCorrectorSection,
       {MakeKey("adr", &S::adr), MakeKey("pream", &S::corr_pream),
        MakeKey("line_num", &S::line_num)},
       [](const S& a, const S& b) {
         return a.adr == b.adr && a.corr_pream == b.corr_pream && a.line_num == b.line_num &&
                a.write_password == b.write_password && a.user_code == b.user_code;
       },
       [](const S& from, S& to) {
         to.adr = from.adr;
         to.corr_pream = from.corr_pream;
         to.line_num = from.line_num;
         to.write_password = from.write_password;
         to.user_code = from.user_code;
       }},
      {kSensorSection,
       {MakeKey("adr_P", &S::adr_P), MakeKey("adr_T", &S::adr_T), MakeKey("pream", &S::sens_pream)},
       [](const S& a, const S& b) {
         return a.adr_P == b.adr_P && a.adr_T == b.adr_T && a.sens_pream == b.sens_pream;
       },
       [](const S& from, S& to) {
         to.adr_P = from.adr_P;
         to.adr_T = from.adr_T;
         to.sens_pream = from.sens_pream;
       }},
      {kDisplaySection,
       {MakeKey("P_unit", &S::P_unit), MakeKey("P_format", &S::P_format),
        MakeKey("T_format", &S::T_format), MakeKey("interval", &S::interval)},
       [](const S& a, const S& b) {
         return a.P_unit == b.P_unit && a.P_format == b.P_format && a.T_format == b.T_format &&
                a.interval == b.interval;
       },
       [](const S& from, S& to) {
         to.P_unit = from.P_unit;
         to.P_format = from.P_format;
         to.T_format = from.T_format;
         to.interval = from.interval;
       }},
  };
  return groups;
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
  for (const Group& group : Groups()) {
    for (const Key& key : group.keys) {
      const std::optional<std::string> text = document.Get(group.section, key.name);
      const std::optional<int32_t> value = text ? ParseIniInteger(*text) : std::nullopt;
      key.store(settings, value.value_or(key.default_value));
    }
  }
  settings.write_password = detail::Blanks<12>();
  settings.user_code = detail::Blanks<4>();
}

bool SaveSettings(const std::string& path, const TConnectSettings& current, TConnectSettings& saved,
                  std::string& error) {
  if (current == saved) {
    return true;
  }
  for (const Group& group : Groups()) {
    if (group.same(current, saved)) {
      continue;
    }
    for (const Key& key : group.keys) {
      if (!WriteIniString(path, group.section, key.name, std::to_string(key.load(current)))) {
        error = "Unable to write to " + path;
        return false;
      }
    }
    group.copy(current, saved);
  }
  return true;
}

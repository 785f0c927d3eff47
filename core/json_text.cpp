#include "core/json_text.h"

#include <cmath>

#include "core/shortest_decimal.h"

namespace {

using nlohmann::json;

void Append(const json& value, std::string& out) {
  switch (value.type()) {
    case json::value_t::object: {
      out += '{';
      bool first = true;
      for (const auto& [key, item] : value.items()) {
        if (!first)
          out += ',';
        first = false;
        out += json(key).dump(-1, ' ', false, json::error_handler_t::replace);
        out += ':';
        Append(item, out);
      }
      out += '}';
      break;
    }
    case json::value_t::array: {
      out += '[';
      for (size_t i = 0; i < value.size(); ++i) {
        if (i != 0)
          out += ',';
        Append(value[i], out);
      }
      out += ']';
      break;
    }
    case json::value_t::number_float: {
      const double number = value.get<double>();
      out += std::isfinite(number) ? ShortestDecimal(number) : std::string("null");
      break;
    }
    default:
      out += value.dump(-1, ' ', false, json::error_handler_t::replace);
  }
}

}  // namespace

std::string CompactJson(const json& value) {
  std::string out;
  Append(value, out);
  return out;
}

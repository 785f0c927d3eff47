#include "sim/sim_reference_options.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <sstream>

#include "sim/sim_options.h"

namespace {

bool Whole(const std::string& text, long min, long max, long& out) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size() && out >= min &&
         out <= max;
}

bool Real(const std::string& text, double min, double max, double& out) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size() &&
         std::isfinite(out) && out >= min && out <= max;
}

// Readings in these units are the sensor's kPa times the factor; °C is the temperature as it is.
// Restated here rather than taken from the program, so a wrong factor there shows in a test.
const std::map<std::string, double>& UnitFactors() {
  static const std::map<std::string, double> units = {
      {"kPa", 1.0},   {"Pa", 1000.0},        {"MPa", 0.001}, {"bar", 0.01},
      {"mbar", 10.0}, {"psi", 0.1450377377}, {"°C", 1.0},    {"C", 1.0},
  };
  return units;
}

}  // namespace

bool TakeReferenceOptions(const std::vector<std::string>& args, SimReferenceOptions& o,
                          std::vector<std::string>& rest, std::string& error) {
  SimReferenceConfig& d = o.device;
  struct Option {
    bool takes_value;
    std::function<bool(const std::string&)> apply;
    const char* expect;
  };
  const std::map<std::string, Option> table = {
      {"com",
       {true,
        [&](const std::string& v) {
          long n = 0;
          return Whole(v, 1, 255, n) && ((o.com = static_cast<int>(n)), true);
        },
        "a whole number from 1 to 255"}},
      {"style",
       {true,
        [&](const std::string& v) {
          if (v == "scpi")
            d.style = SimReferenceStyle::kScpiController;
          else if (v == "handheld")
            d.style = SimReferenceStyle::kHandheld;
          else if (v == "simple")
            d.style = SimReferenceStyle::kSimple;
          else
            return false;
          return true;
        },
        "scpi, handheld or simple"}},
      {"sensor",
       {true,
        [&](const std::string& v) {
          if (v != "pressure" && v != "temperature")
            return false;
          o.channel = v == "pressure" ? 0 : 1;
          return true;
        },
        "pressure or temperature"}},
      {"unit",
       {true,
        [&](const std::string& v) {
          const auto it = UnitFactors().find(v);
          if (it == UnitFactors().end())
            return false;
          d.unit_word = v;
          d.per_input = it->second;
          return true;
        },
        "kPa, Pa, MPa, bar, mbar, psi or °C"}},
      {"noise", {true, [&](const std::string& v) { return Real(v, 0, 1e9, d.noise); }, "a number"}},
      {"in-limits",
       {true, [&](const std::string& v) { return Real(v, 0, 1e9, d.in_limits); }, "a number"}},
      {"slew",
       {true, [&](const std::string& v) { return Real(v, 1e-6, 1e9, o.slew_per_s); }, "a number"}},
      {"overshoot",
       {true, [&](const std::string& v) { return Real(v, 0, 1, o.overshoot); }, "0 to 1"}},
      {"rate",
       {true,
        [&](const std::string& v) {
          long n = 0;
          return Whole(v, 300, 921600, n) && ((d.rate = static_cast<uint32_t>(n)), true);
        },
        "a whole number from 300 to 921600"}},
      {"fault-silence", {false, [&](const std::string&) { return d.silence = true; }, ""}},
      {"fault-garbage", {false, [&](const std::string&) { return d.garbage = true; }, ""}},
      {"fault-unit",
       {true, [&](const std::string& v) { return !(d.wrong_unit = v).empty(); }, "a word"}},
      {"fault-reply",
       {true, [&](const std::string& v) { return !(d.fault_reply = v).empty(); }, "a text"}},
      {"unplug-after",
       {true,
        [&](const std::string& v) {
          long n = 0;
          return Whole(v, 0, 0x7FFFFFFF, n) && ((o.unplug_after = static_cast<uint32_t>(n)), true);
        },
        "a whole number of 0 or more"}},
      {"unplug-for",
       {true,
        [&](const std::string& v) {
          long n = 0;
          return Whole(v, 1, 3600, n) &&
                 ((o.unplugged_ms = static_cast<uint32_t>(n) * 1000u), true);
        },
        "a whole number from 1 to 3600"}},
  };

  const std::string prefix = "--reference-";
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.rfind(prefix, 0) != 0) {
      rest.push_back(arg);
      continue;
    }
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(
        prefix.size(), equals == std::string::npos ? std::string::npos : equals - prefix.size());
    const auto it = table.find(name);
    if (it == table.end()) {
      error = "unknown option " + arg.substr(0, equals);
      return false;
    }
    std::string value;
    if (equals != std::string::npos) {
      if (!it->second.takes_value) {
        error = prefix + name + " takes no value";
        return false;
      }
      value = arg.substr(equals + 1);
    } else if (it->second.takes_value) {
      if (i + 1 >= args.size()) {
        error = prefix + name + " needs a value";
        return false;
      }
      value = args[++i];
    }
    if (!it->second.apply(value)) {
      error = prefix + name + ": expected " + it->second.expect + ", got '" + value + "'";
      return false;
    }
  }
  return true;
}

std::string ReferenceUsage() {
  return R"(
Reference instrument (on a second pseudo-terminal, linked as its own COMn):
  --reference-com N          serve it as COM N (default: no reference)
  --reference-style S        scpi (a pressure controller: :SENS:PRES?, :SOUR:PRES <value>,
                             :SENS:PRES:INL?, :OUTP:STAT ON|OFF), handheld (VAL?) or
                             simple (A?, Stable?); all answer *IDN? (default handheld)
  --reference-sensor S       pressure or temperature: whose input it reads (default pressure)
  --reference-unit U         kPa, Pa, MPa, bar, mbar, psi or °C, written after each reading
                             (default: kPa without a word)
  --reference-noise X        its readings deviate by up to X in its unit (default 0)
  --reference-in-limits X    band of "in limits" around the set point (default 0.01)
  --reference-slew X         a controller moves the input by X per second (default 20)
  --reference-overshoot F    past the set point by F of the step, then settles (default 0.02)
  --reference-rate N         bit/s its replies are paced at (default 9600)
  --reference-fault-silence  answers nothing
  --reference-fault-garbage  answers control bytes instead of a reading
  --reference-fault-unit W   writes the word W after each reading
  --reference-fault-reply T  answers the text T instead of a reading
  --reference-unplug-after N after N answered requests its port goes away, as when its
                             adapter is pulled out
  --reference-unplug-for S   and comes back at the same link after S seconds, 1..3600 (default 3)
)";
}

std::string DescribeReferenceOptions(const SimReferenceOptions& o) {
  if (o.com == 0)
    return {};
  const SimReferenceConfig& d = o.device;
  std::ostringstream out;
  out << "reference: COM" << o.com << ", "
      << (d.style == SimReferenceStyle::kScpiController ? "SCPI-style controller"
          : d.style == SimReferenceStyle::kSimple       ? "simple gauge (A?)"
                                                        : "handheld (VAL?)")
      << " reading the " << (o.channel == 0 ? "pressure" : "temperature") << " input"
      << (d.unit_word.empty() ? "" : " in " + d.unit_word) << ", noise " << d.noise;
  if (d.style == SimReferenceStyle::kScpiController)
    out << ", slew " << o.slew_per_s << "/s, overshoot " << o.overshoot;
  if (d.silence)
    out << ", fault: silence";
  if (d.garbage)
    out << ", fault: garbage";
  if (!d.wrong_unit.empty())
    out << ", fault: unit word " << d.wrong_unit;
  if (!d.fault_reply.empty())
    out << ", fault: replies " << d.fault_reply;
  if (o.unplug_after != 0)
    out << ", unplugged after " << o.unplug_after << " for " << o.unplugged_ms << " ms";
  out << '\n';
  return out.str();
}

std::shared_ptr<SimInput> AttachReferenceInput(SimOptions& options) {
  if (options.reference.com == 0)
    return nullptr;
  SensorConfig& sensor =
      options.reference.channel == 0 ? options.corrector.pressure : options.corrector.temperature;
  SimInput::Config config;
  config.value = sensor.value;
  config.drift_per_s = sensor.drift_per_s;
  config.slew_per_s = options.reference.slew_per_s;
  config.overshoot = options.reference.overshoot;
  sensor.input = std::make_shared<SimInput>(config);
  return sensor.input;
}

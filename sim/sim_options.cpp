#include "sim/sim_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <sstream>

#include "comm/code_page.h"

namespace {

// Text as the master would send it, refusing characters the Windows Cyrillic code page lacks
// instead of sending a question mark the engineer never typed.
std::optional<std::string> StrictUtf8ToCp1251(const std::string& utf8) {
  std::string bytes = Utf8ToCp1251(utf8);
  const auto marks = [](const std::string& t) { return std::count(t.begin(), t.end(), '?'); };
  if (marks(bytes) != marks(utf8))
    return std::nullopt;
  return bytes;
}

bool ParseWhole(std::string_view text, long min, long max, long& out) {
  long value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < min || value > max)
    return false;
  out = value;
  return true;
}

bool ParseReal(std::string_view text, double min, double max, double& out) {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value) || value < min ||
      value > max) {
    return false;
  }
  out = value;
  return true;
}

template <size_t N>
std::array<uint8_t, N> BlankPadded(const std::string& bytes) {
  std::array<uint8_t, N> out;
  out.fill(' ');
  for (size_t i = 0; i < bytes.size(); ++i)
    out[i] = static_cast<uint8_t>(bytes[i]);
  return out;
}

std::string Number(double value) {
  std::ostringstream s;
  s.imbue(std::locale::classic());
  s << value;
  return s.str();
}

std::string UnitName(uint16_t code) {
  if (code == kUnitKilopascal)
    return "kPa";
  if (code == kUnitDegreeCelsius)
    return "°C";
  return "(unit code " + std::to_string(code) + ")";
}

std::string DescribeSensor(const char* kind, const SensorConfig& s) {
  std::ostringstream out;
  out << kind << " sensor: address " << int(s.address) << ", " << Number(s.value) << ' '
      << UnitName(s.unit_code) << " (unit code " << s.unit_code << "), offset " << Number(s.offset)
      << ", slope " << Number(s.slope);
  return out.str();
}

}  // namespace

std::string SimUsage() {
  return R"(Usage: vorlix-sim [options]
Simulates the corrector and its sensors (or one sensor alone) on a pseudo-terminal and links it
into the ports folder of a settings folder as COMn, so the application can open it as port n.
Runs until interrupted (Ctrl+C) or terminated, then removes the link.

  --connection corrector|direct  what the port is wired to (default corrector)
  --com N                    port number of the link COMn, 1..255 (default 200)
  --ini-dir DIR              settings folder; the link goes into DIR/ports
                             (default: the application's settings folder: INI beside
                             this program, else ~/.config/vorlix/INI)
  --ready                    print "READY <link>" once serving
  --help                     this text

Corrector:
  --address N                corrector address 1..254 (default 1); 255 is always answered too
  --plate N                  plate code in the identification reply (default 26)
  --sw-version N             software version in the identification reply (default 37)
  --password-demand          demand the constants password for the service mode
  --const-password TEXT      constants password checked under --password-demand
                             (up to 16 characters; default: any accepted)
  --write-password TEXT      write password checked in every 0xBB request
                             (up to 12 characters; default: any accepted)
  --user-code DIGITS         user code checked in every 0xBB request (1..4 digits; default any)
  --service-delay MS         time a service mode change takes, 0..600000 (default 1000)
  --entering-state N         state reported while entering service, 0..7 (default 1)
  --leaving-state N          state reported while leaving service, 0..7 (default 2)
  --state-extra-bits N       bits ORed into the reported state, a multiple of 8 (default 0)
  --lines LIST               lines with sensors behind them, e.g. 1,3 (default 1,2,3)
  --refuse                   refuse every 0xAA request (reply function 0xFF)

Sensors:
  --pressure-address N       pressure sensor address 1..247 (default 101)
  --temperature-address N    temperature sensor address 1..247 (default 102)
  --pressure VALUE           raw pressure in kPa (default 101.325)
  --temperature VALUE        raw temperature in °C (default 20)
  --pressure-unit N          unit code in register 59 of the pressure sensor (default 12)
  --temperature-unit N       unit code in register 59 of the temperature sensor (default 32)
  --offset VALUE             calibration offset of both sensors at start (default 0)
  --slope VALUE              calibration slope of both sensors at start (default 1)
  --noise VALUE              readings deviate by up to this much (default 0)
  --drift VALUE              raw values move by this much per second (default 0)
  --seed N                   seed of the noise (default 1)
  --nonlinearity PCT         a quadratic error of PCT % of the span at mid-range, none at
                             the ends of the range (both sensors; default 0)
  --hysteresis VALUE         readings approached from above stand VALUE higher than from
                             below, in the sensor's unit (both sensors; default 0)
  --pressure-range LOW:HIGH  the range of the non-linearity, kPa (default 0:1000)
  --temperature-range LOW:HIGH  the same in °C (default -20:60)
  --write-protect            refuse calibration writes (exception 7)
  --ignore-writes            acknowledge calibration writes but keep the old calibration
  --alter-writes             acknowledge calibration writes but keep the slope one bit off
  --sensor pressure|temperature  the sensor on the line with --connection direct

Line:
  --rate N                   bit/s the replies are paced at, 300..921600 (default 19200)
  --turnaround MS            from the end of a request to the reply, 0..10000 (default 3)

Faults (each spoils the replies, see --fault-target and --fault-count):
  --fault-silence            no reply
  --fault-noise N            N garbage bytes before each reply, 1..255
  --fault-bad-checksum       wrong checksum
  --fault-cut N              only the first N bytes of each reply
  --fault-slow-byte MS       one gap between reply bytes is MS longer, 1..600000
  --fault-slow-index N       the byte that comes late (default 3)
  --fault-wrong-length       length byte (corrector) or byte count (function 3) too big,
                             with the frame to match
  --fault-line-disconnected  the sensor behind the corrector (or the lone sensor) is silent
  --fault-target all|corrector|sensor  which replies the faults spoil (default all)
  --fault-count N            spoil only the first N replies (default 0: all)

Adapter:
  --unplug-after N           after N answered requests close the terminal and remove the link,
                             as an adapter pulled out (default 0: never)
  --unplug-for S             then bring them back at the same link after S seconds, 1..3600
                             (default 3)
)" + ReferenceUsage();
}

ParseOutcome ParseSimOptions(const std::vector<std::string>& all_args, SimOptions& o,
                             std::string& error) {
  std::vector<std::string> args;
  if (!TakeReferenceOptions(all_args, o.reference, args, error))
    return ParseOutcome::kBad;
  CorrectorConfig& c = o.corrector;
  std::string lines_text;

  // Each option: whether it takes a value, and what it does with it (false: bad value, with
  // `expect` saying what was wanted).
  struct Option {
    bool takes_value;
    std::function<bool(const std::string&)> apply;
    std::string expect;
  };
  const auto whole = [](auto& field, long min, long max) {
    return [&field, min, max](const std::string& v) {
      long n = 0;
      if (!ParseWhole(v, min, max, n))
        return false;
      field = static_cast<std::remove_reference_t<decltype(field)>>(n);
      return true;
    };
  };
  const auto flag = [](bool& field) {
    return [&field](const std::string&) { return field = true; };
  };
  const auto range = [](long min, long max) {
    return "a whole number from " + std::to_string(min) + " to " + std::to_string(max);
  };
  const auto both_sensors = [&c](std::function<void(SensorConfig&, double)> set, double min,
                                 double max) {
    return [&c, set, min, max](const std::string& v) {
      double x = 0;
      if (!ParseReal(v, min, max, x))
        return false;
      set(c.pressure, x);
      set(c.temperature, x);
      return true;
    };
  };
  const auto range_of = [](SensorConfig& sensor) {
    return [&sensor](const std::string& v) {
      const size_t colon = v.find(':');
      double low = 0, high = 0;
      if (colon == std::string::npos || !ParseReal(v.substr(0, colon), -1e30, 1e30, low) ||
          !ParseReal(v.substr(colon + 1), -1e30, 1e30, high) || !(low < high))
        return false;
      sensor.range_low = low;
      sensor.range_high = high;
      return true;
    };
  };
  const auto real = [](double& field, double min, double max) {
    return [&field, min, max](const std::string& v) { return ParseReal(v, min, max, field); };
  };

  double turnaround_ms = o.timing.turnaround_us / 1000.0;
  long rate = o.timing.rate;
  std::map<std::string, Option> table = {
      {"connection",
       {true,
        [&](const std::string& v) {
          if (v == "corrector")
            o.connection = SimConnection::kCorrector;
          else if (v == "direct")
            o.connection = SimConnection::kDirect;
          else
            return false;
          return true;
        },
        "corrector or direct"}},
      {"com", {true, whole(o.com, 1, 255), range(1, 255)}},
      {"ini-dir",
       {true, [&](const std::string& v) { return !(o.ini_dir = v).empty(); }, "a folder"}},
      {"ready", {false, flag(o.ready), ""}},
      {"address", {true, whole(c.address, 1, 254), range(1, 254)}},
      {"plate", {true, whole(c.plate, 0, 255), range(0, 255)}},
      {"sw-version", {true, whole(c.sw_version, 0, 255), range(0, 255)}},
      {"password-demand", {false, flag(c.password_demand), ""}},
      {"const-password",
       {true,
        [&](const std::string& v) {
          const auto bytes = StrictUtf8ToCp1251(v);
          if (!bytes || bytes->size() > 16)
            return false;
          c.const_password = BlankPadded<16>(*bytes);
          return true;
        },
        "up to 16 Latin or Cyrillic characters"}},
      {"write-password",
       {true,
        [&](const std::string& v) {
          auto bytes = StrictUtf8ToCp1251(v);
          if (!bytes || bytes->size() > 12)
            return false;
          Cp1251ToCp866(bytes->data(), static_cast<uint8_t>(bytes->size()));
          c.write_password = BlankPadded<12>(*bytes);
          return true;
        },
        "up to 12 Latin or Cyrillic characters"}},
      {"user-code",
       {true,
        [&](const std::string& v) {
          if (v.empty() || v.size() > 4 || v.find_first_not_of("0123456789") != std::string::npos) {
            return false;
          }
          c.user_code = BlankPadded<4>(v);
          return true;
        },
        "1 to 4 digits"}},
      {"service-delay", {true, whole(c.service_delay_ms, 0, 600000), range(0, 600000)}},
      {"entering-state", {true, whole(c.entering_state, 0, 7), range(0, 7)}},
      {"leaving-state", {true, whole(c.leaving_state, 0, 7), range(0, 7)}},
      {"state-extra-bits",
       {true,
        [&](const std::string& v) {
          long n = 0;
          if (!ParseWhole(v, 0, 255, n) || (n & 7) != 0)
            return false;
          c.state_extra_bits = static_cast<uint8_t>(n);
          return true;
        },
        "a multiple of 8 from 0 to 248"}},
      {"lines", {true, [&](const std::string& v) { return !(lines_text = v).empty(); }, "a list"}},
      {"refuse", {false, flag(c.refuse), ""}},
      {"pressure-address", {true, whole(c.pressure.address, 1, 247), range(1, 247)}},
      {"temperature-address", {true, whole(c.temperature.address, 1, 247), range(1, 247)}},
      {"pressure", {true, real(c.pressure.value, -1e30, 1e30), "a number"}},
      {"temperature", {true, real(c.temperature.value, -1e30, 1e30), "a number"}},
      {"pressure-unit", {true, whole(c.pressure.unit_code, 0, 65535), range(0, 65535)}},
      {"temperature-unit", {true, whole(c.temperature.unit_code, 0, 65535), range(0, 65535)}},
      {"offset",
       {true,
        both_sensors([](SensorConfig& s, double x) { s.offset = static_cast<float>(x); }, -1e30,
                     1e30),
        "a number"}},
      {"slope",
       {true,
        [&](const std::string& v) {
          double x = 0;
          if (!ParseReal(v, -1e30, 1e30, x) || x == 0.0)
            return false;
          c.pressure.slope = c.temperature.slope = static_cast<float>(x);
          return true;
        },
        "a number other than 0"}},
      {"noise",
       {true, both_sensors([](SensorConfig& s, double x) { s.noise = x; }, 0, 1e30),
        "a number of 0 or more"}},
      {"drift",
       {true, both_sensors([](SensorConfig& s, double x) { s.drift_per_s = x; }, -1e30, 1e30),
        "a number"}},
      {"nonlinearity",
       {true, both_sensors([](SensorConfig& s, double x) { s.nonlinearity = x; }, -100, 100),
        "a per cent of the span, -100..100"}},
      {"hysteresis",
       {true, both_sensors([](SensorConfig& s, double x) { s.hysteresis = x; }, -1e30, 1e30),
        "a number"}},
      {"pressure-range", {true, range_of(c.pressure), "LOW:HIGH with LOW below HIGH"}},
      {"temperature-range", {true, range_of(c.temperature), "LOW:HIGH with LOW below HIGH"}},
      {"seed",
       {true,
        [&](const std::string& v) {
          long n = 0;
          if (!ParseWhole(v, 0, 0x7FFFFFFF, n))
            return false;
          c.pressure.seed = c.temperature.seed = static_cast<uint64_t>(n);
          return true;
        },
        range(0, 0x7FFFFFFF)}},
      {"write-protect",
       {false,
        [&](const std::string&) {
          return c.pressure.write_protect = c.temperature.write_protect = true;
        },
        ""}},
      {"ignore-writes",
       {false,
        [&](const std::string&) {
          c.pressure.write_fault = c.temperature.write_fault = SensorConfig::WriteFault::kIgnore;
          return true;
        },
        ""}},
      {"alter-writes",
       {false,
        [&](const std::string&) {
          c.pressure.write_fault = c.temperature.write_fault = SensorConfig::WriteFault::kAlter;
          return true;
        },
        ""}},
      {"sensor",
       {true,
        [&](const std::string& v) {
          if (v == "pressure")
            o.direct_channel = 0;
          else if (v == "temperature")
            o.direct_channel = 1;
          else
            return false;
          return true;
        },
        "pressure or temperature"}},
      {"rate", {true, whole(rate, 300, 921600), range(300, 921600)}},
      {"turnaround", {true, real(turnaround_ms, 0, 10000), "milliseconds from 0 to 10000"}},
      {"fault-silence", {false, flag(o.faults.silence), ""}},
      {"fault-noise", {true, whole(o.faults.noise_bytes, 1, 255), range(1, 255)}},
      {"fault-bad-checksum", {false, flag(o.faults.bad_checksum), ""}},
      {"fault-cut", {true, whole(o.faults.cut_after, 1, 65535), range(1, 65535)}},
      {"fault-slow-byte", {true, whole(o.faults.slow_byte_ms, 1, 600000), range(1, 600000)}},
      {"fault-slow-index", {true, whole(o.faults.slow_byte_index, 0, 65535), range(0, 65535)}},
      {"fault-wrong-length", {false, flag(o.faults.wrong_length), ""}},
      {"fault-line-disconnected", {false, flag(o.faults.line_disconnected), ""}},
      {"fault-target",
       {true,
        [&](const std::string& v) {
          if (v == "all")
            o.faults.target = FaultTarget::kAll;
          else if (v == "corrector")
            o.faults.target = FaultTarget::kCorrector;
          else if (v == "sensor")
            o.faults.target = FaultTarget::kSensor;
          else
            return false;
          return true;
        },
        "all, corrector or sensor"}},
      {"fault-count", {true, whole(o.faults.count, 0, 0x7FFFFFFF), range(0, 0x7FFFFFFF)}},
      {"unplug-after", {true, whole(o.unplug_after, 0, 0x7FFFFFFF), range(0, 0x7FFFFFFF)}},
      {"unplug-for",
       {true,
        [&o](const std::string& v) {
          long seconds = 0;
          if (!ParseWhole(v, 1, 3600, seconds))
            return false;
          o.unplugged_ms = static_cast<uint32_t>(seconds) * 1000u;
          return true;
        },
        range(1, 3600)}},
  };

  // The usage text above is the help; the library only reads the command line.
  CLI::App app("vorlix-sim", "vorlix-sim");
  app.set_help_flag("-h,--help");
  for (const auto& entry : table) {
    // A plain reference: clang 14 cannot capture a structured binding.
    const auto& option = entry.second;
    const std::string flag = "--" + entry.first;
    if (!option.takes_value) {
      app.add_flag_callback(flag, [apply = option.apply] { apply(""); });
      continue;
    }
    // Every value given is checked and applied in turn: the last one counts.
    app.add_option_function<std::vector<std::string>>(
           flag,
           [flag, &option](const std::vector<std::string>& values) {
             for (const std::string& value : values) {
               if (!option.apply(value)) {
                 throw CLI::ValidationError(flag + ": expected " + option.expect + ", got '" +
                                            value + "'");
               }
             }
           })
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  }
  for (const std::string& arg : args) {
    const size_t equals = arg.find('=');
    const auto it = arg.rfind("--", 0) == 0 && equals != std::string::npos
                        ? table.find(arg.substr(2, equals - 2))
                        : table.end();
    if (it != table.end() && !it->second.takes_value) {
      error = arg.substr(0, equals) + " takes no value";
      return ParseOutcome::kBad;
    }
  }
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    return ParseOutcome::kHelp;
  } catch (const CLI::ParseError& e) {
    error = e.what();
    return ParseOutcome::kBad;
  }

  if (!lines_text.empty()) {
    c.wired = {false, false, false};
    std::stringstream list(lines_text);
    std::string item;
    long line = 0;
    while (std::getline(list, item, ',')) {
      if (!ParseWhole(item, 1, kCorrectorLines, line)) {
        error = "--lines: expected line numbers from 1 to 3 separated by commas, got '" +
                lines_text + "'";
        return ParseOutcome::kBad;
      }
      c.wired[line - 1] = true;
    }
  }
  o.timing.rate = static_cast<uint32_t>(rate);
  o.timing.turnaround_us = static_cast<uint32_t>(std::lround(turnaround_ms * 1000.0));
  return ParseOutcome::kRun;
}

std::string DescribeSimOptions(const SimOptions& o) {
  const CorrectorConfig& c = o.corrector;
  std::ostringstream out;
  if (o.connection == SimConnection::kCorrector) {
    out << "corrector: address " << int(c.address) << ", plate " << int(c.plate)
        << ", software version " << int(c.sw_version) << '\n';
    out << "  constants password demanded: " << (c.password_demand ? "yes" : "no")
        << "; write password: " << (c.write_password ? "checked" : "any")
        << "; user code: " << (c.user_code ? "checked" : "any");
    if (c.password_demand)
      out << "; constants password: " << (c.const_password ? "checked" : "any");
    out << '\n';
    out << "  service mode changes take " << c.service_delay_ms << " ms; lines with sensors:";
    for (int i = 0; i < kCorrectorLines; ++i) {
      if (c.wired[i])
        out << ' ' << i + 1;
    }
    out << '\n';
    out << DescribeSensor("pressure", c.pressure) << '\n';
    out << DescribeSensor("temperature", c.temperature) << '\n';
  } else {
    out << "straight to the "
        << DescribeSensor(o.direct_channel == 0 ? "pressure" : "temperature",
                          o.direct_channel == 0 ? c.pressure : c.temperature)
        << '\n';
  }
  out << "readings: noise " << Number(c.pressure.noise) << ", drift "
      << Number(c.pressure.drift_per_s) << " per s"
      << (c.pressure.write_protect ? ", calibration write-protected" : "")
      << (c.pressure.write_fault == SensorConfig::WriteFault::kIgnore ? ", writes ignored" : "")
      << (c.pressure.write_fault == SensorConfig::WriteFault::kAlter ? ", writes altered" : "")
      << '\n';
  out << "line: " << o.timing.rate << " bit/s, turnaround "
      << Number(o.timing.turnaround_us / 1000.0) << " ms\n";
  const FaultConfig& f = o.faults;
  std::vector<std::string> faults;
  if (f.silence)
    faults.push_back("silence");
  if (f.noise_bytes)
    faults.push_back(std::to_string(f.noise_bytes) + " noise bytes");
  if (f.bad_checksum)
    faults.push_back("bad checksum");
  if (f.cut_after)
    faults.push_back("cut after " + std::to_string(f.cut_after) + " bytes");
  if (f.slow_byte_ms) {
    faults.push_back("byte " + std::to_string(f.slow_byte_index) + " late by " +
                     std::to_string(f.slow_byte_ms) + " ms");
  }
  if (f.wrong_length)
    faults.push_back("wrong length");
  if (f.line_disconnected)
    faults.push_back("line disconnected");
  out << "faults: ";
  if (faults.empty())
    out << "none";
  for (size_t i = 0; i < faults.size(); ++i)
    out << (i ? ", " : "") << faults[i];
  if (f.AnyReplyFault()) {
    out << " (on "
        << (f.target == FaultTarget::kAll         ? "all"
            : f.target == FaultTarget::kCorrector ? "corrector"
                                                  : "sensor")
        << " replies" << (f.count ? ", the first " + std::to_string(f.count) : std::string())
        << ')';
  }
  out << '\n' << DescribeReferenceOptions(o.reference);
  return out.str();
}

std::unique_ptr<LineDevice> MakeSimDevice(const SimOptions& o) {
  if (o.connection == SimConnection::kDirect) {
    return std::make_unique<SimDirectSensor>(
        o.direct_channel == 0 ? o.corrector.pressure : o.corrector.temperature, o.timing, o.faults);
  }
  return std::make_unique<SimCorrector>(o.corrector, o.timing, o.faults);
}

#include "cli/cli_app.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>

#include "cli/cli_host.h"
#include "cli/cmd_reference.h"
#include "cli/cmd_verify_instrument.h"
#include "cli/exit_codes.h"
#include "cli/journal_text.h"
#include "cli/terminal.h"
#include "cli/typed_numbers.h"
#include "comm/code_page.h"
#include "comm/comportfunctions.h"
#include "core/calibration.h"
#include "core/calibration_checks.h"
#include "core/calibration_journal.h"
#include "core/calibration_restore.h"
#include "core/calibration_write.h"
#include "core/json_text.h"
#include "core/link_session.h"
#include "core/number_format.h"
#include "core/reading_log.h"
#include "core/reference_session.h"
#include "core/settings_location.h"
#include "core/suplfunc.h"
#include "core/verification_session.h"

using nlohmann::json;

namespace {

// A failure that ends the command with its exit code and a one-line message.
struct Failure {
  int code;
  std::string message;
};

constexpr int kLastPort = 255;
constexpr int kMaxPreambles = 25;
constexpr int kReadingsForMean = StatisticsRing::kSize;

const char kExitCodes[] = R"(
Exit codes:
  0  done
  1  failed otherwise (a file not written, readings that never settled)
  2  wrong usage: an unknown option, a value out of range, a journal record not there, a
     write without --yes and without a terminal to confirm it on
  3  the port is not there or cannot be opened
  4  the corrector or the sensor did not answer or refused
  5  calibration not written: not finite, slope 0, doubtful, or not confirmed
  6  the sensor read back something else than was written, or nothing
  7  stopped by Ctrl+C or a termination request (the line is taken out of service first)
  8  verify: the sensor is not within its tolerance at every point, or only conditionally

The user code and the write password are taken from VORLIX_USER_CODE and
VORLIX_WRITE_PASSWORD, the constants password (when the corrector demands one) from
VORLIX_CONST_PASSWORD, or asked for on the terminal without echo; never from the command line.
)";

struct Options {
  std::string ini;
  std::string type;
  int port = 0, rate = 0, first_byte = 0, next_byte = 0, tries = 0;
  int corrector_address = 0, corrector_preambles = 0, line = 0;
  int sensor_address = 0, sensor_preambles = 0;
  std::string channel = "pressure";
  std::string unit;
  int decimals = 0, interval = 0;
  bool json = false;
  bool yes = false;
  bool leave_busy_line = false;
  bool trace = false;

  bool all_ports = false;
  int count = 1;
  std::string csv;
  int max_readings = 100;
  std::string applied[2];
  std::string offset, slope;
  int record = 0;
  bool as_left = false;
  std::string output;

  // verify: the channel's plan from the settings file, with what is given here over it.
  std::string points, range, direction, tolerance, tolerance_kind, rule, reference, stage;
  std::vector<std::string> applied_values;
  bool instrument = false;
};

json FloatJson(double v) {
  if (!std::isfinite(v))
    return nullptr;
  char buffer[32];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(v)).ptr;
  double shown = v;
  std::from_chars(buffer, end, shown);
  return shown;
}

json CalibrationJson(const SensorCalibration& c) {
  return {{"offset", FloatJson(c.offset)}, {"slope", FloatJson(c.slope)}};
}

std::string Fixed(double v) {
  return FormatFixed(v, kCalibrationDecimals);
}

void Print(const Options& o, const json& j, const std::string& text) {
  if (o.json)
    std::cout << CompactJson(j) << '\n';
  else
    std::cout << text;
  std::cout.flush();
}

// The settings of the command: the settings file's, then what the command line gives.
void ApplyOptions(const Options& o, const CLI::App& app, AppState& state) {
  TConnectSettings& s = state.ConnectSettings;
  const auto given = [&app](const char* name) { return app.get_option(name)->count() > 0; };
  if (given("--type"))
    s.conn_type = o.type == "corrector" ? 1 : 0;
  if (given("--port"))
    s.port = static_cast<uint8_t>(o.port);
  if (given("--rate"))
    s.rate = o.rate;
  if (given("--first-byte-timeout"))
    s.wait_time = o.first_byte;
  if (given("--next-byte-timeout"))
    s.time_out = o.next_byte;
  if (given("--tries"))
    s.repeat = static_cast<uint8_t>(o.tries);
  if (given("--corrector-address"))
    s.adr = static_cast<uint8_t>(o.corrector_address);
  if (given("--corrector-preambles"))
    s.corr_pream = static_cast<uint8_t>(o.corrector_preambles);
  if (given("--line"))
    s.line_num = static_cast<uint8_t>(o.line);
  state.Channel = o.channel == "temperature" ? 1 : 0;
  if (given("--sensor-address"))
    (state.Channel == 1 ? s.adr_T : s.adr_P) = static_cast<uint8_t>(o.sensor_address);
  if (given("--sensor-preambles"))
    s.sens_pream = static_cast<uint8_t>(o.sensor_preambles);
  if (given("--unit"))
    s.P_unit = static_cast<uint8_t>(PressureUnitIndex(o.unit).value_or(kKilopascalUnit));
  if (given("--decimals"))
    (state.Channel == 1 ? s.T_format : s.P_format) = static_cast<uint8_t>(o.decimals);
  if (given("--interval"))
    s.interval = static_cast<uint16_t>(o.interval);
  s.P_unit = static_cast<uint8_t>(ListedPressureUnit(s.P_unit));
}

// A code as the corrector compares it: one Windows Cyrillic byte per character, blank-padded.
template <size_t N>
std::optional<std::array<char, N>> CodeField(const std::string& typed) {
  const std::string bytes = Utf8ToCp1251(typed);
  if (bytes.size() > N ||
      std::count(bytes.begin(), bytes.end(), '?') != std::count(typed.begin(), typed.end(), '?'))
    return std::nullopt;
  std::array<char, N> field;
  field.fill(' ');
  std::copy(bytes.begin(), bytes.end(), field.begin());
  return field;
}

std::optional<std::string> Secret(const char* variable, const std::string& prompt) {
  if (const std::optional<std::string> value = ProcessEnvironment(variable))
    return value;
  if (!InputIsTerminal())
    return std::nullopt;
  std::cerr << prompt << ": " << std::flush;
  return ReadInputLine(false);
}

// The corrector's codes from the environment or the terminal.
void TakeCodes(AppState& state) {
  TConnectSettings& s = state.ConnectSettings;
  const std::optional<std::string> user_code =
      Secret("VORLIX_USER_CODE", "User code (VORLIX_USER_CODE)");
  if (!user_code || user_code->empty())
    throw Failure{kExitUsage, "the user code is needed: set VORLIX_USER_CODE"};
  const auto user_field = CodeField<4>(*user_code);
  if (!user_field)
    throw Failure{kExitUsage, "the user code takes up to 4 characters"};
  s.user_code = *user_field;
  const std::string password =
      Secret("VORLIX_WRITE_PASSWORD", "Write password (VORLIX_WRITE_PASSWORD)").value_or("");
  auto password_field = CodeField<12>(password);
  if (!password_field)
    throw Failure{kExitUsage,
                  "the write password takes up to 12 Latin or Cyrillic (Windows-1251) characters"};
  // The corrector compares the password in the DOS Cyrillic code page.
  Cp1251ToCp866(password_field->data(), static_cast<uint8_t>(password_field->size()));
  s.write_password = *password_field;
  state.TypedUserCode = *user_code;
  state.TypedWritePassword = password;
}

bool ConstPassword(calcbox& box) {
  const std::optional<std::string> typed =
      Secret("VORLIX_CONST_PASSWORD", "Constants password (VORLIX_CONST_PASSWORD)");
  if (!typed) {
    Progress("the corrector demands its constants password: set VORLIX_CONST_PASSWORD");
    return false;
  }
  const auto field = CodeField<16>(*typed);
  if (!field) {
    Progress("the constants password takes up to 16 Latin or Cyrillic characters");
    return false;
  }
  std::copy(field->begin(), field->end(), box.const_password.begin());
  return true;
}

// The end of a command that talked to the devices: a stop request wins over what the exchange
// reported.
int DeviceFailure(const std::string& message) {
  if (StopRequested())
    throw Failure{kExitAborted, "stopped"};
  throw Failure{kExitDevice, message};
}

// The display of the link's channel: unit, its factor against the sensor's unit, decimals.
struct Display {
  std::string unit;
  double factor = 1.0;
  int digits = 2;
};

Display DisplayOf(const AppState& state) {
  const TConnectSettings& s = state.ConnectSettings;
  Display d;
  d.unit = ChannelUnitName(state.Channel, s.P_unit);
  if (state.Channel == 0) {
    PressureFactor(s.P_unit, d.factor);
    d.digits = s.P_format;
  } else {
    d.digits = s.T_format;
  }
  return d;
}

class Command {
 public:
  Command(const Options& o, AppState& state, CliHost& host)
      : o_(o), state_(state), host_(host), link_(state, host) {}

  // Opens the port; with `sensor` the whole connection up to the calibration read.
  void Open(bool sensor) {
    std::string error;
    if (sensor && state_.ConnectSettings.conn_type == 1)
      TakeCodes(state_);
    if (!link_.Open(o_.trace, error))
      throw Failure{kExitPort, error};
    if (sensor && !link_.Connect(ConstPassword, o_.leave_busy_line || o_.yes, error))
      DeviceFailure(error);
  }

  modbusbox& Sensor() { return *state_.ActiveModbusBox; }
  CliHost& host() { return host_; }

  // One reading of the sensor in the display unit for a run read beside the reference.
  SensorSample SampleSensor(const Display& d) {
    float reading = 0.0f;
    float shown = 0.0f;
    if (Sensor().ReadValue(reading)) {
      if (!IsBadFloat(&reading) && !IsBadFloat(&(shown = ToDisplayUnit(reading, d.factor))))
        return {SensorSample::Kind::kValue, shown, {}};
      return {SensorSample::Kind::kFailed, 0.0, "the sensor's value is not a number"};
    }
    const bool lost = Sensor().error_code == modbusbox::kErrorLinkLost;
    return {lost ? SensorSample::Kind::kLinkLost : SensorSample::Kind::kFailed, 0.0,
            MessageLines(Sensor().ErrorText())};
  }

  CalibrationLink Link() {
    return CalibrationLink{&host_, [this] { return state_.ActiveModbusBox.get(); },
                           [](const std::function<bool()>& exchange) { return exchange(); },
                           [this](const JournalRecord& record) {
                             return KeepJournalRecord(host_, state_.SettingsFolder, record);
                           }};
  }

  // Waits what is left of `interval_ms` since `since`, the tick of the last poll.
  void WaitNext(uint32_t since, uint32_t interval_ms) {
    const uint32_t elapsed = state_.clock->TickCount() - since;
    if (elapsed < interval_ms && !StopRequested())
      state_.clock->Pause(interval_ms - elapsed);
  }

  // Readings until the last ten have settled or `max` were taken; the spread of the last ten.
  ReadingSpread CollectStable(const Display& d, int max, const CalibrationLimits& limits) {
    std::vector<double> values, times;
    ReadingSpread spread;
    const uint32_t start = state_.clock->TickCount();
    const double step = std::pow(10.0, -d.digits);
    for (int n = 0; n < max && !StopRequested(); ++n) {
      const uint32_t tick = state_.clock->TickCount();
      float reading = 0.0f;
      float shown = 0.0f;
      // A reading at the edge of the float range can overflow in the display unit; it would
      // spoil the mean, so it is passed over like one that is not a number.
      if (Sensor().ReadValue(reading) && !IsBadFloat(&reading) &&
          !IsBadFloat(&(shown = ToDisplayUnit(reading, d.factor)))) {
        values.push_back(shown);
        times.push_back(tick - start);
        if (values.size() > static_cast<size_t>(kReadingsForMean)) {
          values.erase(values.begin());
          times.erase(times.begin());
        }
        spread = SpreadOf(values, times, kReadingsForMean, step, limits.stability_share);
        Progress("reading " + std::to_string(n + 1) + ": " + FormatFixed(shown, d.digits) +
                 " (mean " + FormatFixed(spread.mean, d.digits) + ", spread " +
                 FormatFixed(spread.maximum - spread.minimum, d.digits + 1) + ")");
        if (spread.stable)
          break;
      } else {
        Progress("reading " + std::to_string(n + 1) + ": " + MessageLines(Sensor().ErrorText()));
      }
      WaitNext(tick, state_.ConnectSettings.interval);
    }
    if (StopRequested())
      throw Failure{kExitAborted, "stopped"};
    return spread;
  }

  // Whether the calibration may be written: --yes, or a "y" on the terminal.
  bool Confirmed(const std::vector<std::string>& doubts, JournalRecord& journal) {
    for (const std::string& doubt : doubts)
      Progress("doubtful: " + doubt);
    if (o_.yes && doubts.empty())
      return true;
    if (!o_.yes && host_.interactive && AskYesNo("Write this calibration into the sensor?"))
      return true;
    journal.outcome = JournalOutcome::kRefused;
    if (!doubts.empty())
      journal.note = doubts.front();
    return false;
  }

  // Journals a calibration left unwritten and ends the command: aborted when a stop came
  // while the question was open, refused otherwise.
  [[noreturn]] void Unconfirmed(JournalRecord& journal, const std::string& message) {
    if (StopRequested())
      journal.outcome = JournalOutcome::kCancelled;
    KeepJournalRecord(host_, state_.SettingsFolder, journal);
    if (StopRequested())
      throw Failure{kExitAborted, "stopped"};
    throw Failure{kExitRefused, message};
  }

  // Ends a calibration command. The record of a write is kept by the write itself, before it
  // tells anything (`kept_by_write`); one of a command that wrote nothing is kept here.
  int Written(WriteResult result, JournalRecord& journal, const CalibrationRecord* record,
              std::optional<bool> kept_by_write) {
    const bool kept =
        kept_by_write ? *kept_by_write : KeepJournalRecord(host_, state_.SettingsFolder, journal);
    std::optional<JournalCheck> check;
    if (result == WriteResult::kWritten && record != nullptr) {
      const Display d = DisplayOf(state_);
      const CalibrationLimits limits = LoadCalibrationLimits(state_.IniPath);
      Progress("checking at the point still applied...");
      JournalCheck c;
      if (CheckAtAppliedPoint(
              Link(), *record, journal,
              [&]() -> std::optional<ReadingSpread> {
                const ReadingSpread s = CollectStable(d, o_.max_readings, limits);
                if (s.count == 0)
                  return std::nullopt;
                return s;
              },
              &c)) {
        check = c;
        journal.as_left_error = c.error;
      }
    }
    json j = {{"outcome", OutcomeKey(journal.outcome)}, {"run", journal.run}};
    if (journal.as_found)
      j["as_found"] = CalibrationJson(*journal.as_found);
    if (journal.computed)
      j["computed"] = CalibrationJson(*journal.computed);
    if (journal.written)
      j["written"] = CalibrationJson(*journal.written);
    if (journal.read_back)
      j["read_back"] = CalibrationJson(*journal.read_back);
    if (journal.read_back_matches)
      j["read_back_matches"] = *journal.read_back_matches;
    if (journal.as_left_error)
      j["as_left_error"] = *journal.as_left_error;
    if (check)
      j["check"] = {{"point", check->point},       {"applied", check->applied},
                    {"mean", check->mean},         {"deviation", check->deviation},
                    {"readings", check->readings}, {"error", check->error}};
    j["journal"] = kept ? JournalPath(state_.SettingsFolder) : "";
    std::string text = std::string("outcome: ") + OutcomeKey(journal.outcome) + "\n";
    if (journal.read_back)
      text += "read back: offset " + Fixed(journal.read_back->offset) + ", slope " +
              Fixed(journal.read_back->slope) +
              (journal.read_back_matches.value_or(false) ? " (matches)\n" : " (differs)\n");
    Print(o_, j, text);
    switch (result) {
      case WriteResult::kWritten:
        return kept ? kExitDone : kExitFailed;
      case WriteResult::kRefused:
        throw Failure{kExitRefused,
                      "not written: the offset and the slope must be finite numbers "
                      "and the slope not 0"};
      case WriteResult::kFailed:
        return DeviceFailure("the write failed: " + MessageLines(journal.note));
      case WriteResult::kMismatch:
        throw Failure{kExitMismatch, "the sensor keeps something else than was written"};
      case WriteResult::kUnread:
        throw Failure{kExitMismatch, "written, but the calibration could not be read back"};
    }
    return kExitFailed;
  }

  // Writes `target` after the confirmation and journals it.
  int WriteTarget(const SensorCalibration& target, JournalOutcome success, JournalRecord journal) {
    if (!IsWritableCalibration(target.offset, target.slope)) {
      journal.outcome = JournalOutcome::kRefused;
      return Written(WriteResult::kRefused, journal, nullptr, std::nullopt);
    }
    Progress("now: offset " + Fixed(state_.SensorOffset) + ", slope " + Fixed(state_.SensorSlope));
    Progress("new: offset " + Fixed(target.offset) + ", slope " + Fixed(target.slope));
    if (!Confirmed({}, journal))
      Unconfirmed(journal, "not written: not confirmed (give --yes)");
    bool kept = false;
    const WriteResult result = WriteVerifiedCalibration(Link(), target, journal, success, &kept);
    return Written(result, journal, nullptr, kept);
  }

 protected:
  const Options& o_;
  AppState& state_;
  CliHost& host_;
  CliLink link_;
};

// Without --yes a write waits for a "y" typed on the terminal; with no terminal to type it on
// it would only be refused after everything was measured, so it is said before anything is.
void RequireAnswerOrYes(const Options& o, const std::string& what_to_give) {
  if (!o.yes && !InputIsTerminal())
    throw Failure{
        kExitUsage,
        "cannot ask for a confirmation: standard input is not a terminal; give " + what_to_give};
}

// The value applied at a point, typed on the terminal; asked again after a typo, so that a
// point already measured is never thrown away. Nothing at the end of input or at a stop.
std::optional<float> AskAppliedValue(const std::string& name, const std::string& unit) {
  for (;;) {
    std::cerr << "Value applied at " << name << " (" << unit << "): " << std::flush;
    const std::optional<std::string> typed = ReadInputLine(true);
    if (!typed)
      return std::nullopt;
    const std::optional<float> value = CalibrationNumber(*typed);
    if (value && std::isfinite(*value))
      return value;
    std::cerr << "not a number: '" << *typed << "'; type it again\n";
  }
}

int Ports(const Options& o) {
  json list = json::array();
  std::string text;
  for (int n = 1; n <= kLastPort; ++n) {
    const std::string path = ComPortDevicePath(n);
    if (path.empty())
      continue;
    const bool present = ComPortExists(n);
    if (!present && !o.all_ports)
      continue;
    list.push_back({{"port", n}, {"device", path}, {"present", present}});
    text += "COM" + std::to_string(n) + "\t" + path + (present ? "\tpresent\n" : "\tabsent\n");
  }
  Print(o, {{"ports", list}}, text);
  return kExitDone;
}

int Identify(Command& c, const Options& o, AppState& state) {
  c.Open(false);
  if (calcbox* box = state.ActiveCalcBox.get()) {
    if (!box->ReadIdentification())
      return DeviceFailure("no identification: " + MessageLines(box->ErrorText()));
    Print(o,
          {{"corrector_address", box->address},
           {"plate", box->plate},
           {"software_version", box->sw_version},
           {"constants_password_required", box->const_password_required}},
          "corrector address " + std::to_string(box->address) + "\nplate " +
              std::to_string(box->plate) + "\nsoftware version " + std::to_string(box->sw_version) +
              "\nconstants password " +
              (box->const_password_required ? "demanded" : "not demanded") + "\n");
    return kExitDone;
  }
  modbusbox& sensor = c.Sensor();
  constexpr uint16_t kUnitRegister = 59;
  if (!sensor.ReadRegisters(kUnitRegister, 1))
    return DeviceFailure("no unit: " + MessageLines(sensor.ErrorText()));
  const int code = sensor.values[0] & 0xFF;
  const char* unit = code == 12 ? "kPa" : code == 32 ? "°C" : "unknown";
  Print(o, {{"sensor_address", sensor.address}, {"unit_code", code}, {"unit", unit}},
        "sensor address " + std::to_string(sensor.address) + "\nunit code " + std::to_string(code) +
            " (" + unit + ")\n");
  return kExitDone;
}

int Read(Command& c, const Options& o, AppState& state) {
  c.Open(true);
  const Display d = DisplayOf(state);
  ReadingLog csv;
  if (!o.csv.empty()) {
    std::string error;
    if (!csv.Open(o.csv, UserDecimalSeparator(), error))
      throw Failure{kExitFailed, "cannot write " + o.csv + ": " + error};
  }
  const uint32_t start = state.clock->TickCount();
  int failed = 0;
  for (int n = 0; n < o.count && !StopRequested(); ++n) {
    const uint32_t tick = state.clock->TickCount();
    LogReading r;
    r.when = std::chrono::system_clock::now();
    r.seconds = (tick - start) / 1000.0;
    r.unit = d.unit;
    r.channel = LogChannelName(state.Channel);
    float reading = 0.0f;
    if (c.Sensor().ReadValue(reading)) {
      const MonitorValues v =
          ConvertReading(reading, state.SensorOffset, state.SensorSlope, d.factor);
      r.reported = v.value;
      r.factory = v.factory_value;
    } else {
      r.error = MessageLines(c.Sensor().ErrorText());
      ++failed;
    }
    if (StopRequested())
      break;
    if (csv.is_open())
      csv.Append(r);
    const json j = {{"time", LogTimeText(r.when)},
                    {"seconds", r.seconds},
                    {"value", r.reported ? FloatJson(*r.reported) : json(nullptr)},
                    {"factory_value", r.factory ? FloatJson(*r.factory) : json(nullptr)},
                    {"unit", r.unit},
                    {"channel", state.Channel == 1 ? "temperature" : "pressure"},
                    {"error", r.error.empty() ? json(nullptr) : json(r.error)}};
    Print(o, j,
          r.reported ? FormatFixed(*r.reported, d.digits) + " " + d.unit + "\t(factory " +
                           FormatFixed(*r.factory, d.digits) + ")\n"
                     : "error: " + r.error + "\n");
    if (n + 1 < o.count)
      c.WaitNext(tick, state.ConnectSettings.interval);
  }
  if (StopRequested())
    throw Failure{kExitAborted, "stopped"};
  if (csv.is_open()) {
    csv.Close();
    if (!csv.error().empty())
      throw Failure{kExitFailed, "cannot write " + o.csv + ": " + csv.error()};
  }
  if (failed > 0)
    DeviceFailure(std::to_string(failed) + " of " + std::to_string(o.count) + " readings failed");
  return kExitDone;
}

int Calibration(Command& c, const Options& o, AppState& state) {
  c.Open(true);
  Print(o, CalibrationJson({state.SensorOffset, state.SensorSlope}),
        "offset " + Fixed(state.SensorOffset) + "\nslope " + Fixed(state.SensorSlope) + "\n");
  return kExitDone;
}

json SpreadJson(const ReadingSpread& s, const Display& d) {
  return {{"readings", s.count},
          {"mean", s.mean},
          {"deviation", s.deviation},
          {"spread", s.maximum - s.minimum},
          {"drift_per_minute", s.drift_per_minute},
          {"stable", s.stable},
          {"unit", d.unit}};
}

int Stats(Command& c, const Options& o, AppState& state) {
  c.Open(true);
  const Display d = DisplayOf(state);
  const ReadingSpread s = c.CollectStable(d, o.max_readings, LoadCalibrationLimits(state.IniPath));
  Print(o, SpreadJson(s, d),
        "mean of the last " + std::to_string(s.count) + ": " + FormatFixed(s.mean, d.digits) + " " +
            d.unit + "\ndeviation " + FormatFixed(s.deviation, d.digits + 1) + "\nspread " +
            FormatFixed(s.maximum - s.minimum, d.digits + 1) + "\ndrift per minute " +
            FormatFixed(s.drift_per_minute, d.digits + 1) + "\n" +
            (s.stable ? "stable\n" : "not stable\n"));
  return s.stable ? kExitDone : kExitFailed;
}

int Calibrate(Command& c, const Options& o, AppState& state) {
  // Both applied values are known before anything is sent, when they are given.
  std::array<std::optional<float>, 2> applied;
  for (size_t i = 0; i < 2; ++i) {
    if (o.applied[i].empty())
      continue;
    const std::optional<float> v = CalibrationNumber(o.applied[i]);
    if (!v || !std::isfinite(*v))
      throw Failure{kExitUsage,
                    "--applied" + std::to_string(i + 1) + ": not a number: '" + o.applied[i] + "'"};
    applied[i] = v;
  }
  if (o.yes && (!applied[0] || !applied[1]))
    throw Failure{kExitUsage, "--yes needs --applied1 and --applied2"};
  RequireAnswerOrYes(o, "--yes with --applied1 and --applied2");
  c.Open(true);
  const Display d = DisplayOf(state);
  const CalibrationLimits limits = LoadCalibrationLimits(state.IniPath);
  CalibrationRecord record;
  record.factor = d.factor;
  record.digits = static_cast<uint8_t>(d.digits);
  JournalRecord journal = NewJournalRecord(state, d.unit);

  for (size_t i = 0; i < 2; ++i) {
    record.point = static_cast<uint8_t>(i);
    const std::string name = "point " + std::to_string(i + 1);
    if (!applied[i]) {
      applied[i] = AskAppliedValue(name, d.unit);
      if (!applied[i]) {
        journal.outcome = JournalOutcome::kCancelled;
        KeepJournalRecord(*state.ui, state.SettingsFolder, journal);
        if (StopRequested())
          throw Failure{kExitAborted, "stopped"};
        throw Failure{kExitUsage, "no value applied at " + name + " was typed"};
      }
    } else {
      // A bench writes a line once it has applied the value; the end of the input goes on.
      Progress("apply " + FormatFixed(*applied[i], d.digits) + " " + d.unit + " at " + name +
               ", then press Enter");
      ReadInputLine(true);
    }
    record.applied[i] = *applied[i];
    Progress("collecting the readings of " + name + "...");
    ReadingSpread s;
    try {
      s = c.CollectStable(d, o.max_readings, limits);
    } catch (const Failure&) {
      journal.outcome = JournalOutcome::kCancelled;
      KeepJournalRecord(*state.ui, state.SettingsFolder, journal);
      throw;
    }
    if (!s.stable) {
      journal.outcome = JournalOutcome::kCancelled;
      KeepJournalRecord(*state.ui, state.SettingsFolder, journal);
      throw Failure{kExitFailed, "the readings of " + name + " did not settle in " +
                                     std::to_string(o.max_readings) + " readings"};
    }
    record.received[i] = static_cast<float>(s.mean);
    record.readings[i] = s.count;
    record.deviation[i] = static_cast<float>(s.deviation);
    journal.points.push_back(
        {record.applied[i], record.received[i], record.readings[i], record.deviation[i]});
  }

  const NewCalibration computed =
      ComputeNewCalibration(record, state.SensorSlope, state.SensorOffset);
  record.slope = computed.slope;
  record.offset = ToSensorUnit(computed.offset, record.factor);
  journal.computed = SensorCalibration{record.offset, record.slope};
  const std::array<double, 2> predicted =
      PredictedReadings(record, state.SensorSlope, state.SensorOffset, record.slope, record.offset);
  for (size_t i = 0; i < 2; ++i) {
    Progress("point " + std::to_string(i + 1) + ": applied " +
             FormatFixed(record.applied[i], d.digits) + ", received " +
             FormatFixed(record.received[i], d.digits) + ", will read " +
             FormatFixed(predicted[i], d.digits) + " " + d.unit);
  }
  Progress("now: offset " + Fixed(state.SensorOffset) + ", slope " + Fixed(state.SensorSlope));
  Progress("new: offset " + Fixed(record.offset) + ", slope " + Fixed(record.slope));
  if (!IsWritableCalibration(record.offset, record.slope)) {
    journal.outcome = JournalOutcome::kRefused;
    return c.Written(WriteResult::kRefused, journal, nullptr, std::nullopt);
  }
  if (!c.Confirmed(CalibrationDoubts(record, record.slope, record.offset, limits), journal))
    c.Unconfirmed(journal, "not written: doubtful or not confirmed");
  bool kept = false;
  const WriteResult result = WriteVerifiedCalibration(c.Link(), {record.offset, record.slope},
                                                      journal, JournalOutcome::kWritten, &kept);
  return c.Written(result, journal, &record, kept);
}

int Write(Command& c, const Options& o, AppState& state) {
  std::optional<float> offset, slope;
  if (!o.offset.empty() && !(offset = CalibrationNumber(o.offset)))
    throw Failure{kExitUsage, "--offset: not a number: '" + o.offset + "'"};
  if (!o.slope.empty() && !(slope = CalibrationNumber(o.slope)))
    throw Failure{kExitUsage, "--slope: not a number: '" + o.slope + "'"};
  if (!offset && !slope)
    throw Failure{kExitUsage, "give --offset, --slope or both"};
  // Refused before anything is sent: such values never reach the sensor.
  if (!IsWritableCalibration(offset.value_or(0.0f), slope.value_or(1.0f)))
    throw Failure{
        kExitRefused,
        "not written: the offset and the slope must be finite numbers and the slope not 0"};
  RequireAnswerOrYes(o, "--yes");
  c.Open(true);
  const SensorCalibration target{offset.value_or(state.SensorOffset),
                                 slope.value_or(state.SensorSlope)};
  return c.WriteTarget(target, JournalOutcome::kWritten,
                       NewJournalRecord(state, DisplayOf(state).unit));
}

int Factory(Command& c, const Options& o, AppState& state) {
  RequireAnswerOrYes(o, "--yes");
  c.Open(true);
  return c.WriteTarget(SensorCalibration{0.0f, 1.0f}, JournalOutcome::kFactory,
                       NewJournalRecord(state, DisplayOf(state).unit));
}

// The channel's plan from the settings file with the command line's changes; refused when one
// of them is not understood.
TestPlan PlanOf(const Options& o, const AppState& state) {
  TestPlan plan = LoadTestPlan(state.IniPath, state.Channel);
  if (!o.points.empty()) {
    const std::optional<std::vector<double>> points = ParsePlanPoints(o.points);
    if (!points || points->empty())
      throw Failure{kExitUsage, "--points: not a list of numbers: '" + o.points + "'"};
    plan.points = *points;
  }
  if (!o.range.empty()) {
    const size_t colon = o.range.find(':');
    const std::optional<double> low =
        colon == std::string::npos ? std::nullopt : ParseFloat(o.range.substr(0, colon));
    const std::optional<double> high =
        colon == std::string::npos ? std::nullopt : ParseFloat(o.range.substr(colon + 1));
    if (!low || !high || !(*low < *high))
      throw Failure{kExitUsage, "--range: LOW:HIGH with LOW below HIGH, not '" + o.range + "'"};
    plan.range_low = *low;
    plan.range_high = *high;
  }
  if (!o.direction.empty())
    plan.direction =
        o.direction == "both" ? PlanDirection::kRisingThenFalling : PlanDirection::kRising;
  if (!o.tolerance_kind.empty())
    plan.tolerance_kind = o.tolerance_kind == "unit"      ? ToleranceKind::kUnit
                          : o.tolerance_kind == "reading" ? ToleranceKind::kPercentOfReading
                                                          : ToleranceKind::kPercentOfSpan;
  if (!o.tolerance.empty()) {
    const std::optional<double> t = ParseFloat(o.tolerance);
    if (!t || !(*t >= 0.0) || !std::isfinite(*t))
      throw Failure{kExitUsage, "--tolerance: not a number of 0 or more: '" + o.tolerance + "'"};
    plan.tolerance = *t;
  }
  if (!o.rule.empty())
    plan.rule = o.rule == "guard" ? DecisionRule::kGuardBanded : DecisionRule::kSimple;
  if (!o.reference.empty())
    plan.reference = o.reference;
  return plan;
}

json PointJson(const VerificationPoint& p) {
  return {{"nominal", p.nominal},
          {"direction", p.falling ? "falling" : "rising"},
          {"applied", p.applied},
          {"source", p.source == AppliedSource::kTyped ? "typed" : "instrument"},
          {"source_id", p.source_id.empty() ? json(nullptr) : json(p.source_id)},
          {"mean", p.mean},
          {"deviation", p.deviation},
          {"readings", p.readings},
          {"error", p.error},
          {"error_of_reading", p.error_of_reading ? json(*p.error_of_reading) : json(nullptr)},
          {"error_of_span", p.error_of_span},
          {"tolerance", p.tolerance},
          {"verdict", VerdictKey(p.verdict)}};
}

int Verify(Command& c, const Options& o, AppState& state) {
  TestPlan plan = PlanOf(o, state);
  std::optional<ReferenceStandard> reference;
  if (!plan.reference.empty()) {
    for (const ReferenceStandard& s :
         LoadReferenceStandards(ReferenceRegisterPath(state.SettingsFolder))) {
      if (s.name == plan.reference)
        reference = s;
    }
    if (!reference)
      throw Failure{kExitUsage, "no reference standard '" + plan.reference + "' in " +
                                    ReferenceRegisterPath(state.SettingsFolder)};
    if (PastDue(*reference, TodayDate()))
      Progress("warning: the calibration of the reference '" + reference->name + "' was due " +
               reference->due_date);
  }
  if (plan.rule == DecisionRule::kGuardBanded && !reference)
    throw Failure{kExitUsage, "the guard-banded rule needs a reference standard (--reference)"};
  std::vector<double> given;
  for (const std::string& text : o.applied_values) {
    const std::optional<double> v = ParseFloat(text);
    if (!v || !std::isfinite(*v))
      throw Failure{kExitUsage, "--applied: not a number: '" + text + "'"};
    given.push_back(*v);
  }
  if (o.instrument && !given.empty())
    throw Failure{kExitUsage, "--applied and --instrument exclude each other"};
  if (o.instrument && !ReferenceConfigured(state))
    throw Failure{kExitUsage,
                  "no reference instrument: set its port in section REFERENCE of " + state.IniPath};

  c.Open(true);
  const Display d = DisplayOf(state);
  const CalibrationLimits limits = LoadCalibrationLimits(state.IniPath);
  VerificationRun run =
      NewVerificationRun(plan, state.Channel, d.unit, d.factor, d.digits, reference);
  if (reference && !UncertaintyIn(*reference, state.Channel, d.unit))
    throw Failure{kExitUsage, "the uncertainty of '" + reference->name + "' is in " +
                                  reference->unit + ", which does not convert to " + d.unit};
  run.stage = o.stage == "as-found"  ? VerificationStage::kAsFound
              : o.stage == "as-left" ? VerificationStage::kAsLeft
                                     : VerificationStage::kAlone;
  run.calibration = SensorCalibration{state.SensorOffset, state.SensorSlope};
  JournalRecord link = NewJournalRecord(state, d.unit);
  run.run = link.run;

  VerificationSteps steps;
  steps.applied = [&](const PlanPoint& point, size_t index) -> std::optional<AppliedValue> {
    const std::string name = "point " + std::to_string(index + 1) + " (" +
                             FormatFixed(point.nominal, d.digits) + " " + d.unit +
                             (point.falling ? ", falling)" : ", rising)");
    if (o.json)
      Print(o,
            {{"apply",
              {{"index", index + 1},
               {"nominal", point.nominal},
               {"direction", point.falling ? "falling" : "rising"}}}},
            "");
    if (index < given.size()) {
      Progress("apply " + FormatFixed(given[index], d.digits) + " " + d.unit + " at " + name +
               ", then press Enter");
      ReadInputLine(true);
      return AppliedValue{given[index], AppliedSource::kTyped, {}};
    }
    for (;;) {
      std::cerr << "Value applied at " << name << ": " << std::flush;
      const std::optional<std::string> typed = ReadInputLine(true);
      if (!typed || StopRequested())
        return std::nullopt;
      const std::optional<double> v = ParseFloat(*typed);
      if (v && std::isfinite(*v))
        return AppliedValue{*v, AppliedSource::kTyped, {}};
      Progress("not a number: '" + *typed + "'; type it again");
    }
  };
  steps.collect = [&]() -> std::optional<ReadingSpread> {
    ReadingSpread s;
    try {
      s = c.CollectStable(d, o.max_readings, limits);
    } catch (const Failure&) {
      return std::nullopt;
    }
    if (!s.stable) {
      Progress("the readings did not settle in " + std::to_string(o.max_readings) + " readings");
      return std::nullopt;
    }
    return s;
  };
  steps.measured = [&](const VerificationPoint& p) {
    Print(o, {{"point", PointJson(p)}},
          "applied " + FormatFixed(p.applied, d.digits) + ", mean " +
              FormatFixed(p.mean, d.digits) + " (" + std::to_string(p.readings) +
              " readings, deviation " + FormatFixed(p.deviation, d.digits + 1) + "), error " +
              FormatFixed(p.error, d.digits + 1) + " " + d.unit + ": " + VerdictKey(p.verdict) +
              "\n");
  };
  InstrumentVerifyEnd instrument;
  if (o.instrument) {
    std::string error;
    if (!OpenReference(state, error))
      throw Failure{kExitPort, error};
    InstrumentVerifyOptions options;
    options.json = o.json;
    options.interval_ms = state.ConnectSettings.interval;
    // A point may take as long as the readings of --max-readings at the interval.
    options.point_limit_ms = static_cast<uint32_t>(o.max_readings) * state.ConnectSettings.interval;
    options.p_unit = state.ConnectSettings.P_unit;
    options.stability_share = limits.stability_share;
    instrument = VerifyWithInstrument(
        state, c.host(), run, [&c, &d] { return c.SampleSensor(d); }, options);
  } else {
    CarryOut(run, steps);
  }

  const bool kept =
      KeepJournalRecord(*state.ui, state.SettingsFolder, VerificationJournalRecord(run, link));
  const Verdict verdict = RunVerdict(run);
  json points = json::array();
  for (const VerificationPoint& p : run.points)
    points.push_back(PointJson(p));
  json hysteresis = json::array();
  std::string text;
  for (const Hysteresis& h : HysteresisOf(run)) {
    hysteresis.push_back({{"nominal", h.nominal}, {"value", h.value}, {"of_span", h.of_span}});
    text += "hysteresis at " + FormatFixed(h.nominal, d.digits) + ": " +
            FormatFixed(h.value, d.digits + 1) + " " + d.unit + "\n";
  }
  json result = {{"run", run.run},
                 {"stage", StageKey(run.stage)},
                 {"unit", d.unit},
                 {"uncertainty", run.uncertainty},
                 {"instrument", run.instrument},
                 {"points", points},
                 {"hysteresis", hysteresis},
                 {"cancelled", run.cancelled},
                 {"verdict", VerdictKey(verdict)},
                 {"journal", kept ? JournalPath(state.SettingsFolder) : ""}};
  text += run.cancelled ? std::string("cancelled: what was measured is in the journal\n")
                        : std::string("verdict: ") + VerdictKey(verdict) + " (" +
                              VerdictText(verdict) + ")\n";
  Print(o, {{"verification", result}}, text);
  switch (instrument.stop) {
    case InstrumentStop::kReference:
    case InstrumentStop::kSensor:
      throw Failure{kExitDevice, instrument.message};
    case InstrumentStop::kNotSettled:
      throw Failure{kExitFailed, instrument.message};
    default:
      break;
  }
  if (!instrument.message.empty()) {
    // Vented or not, the user must hear about an output left on.
    if (StopRequested())
      throw Failure{kExitAborted, "stopped; " + instrument.message};
    throw Failure{kExitDevice, instrument.message};
  }
  if (run.cancelled) {
    if (StopRequested())
      throw Failure{kExitAborted, "stopped"};
    throw Failure{kExitFailed, "the run was not completed"};
  }
  if (!kept)
    return kExitFailed;
  return verdict == Verdict::kPass ? kExitDone : kExitOutOfTolerance;
}

std::vector<JournalRecord> LoadJournal(const AppState& state) {
  return ReadJournal(JournalPath(state.SettingsFolder));
}

const JournalRecord& RecordAt(const std::vector<JournalRecord>& records, int number) {
  if (number < 1 || static_cast<size_t>(number) > records.size())
    throw Failure{kExitUsage, "journal record " + std::to_string(number) +
                                  " does not exist (the journal has " +
                                  std::to_string(records.size()) + ")"};
  return records[static_cast<size_t>(number) - 1];
}

int Restore(Command& c, const Options& o, AppState& state) {
  const std::vector<JournalRecord> records = LoadJournal(state);
  const JournalRecord& from = RecordAt(records, o.record);
  const RestoreWhich which = o.as_left ? RestoreWhich::kAsLeft : RestoreWhich::kAsFound;
  const std::optional<SensorCalibration> target = RestoreTarget(from, which);
  const std::string name = "journal record " + std::to_string(o.record);
  if (!target)
    throw Failure{kExitUsage, name + " keeps no calibration " +
                                  (o.as_left ? "as left" : "as found") + " a sensor may get"};
  if (from.channel != state.Channel)
    throw Failure{kExitUsage, name + " is of the " +
                                  (from.channel == 1 ? "temperature" : "pressure") +
                                  " channel: give --channel"};
  RequireAnswerOrYes(o, "--yes");
  c.Open(true);
  JournalRecord journal = NewJournalRecord(state, DisplayOf(state).unit);
  if (!SameChannel(journal, from))
    throw Failure{kExitUsage, name + " was made on another sensor or line than this link's"};
  journal.note = RestoreNote(from, which);
  return c.WriteTarget(*target, JournalOutcome::kRestored, journal);
}

int JournalList(const Options& o, const AppState& state) {
  const std::vector<JournalRecord> records = LoadJournal(state);
  json list = json::array();
  std::string text;
  for (size_t i = 0; i < records.size(); ++i) {
    const JournalRecord& r = records[i];
    const std::optional<SensorCalibration> left = r.written ? r.AsLeft() : std::nullopt;
    list.push_back({{"record", i + 1},
                    {"time", r.time},
                    {"outcome", OutcomeKey(r.outcome)},
                    {"channel", r.channel == 1 ? "temperature" : "pressure"},
                    {"port", r.port},
                    {"sensor_address", r.sensor_address},
                    {"as_found", CalibrationColumnJson(r.as_found)},
                    {"as_left", CalibrationColumnJson(left)}});
    text += std::to_string(i + 1) + "\t" + r.time + "\t" + OutcomeKey(r.outcome) + "\t" +
            (r.channel == 1 ? "temperature" : "pressure") + "\tCOM" + std::to_string(r.port) +
            "\tsensor " + std::to_string(r.sensor_address) + "\tfound " +
            CalibrationColumn(r.as_found) + "\tleft " + CalibrationColumn(left) + "\n";
  }
  Print(o, {{"records", list}}, text);
  return kExitDone;
}

int JournalShow(const Options& o, const AppState& state) {
  const std::vector<JournalRecord> records = LoadJournal(state);
  const JournalRecord& record = RecordAt(records, o.record);
  // --json: the record as the journal keeps it.
  std::cout << (o.json ? JournalLine(record) + "\n" : JournalRecordText(record, o.record));
  return kExitDone;
}

int JournalExport(const Options& o, const AppState& state) {
  const std::string csv = JournalCsv(LoadJournal(state), UserDecimalSeparator());
  if (o.output.empty() || o.output == "-") {
    std::cout << csv;
    return kExitDone;
  }
  std::ofstream out(std::filesystem::u8path(o.output), std::ios::binary | std::ios::trunc);
  if (!(out << csv) || !out.flush())
    throw Failure{kExitFailed, "cannot write " + o.output};
  return kExitDone;
}

std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// The settings folder and file: of --ini, or the application's own.
void LocateSettings(const Options& o, AppState& state) {
  if (!o.ini.empty()) {
    namespace fs = std::filesystem;
    const fs::path ini = fs::absolute(fs::u8path(o.ini));
    state.IniPath = Utf8(ini);
    state.SettingsFolder = Utf8(ini.parent_path());
  } else {
    const std::string folder = ExecutableFolder();
    state.SettingsFolder = ChooseSettingsFolder(folder);
    state.IniPath = MakeIniPath(state.SettingsFolder);
  }
  SetComPortsFolder(state.SettingsFolder + "/ports");
  LoadSettings(state.IniPath, state.ConnectSettings);
  state.SavedSettings = state.ConnectSettings;
}

struct Cli {
  CLI::App app{
      "vorlix-cli: service commands for the pressure and temperature sensors of the gas "
      "volume corrector, through the corrector or straight to the sensor.",
      "vorlix-cli"};
  Options o;
  std::map<std::string, CLI::App*> commands;
  CLI::App* journal = nullptr;

  Cli() {
    app.footer(kExitCodes);
    // A script may put a setting after one it was handed: the last one counts.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.require_subcommand(1);
    app.fallthrough();
    app.set_version_flag("--version", "vorlix-cli 0.1.0");
    const auto* link = "Connection (defaults from the settings file)";
    app.add_option("--ini", o.ini,
                   "settings file; its folder holds the ports folder and the journal (default: "
                   "the application's vorlix.ini)")
        ->group(link);
    app.add_option("--type", o.type, "corrector or direct")
        ->check(CLI::IsMember({"corrector", "direct"}))
        ->group(link);
    app.add_option("--port", o.port, "COM port number")
        ->check(CLI::Range(1, kLastPort))
        ->group(link);
    app.add_option("--rate", o.rate, "bit/s")
        ->check(CLI::IsMember(std::vector<int>(BaudRates.begin(), BaudRates.end())))
        ->group(link);
    app.add_option("--first-byte-timeout", o.first_byte, "ms for the first reply byte")
        ->check(CLI::Range(300, 10000))
        ->group(link);
    app.add_option("--next-byte-timeout", o.next_byte, "ms between reply bytes")
        ->check(CLI::Range(55, 2000))
        ->group(link);
    app.add_option("--tries", o.tries, "attempts per request")
        ->check(CLI::Range(1, 5))
        ->group(link);
    app.add_option("--corrector-address", o.corrector_address, "255 searches")
        ->check(CLI::Range(1, 255))
        ->group(link);
    app.add_option("--corrector-preambles", o.corrector_preambles)
        ->check(CLI::Range(0, kMaxPreambles))
        ->group(link);
    app.add_option("--line", o.line, "the corrector's measuring line")
        ->check(CLI::Range(1, 3))
        ->group(link);
    app.add_option("--channel", o.channel, "pressure (default) or temperature")
        ->check(CLI::IsMember({"pressure", "temperature"}))
        ->group(link);
    app.add_option("--sensor-address", o.sensor_address, "Modbus address of the channel's sensor")
        ->check(CLI::Range(0, 247))
        ->group(link);
    app.add_option("--sensor-preambles", o.sensor_preambles)
        ->check(CLI::Range(0, kMaxPreambles))
        ->group(link);
    app.add_option("--unit", o.unit,
                   "pressure unit: kgf/cm2, kPa, MPa, bar, mbar, mmHg, kgf/m2 (any case)")
        ->check(CLI::Validator(
            [](std::string& unit) {
              return PressureUnitIndex(unit) ? std::string()
                                             : "not a pressure unit: '" + unit + "'";
            },
            "UNIT"))
        ->group(link);
    app.add_option("--decimals", o.decimals, "decimals of the channel's values")
        ->check(CLI::Range(0, 6))
        ->group(link);
    app.add_option("--interval", o.interval, "ms between readings")
        ->check(CLI::Range(50, 5000))
        ->group(link);
    app.add_flag("--json", o.json, "results as JSON (read: one object a line)");
    app.add_flag("--trace", o.trace,
                 "print the traffic on the line on standard error (codes masked)");
    app.add_flag("--leave-busy-line", o.leave_busy_line,
                 "take a line found in service out of it without asking");

    Add("ports", "COM numbers, their devices and whether they are there")
        ->add_flag("--all", o.all_ports, "also the numbers whose device is absent");
    Add("identify", "the corrector's identification, or the sensor's unit register");
    CLI::App* read = Add("read", "the value as reported and with the factory calibration");
    read->add_option("--count", o.count, "readings (default 1)")->check(CLI::Range(1, 1000000));
    read->add_option("--csv", o.csv, "also log the readings to this CSV file");
    Add("calibration", "the sensor's offset and slope");
    Add("reference", "the reference instrument (section REFERENCE): identification and readings")
        ->add_option("--count", o.count, "readings (default 1)")
        ->check(CLI::Range(1, 1000000));
    Add("stats", "readings until the mean of the last 10 has settled")
        ->add_option("--max-readings", o.max_readings, "give up after this many (default 100)")
        ->check(CLI::Range(StatisticsRing::kSize, 100000));
    CLI::App* calibrate = Add("calibrate", "two-point calibration: collect, compute, write, check");
    calibrate->add_option("--applied1", o.applied[0], "value applied at the first point");
    calibrate->add_option("--applied2", o.applied[1], "value applied at the second point");
    calibrate->add_option("--max-readings", o.max_readings, "per point (default 100)")
        ->check(CLI::Range(StatisticsRing::kSize, 100000));
    AddYes(calibrate);
    CLI::App* write = Add("write", "write an offset, a slope or both");
    write->add_option("--offset", o.offset, "in the sensor's unit (0.5 or 0,5)");
    write->add_option("--slope", o.slope);
    AddYes(write);
    AddYes(Add("factory", "write the factory calibration: offset 0, slope 1"));
    CLI::App* restore = Add("restore", "write back the calibration a journal record found");
    restore->add_option("--record", o.record, "number of the record (journal list)")->required();
    restore->add_flag("--as-left", o.as_left, "the calibration the record left, not the one found");
    AddYes(restore);
    CLI::App* verify = Add("verify", "readings at the points of the test plan against a tolerance");
    verify->add_option("--points", o.points,
                       "the plan's points, e.g. \"0;250;500\" (sensor's unit)");
    verify->add_option("--range", o.range, "LOW:HIGH of the plan's range (sensor's unit)");
    verify->add_option("--direction", o.direction, "rising, or both: rising then falling")
        ->check(CLI::IsMember({"rising", "both"}));
    verify->add_option("--tolerance", o.tolerance, "the tolerance, a magnitude");
    verify->add_option("--tolerance-kind", o.tolerance_kind, "unit, reading (%) or span (%)")
        ->check(CLI::IsMember({"unit", "reading", "span"}));
    verify->add_option("--rule", o.rule, "simple, or guard: guard-banded by the reference's U")
        ->check(CLI::IsMember({"simple", "guard"}));
    verify->add_option("--reference", o.reference, "the reference standard, by its name");
    verify->add_option("--stage", o.stage, "as-found, as-left or alone (default)")
        ->check(CLI::IsMember({"as-found", "as-left", "alone"}));
    verify
        ->add_option("--applied", o.applied_values,
                     "the values the bench applies, one a point in order (display unit)")
        ->delimiter(';')
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    verify->add_option("--max-readings", o.max_readings, "per point (default 100)")
        ->check(CLI::Range(StatisticsRing::kSize, 100000));
    verify->add_flag("--instrument", o.instrument,
                     "the applied values from the reference instrument (section REFERENCE): "
                     "a controller sets each point unattended");
    journal = Add("journal", "the calibration journal");
    journal->require_subcommand(1);
    commands["journal list"] = journal->add_subcommand("list", "every record, numbered");
    commands["journal show"] = journal->add_subcommand("show", "one record");
    commands["journal show"]->add_option("record", o.record, "its number")->required();
    commands["journal export"] = journal->add_subcommand("export", "as CSV for a spreadsheet");
    commands["journal export"]->add_option("--output", o.output, "file (default: standard output)");
  }

  CLI::App* Add(const std::string& name, const std::string& description) {
    return commands[name] = app.add_subcommand(name, description);
  }
  void AddYes(CLI::App* command) {
    command->add_flag("--yes", o.yes, "write without asking (a doubtful result is not written)");
  }
  bool Chosen(const std::string& name) { return commands[name]->parsed(); }
};

int Run(Cli& cli) {
  const Options& o = cli.o;
  AppState state;
  CliHost host;
  host.interactive = InputIsTerminal();
  state.ui = &host;
  LocateSettings(o, state);
  ApplyOptions(o, cli.app, state);
  if (cli.Chosen("ports"))
    return Ports(o);
  if (cli.Chosen("journal")) {
    if (cli.Chosen("journal list"))
      return JournalList(o, state);
    if (cli.Chosen("journal show"))
      return JournalShow(o, state);
    return JournalExport(o, state);
  }
  CatchStopRequests();
  if (cli.Chosen("reference"))
    return ReferenceCommand(state, host, o.trace, o.json, o.count);
  Command command(o, state, host);
  if (cli.Chosen("identify"))
    return Identify(command, o, state);
  if (cli.Chosen("read"))
    return Read(command, o, state);
  if (cli.Chosen("calibration"))
    return Calibration(command, o, state);
  if (cli.Chosen("stats"))
    return Stats(command, o, state);
  if (cli.Chosen("calibrate"))
    return Calibrate(command, o, state);
  if (cli.Chosen("write"))
    return Write(command, o, state);
  if (cli.Chosen("factory"))
    return Factory(command, o, state);
  if (cli.Chosen("verify"))
    return Verify(command, o, state);
  return Restore(command, o, state);
}

}  // namespace

std::string CliHelp() {
  Cli cli;
  return cli.app.help();
}

int RunCli(const std::vector<std::string>& args) {
  Cli cli;
  try {
    std::vector<const char*> argv = {"vorlix-cli"};
    for (const std::string& arg : args)
      argv.push_back(arg.c_str());
    cli.app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::CallForHelp&) {
    std::cout << cli.app.help();
    return kExitDone;
  } catch (const CLI::CallForAllHelp&) {
    std::cout << cli.app.help("", CLI::AppFormatMode::All);
    return kExitDone;
  } catch (const CLI::CallForVersion& e) {
    std::cout << e.what() << '\n';
    return kExitDone;
  } catch (const CLI::ParseError& e) {
    std::cerr << "vorlix-cli: " << e.what() << " (see vorlix-cli --help)\n";
    return kExitUsage;
  }
  try {
    return Run(cli);
  } catch (const Failure& f) {
    std::cerr << "vorlix-cli: " << f.message << '\n';
    return f.code;
  }
}

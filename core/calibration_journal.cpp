#include "core/calibration_journal.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "core/durable_append.h"
#include "core/ini_file.h"
#include "core/json_text.h"
#include "core/shortest_decimal.h"

using nlohmann::json;

namespace {

constexpr JournalOutcome kOutcomes[] = {JournalOutcome::kWritten, JournalOutcome::kCancelled,
                                        JournalOutcome::kRefused, JournalOutcome::kFailed,
                                        JournalOutcome::kFactory, JournalOutcome::kRestored,
                                        JournalOutcome::kVerified};

uint32_t Bits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

float FromBits(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// A 32-bit float as the JSON number that reads back as it: the double of its shortest text
// (101.325, not 101.32499694824219), null when it is not finite.
json FloatJson(float v) {
  if (!std::isfinite(v))
    return json(nullptr);
  const std::string text = ShortestDecimal(v);
  double widened = v;
  std::from_chars(text.data(), text.data() + text.size(), widened);
  return json(widened);
}

// The decimal value for people and other programs, the words for putting the bits back; JSON
// has no NaN, so a value that is not finite is kept as null beside its words.
json CalibrationJson(const SensorCalibration& c) {
  const std::array<uint16_t, 4> w = c.Words();
  return {{"offset", FloatJson(c.offset)}, {"slope", FloatJson(c.slope)}, {"words", w}};
}

// A point's value as kept: a 32-bit float's, whatever digits the line gives.
double PointValue(const json& point, const char* key) {
  return static_cast<float>(point.value(key, 0.0));
}

std::optional<SensorCalibration> CalibrationFrom(const json& j) {
  if (!j.is_object() || !j.contains("words"))
    return std::nullopt;
  const json& words = j["words"];
  if (!words.is_array() || words.size() != 4)
    return std::nullopt;
  std::array<uint16_t, 4> w{};
  for (size_t i = 0; i < 4; ++i) {
    if (!words[i].is_number_unsigned() || words[i].get<uint64_t>() > 0xFFFF)
      return std::nullopt;
    w[i] = words[i].get<uint16_t>();
  }
  return SensorCalibration::FromWords(w);
}

template <typename T>
void PutOptional(json& j, const char* key, const std::optional<T>& value) {
  if (value)
    j[key] = *value;
}

template <typename T>
std::optional<T> GetOptional(const json& j, const char* key) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null())
    return std::nullopt;
  return it->get<T>();
}

// The length of the file at `path` up to and including its last line break: where a record
// cut short by a crash begins, or the whole file when its last line is whole.
std::optional<uintmax_t> WholeLinesLength(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in)
    return std::nullopt;
  std::streamoff end = in.tellg();
  constexpr std::streamoff kChunk = 4096;
  std::vector<char> chunk(kChunk);
  while (end > 0) {
    const std::streamoff from = std::max<std::streamoff>(0, end - kChunk);
    in.seekg(from);
    in.read(chunk.data(), end - from);
    for (std::streamoff i = end - from; i > 0; --i) {
      if (chunk[static_cast<size_t>(i - 1)] == '\n')
        return static_cast<uintmax_t>(from + i);
    }
    end = from;
  }
  return 0;
}

}  // namespace

std::array<uint16_t, 4> SensorCalibration::Words() const {
  const uint32_t o = Bits(offset);
  const uint32_t s = Bits(slope);
  return {static_cast<uint16_t>(o & 0xFFFF), static_cast<uint16_t>(o >> 16),
          static_cast<uint16_t>(s & 0xFFFF), static_cast<uint16_t>(s >> 16)};
}

SensorCalibration SensorCalibration::FromWords(const std::array<uint16_t, 4>& w) {
  return {FromBits(w[0] | (static_cast<uint32_t>(w[1]) << 16)),
          FromBits(w[2] | (static_cast<uint32_t>(w[3]) << 16))};
}

bool SensorCalibration::SameBits(const SensorCalibration& other) const {
  return Words() == other.Words();
}

std::string JournalPath(const std::string& settings_folder) {
  return settings_folder + "/calibration-journal.jsonl";
}

std::string JournalTimeNow() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char date[32];
  char zone[8];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  std::strftime(zone, sizeof zone, "%z", &local);  // +hhmm
  char text[48];
  std::snprintf(text, sizeof text, "%s.%03d%.3s:%.2s", date, static_cast<int>(ms), zone,
                std::strlen(zone) >= 5 ? zone + 3 : "00");
  return text;
}

std::string NewRunId() {
  const std::string now = JournalTimeNow();  // 2026-12-08T11:02:03.456+02:00
  std::string id;
  for (char c : now.substr(0, 23)) {
    if (c != '-' && c != ':' && c != '.')
      id += c;
  }
  std::random_device device;
  std::mt19937_64 random(
      (static_cast<uint64_t>(device()) << 32) ^ device() ^
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  char tail[24];
  std::snprintf(tail, sizeof tail, "-%016llx", static_cast<unsigned long long>(random()));
  return id + tail;
}

const char* OutcomeKey(JournalOutcome outcome) {
  switch (outcome) {
    case JournalOutcome::kWritten:
      return "written";
    case JournalOutcome::kCancelled:
      return "cancelled";
    case JournalOutcome::kRefused:
      return "refused";
    case JournalOutcome::kFailed:
      return "failed";
    case JournalOutcome::kFactory:
      return "factory";
    case JournalOutcome::kRestored:
      return "restored";
    case JournalOutcome::kVerified:
      return "verified";
  }
  return "";
}

const char* OutcomeText(JournalOutcome outcome) {
  switch (outcome) {
    case JournalOutcome::kWritten:
      return "записано";
    case JournalOutcome::kCancelled:
      return "відмінено";
    case JournalOutcome::kRefused:
      return "не записано";
    case JournalOutcome::kFailed:
      return "помилка запису";
    case JournalOutcome::kFactory:
      return "заводська калібровка";
    case JournalOutcome::kRestored:
      return "відновлено";
    case JournalOutcome::kVerified:
      return "перевірено";
  }
  return "";
}

namespace {

json RecordJson(const JournalRecord& r) {
  json j;
  j["time"] = r.time;
  if (!r.run.empty())
    j["run"] = r.run;
  if (!r.step.empty())
    j["step"] = r.step;
  json connection = {{"type", r.through_corrector ? "corrector" : "direct"},
                     {"port", r.port},
                     {"sensor_address", r.sensor_address},
                     {"channel", r.channel}};
  PutOptional(connection, "corrector_address", r.corrector_address);
  PutOptional(connection, "plate", r.plate);
  PutOptional(connection, "software_version", r.software_version);
  PutOptional(connection, "line", r.line);
  j["connection"] = connection;
  j["unit"] = r.unit;
  if (r.as_found)
    j["as_found"] = CalibrationJson(*r.as_found);
  if (!r.points.empty()) {
    json points = json::array();
    for (const JournalPoint& p : r.points) {
      json point = {{"applied", FloatJson(static_cast<float>(p.applied))},
                    {"received", FloatJson(static_cast<float>(p.received))},
                    {"readings", p.readings},
                    {"deviation", FloatJson(static_cast<float>(p.deviation))}};
      // Only where the reference gave it: a record without the keys holds typed values.
      if (p.applied_readings > 0) {
        point["applied_readings"] = p.applied_readings;
        point["applied_deviation"] = FloatJson(static_cast<float>(p.applied_deviation));
      }
      points.push_back(point);
    }
    j["points"] = points;
  }
  if (r.computed)
    j["computed"] = CalibrationJson(*r.computed);
  if (r.written)
    j["written"] = CalibrationJson(*r.written);
  if (r.read_back)
    j["read_back"] = CalibrationJson(*r.read_back);
  PutOptional(j, "read_back_matches", r.read_back_matches);
  if (r.as_left_error && std::isfinite(*r.as_left_error))
    j["as_left_error"] = *r.as_left_error;
  // A check or a certificate's number ends no way but one; a calibration or a run does.
  if (r.step.empty() || r.step == kStepVerification)
    j["outcome"] = OutcomeKey(r.outcome);
  if (!r.note.empty())
    j["note"] = r.note;
  if (const std::optional<JournalCheck>& c = r.check) {
    j["check"] = {{"point", c->point},         {"applied", c->applied},   {"mean", c->mean},
                  {"deviation", c->deviation}, {"readings", c->readings}, {"error", c->error}};
  }
  if (!r.detail.empty()) {
    const json detail = json::parse(r.detail, nullptr, false);
    if (!detail.is_discarded())
      j["detail"] = detail;
  }
  if (!r.steps.empty()) {
    json steps = json::array();
    for (const JournalRecord& step : r.steps)
      steps.push_back(RecordJson(step));
    j["steps"] = steps;
  }
  return j;
}

}  // namespace

std::string JournalLine(const JournalRecord& r) {
  // Numbers as typed; a text that is not valid UTF-8 must not make the record unwritable.
  return CompactJson(RecordJson(r));
}

std::optional<JournalRecord> ParseJournalLine(const std::string& line) {
  const json j = json::parse(line, nullptr, false);
  if (!j.is_object() || !j.contains("time"))
    return std::nullopt;
  try {
    JournalRecord r;
    r.time = j.at("time").get<std::string>();
    r.run = j.value("run", "");
    r.step = j.value("step", "");
    if (!j.contains("outcome") && (r.step.empty() || r.step == kStepVerification))
      return std::nullopt;
    if (j.contains("outcome")) {
      const std::string outcome = j.at("outcome").get<std::string>();
      bool known = false;
      for (JournalOutcome o : kOutcomes) {
        if (outcome == OutcomeKey(o)) {
          r.outcome = o;
          known = true;
        }
      }
      if (!known)
        return std::nullopt;
    }
    if (const auto c = j.find("connection"); c != j.end() && c->is_object()) {
      r.through_corrector = c->value("type", "") == "corrector";
      r.port = c->value("port", 0);
      r.sensor_address = c->value("sensor_address", 0);
      r.channel = c->value("channel", 0);
      r.corrector_address = GetOptional<int>(*c, "corrector_address");
      r.plate = GetOptional<int>(*c, "plate");
      r.software_version = GetOptional<int>(*c, "software_version");
      r.line = GetOptional<int>(*c, "line");
    }
    r.unit = j.value("unit", "");
    if (j.contains("as_found"))
      r.as_found = CalibrationFrom(j["as_found"]);
    if (j.contains("computed"))
      r.computed = CalibrationFrom(j["computed"]);
    if (j.contains("written"))
      r.written = CalibrationFrom(j["written"]);
    if (j.contains("read_back"))
      r.read_back = CalibrationFrom(j["read_back"]);
    if (const auto p = j.find("points"); p != j.end() && p->is_array()) {
      for (const json& point : *p) {
        r.points.push_back({PointValue(point, "applied"), PointValue(point, "received"),
                            point.value("readings", 0), PointValue(point, "deviation"),
                            point.value("applied_readings", 0),
                            PointValue(point, "applied_deviation")});
      }
    }
    r.read_back_matches = GetOptional<bool>(j, "read_back_matches");
    r.as_left_error = GetOptional<double>(j, "as_left_error");
    r.note = j.value("note", "");
    if (const auto c = j.find("check"); c != j.end() && c->is_object()) {
      r.check = JournalCheck{c->value("point", 0),    c->value("applied", 0.0),
                             c->value("mean", 0.0),   c->value("deviation", 0.0),
                             c->value("readings", 0), c->value("error", 0.0)};
    }
    if (const auto d = j.find("detail"); d != j.end() && d->is_object())
      r.detail = d->dump(-1, ' ', false, json::error_handler_t::replace);
    return r;
  } catch (const json::exception&) {
    return std::nullopt;  // a field of the wrong type
  }
}

bool AppendJournalRecord(const std::string& path, const JournalRecord& record, std::string& error) {
  // A record a crash cut short is no record: it goes, so that only the last line can ever be
  // torn. Whole records are never touched.
  std::error_code fs_error;
  const std::filesystem::path file = std::filesystem::u8path(path);
  const uintmax_t size = std::filesystem::file_size(file, fs_error);
  if (!fs_error && size > 0) {
    const std::optional<uintmax_t> whole = WholeLinesLength(path);
    if (whole && *whole < size) {
      std::filesystem::resize_file(file, *whole, fs_error);
      if (fs_error) {
        error = SystemReasonText(fs_error.default_error_condition().value());
        return false;
      }
    }
  }
  return AppendDurably(path, JournalLine(record) + '\n', error);
}

std::vector<JournalRecord> ReadJournalLines(const std::string& path, size_t* skipped) {
  std::vector<JournalRecord> records;
  size_t bad = 0;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty())
      continue;
    if (std::optional<JournalRecord> r = ParseJournalLine(line))
      records.push_back(std::move(*r));
    else
      ++bad;
  }
  if (skipped != nullptr)
    *skipped = bad;
  return records;
}

std::vector<JournalRecord> GatherRuns(std::vector<JournalRecord> records) {
  // Where each run's entry stands, and which of its records heads it.
  std::map<std::string, size_t> entry_of_run;
  std::vector<std::vector<JournalRecord>> runs;
  for (JournalRecord& r : records) {
    if (r.run.empty()) {
      runs.push_back({});
      runs.back().push_back(std::move(r));
      continue;
    }
    const auto [it, fresh] = entry_of_run.try_emplace(r.run, runs.size());
    if (fresh)
      runs.push_back({});
    runs[it->second].push_back(std::move(r));
  }
  std::vector<JournalRecord> entries;
  entries.reserve(runs.size());
  for (std::vector<JournalRecord>& run : runs) {
    const auto calibration =
        std::find_if(run.begin(), run.end(), [](const JournalRecord& r) { return r.step.empty(); });
    const size_t head =
        calibration != run.end() ? static_cast<size_t>(calibration - run.begin()) : 0;
    JournalRecord entry = std::move(run[head]);
    for (size_t i = 0; i < run.size(); ++i) {
      if (i == head)
        continue;
      if (run[i].check)
        entry.as_left_error = run[i].check->error;
      entry.steps.push_back(std::move(run[i]));
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<JournalRecord> ReadJournal(const std::string& path, size_t* skipped) {
  return GatherRuns(ReadJournalLines(path, skipped));
}

std::string JournalCsv(const std::vector<JournalRecord>& records, char decimal) {
  const auto number = [decimal](std::optional<double> v) {
    return v && std::isfinite(*v) ? ShortestDecimal(*v, decimal) : std::string();
  };
  const auto single = [decimal](float v) {
    return std::isfinite(v) ? ShortestDecimal(v, decimal) : std::string();
  };
  const auto offset = [&](const std::optional<SensorCalibration>& c) {
    return c ? single(c->offset) : std::string();
  };
  const auto slope = [&](const std::optional<SensorCalibration>& c) {
    return c ? single(c->slope) : std::string();
  };
  const auto point = [&](const JournalRecord& r, size_t i, bool applied) {
    if (i >= r.points.size())
      return std::string();
    return single(static_cast<float>(applied ? r.points[i].applied : r.points[i].received));
  };
  const auto text = [](const std::string& s) {
    if (s.find_first_of(";\"\r\n") == std::string::npos)
      return s;
    std::string quoted = "\"";
    for (char c : s) {
      if (c == '"')
        quoted += '"';
      quoted += c;
    }
    return quoted + "\"";
  };
  const auto whole = [](std::optional<int> v) { return v ? std::to_string(*v) : std::string(); };

  std::string csv = "\xEF\xBB\xBF";
  csv +=
      "Дата і час;Підключення;Порт;Адреса коректора;Plate;Версія ПО;Нитка;Адреса давача;"
      "Канал;Одиниця;Зміщення до;Нахил до;Подане 1;Отримане 1;Подане 2;Отримане 2;"
      "Зміщення записане;Нахил записаний;Прочитано назад;Похибка після;Результат;Примітка\r\n";
  for (const JournalRecord& r : records) {
    const std::string fields[] = {
        text(r.time),
        r.through_corrector ? "через коректор" : "напряму",
        std::to_string(r.port),
        whole(r.corrector_address),
        whole(r.plate),
        whole(r.software_version),
        whole(r.line),
        std::to_string(r.sensor_address),
        r.channel == 1 ? "температура" : "тиск",
        text(r.unit),
        offset(r.as_found),
        slope(r.as_found),
        point(r, 0, true),
        point(r, 0, false),
        point(r, 1, true),
        point(r, 1, false),
        offset(r.written),
        slope(r.written),
        r.read_back_matches ? (*r.read_back_matches ? "збігається" : "не збігається") : "",
        number(r.as_left_error),
        OutcomeText(r.outcome),
        text(r.note)};
    for (size_t i = 0; i < std::size(fields); ++i) {
      if (i != 0)
        csv += ';';
      csv += fields[i];
    }
    csv += "\r\n";
  }
  return csv;
}

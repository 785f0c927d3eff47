#include "cli/journal_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/calibration_restore.h"
#include "core/number_format.h"
#include "core/shortest_decimal.h"

namespace {

constexpr int kCalibrationDecimals = 7;

std::string Calibration(const SensorCalibration& c) {
  const std::array<uint16_t, 4> w = c.Words();
  char words[40];
  std::snprintf(words, sizeof words, "%04X %04X %04X %04X", w[0], w[1], w[2], w[3]);
  return "offset " + FormatFixed(c.offset, kCalibrationDecimals) + ", slope " +
         FormatFixed(c.slope, kCalibrationDecimals) + " (registers " + words + ")";
}

// A value of the record's points: a 32-bit float's, with its own digits.
std::string PointValue(double value) {
  return ShortestDecimal(static_cast<float>(value));
}

std::string Connection(const JournalRecord& r) {
  std::string text = "COM" + std::to_string(r.port) + ", ";
  if (r.through_corrector) {
    text += "through the corrector";
    if (r.corrector_address)
      text += " " + std::to_string(*r.corrector_address);
    if (r.plate)
      text += ", plate " + std::to_string(*r.plate);
    if (r.software_version)
      text += ", software " + std::to_string(*r.software_version);
    if (r.line)
      text += ", line " + std::to_string(*r.line);
  } else {
    text += "straight to the sensor";
  }
  return text + "; sensor " + std::to_string(r.sensor_address) + ", " +
         (r.channel == 1 ? "temperature" : "pressure");
}

std::string Line(const char* name, const std::string& value) {
  return std::string(name) + ": " + value + "\n";
}

}  // namespace

std::string JournalRecordText(const JournalRecord& r, int number) {
  std::string text = "record " + std::to_string(number) + ": " + JournalTimeText(r.time) + "\n";
  text += Line("outcome", std::string(OutcomeKey(r.outcome)) + " (" + OutcomeText(r.outcome) + ")");
  text += Line("connection", Connection(r));
  if (!r.unit.empty())
    text += Line("unit", r.unit);
  text += Line("as found", r.as_found ? Calibration(*r.as_found) : "not read");
  for (size_t i = 0; i < r.points.size(); ++i) {
    const JournalPoint& p = r.points[i];
    std::string point =
        "applied " + PointValue(p.applied) + ", received " + PointValue(p.received) + " " + r.unit;
    point += p.readings > 0 ? " (mean of " + std::to_string(p.readings) + " readings, deviation " +
                                  PointValue(p.deviation) + ")"
                            : " (typed)";
    text += "point " + std::to_string(i + 1) + ": " + point + "\n";
  }
  if (r.computed)
    text += Line("computed", Calibration(*r.computed));
  text += Line("written", r.written ? Calibration(*r.written) : "nothing");
  if (r.read_back) {
    const std::string verdict = !r.read_back_matches   ? ""
                                : *r.read_back_matches ? " - matches bit for bit"
                                                       : " - DIFFERS from what was written";
    text += Line("read back", Calibration(*r.read_back) + verdict);
  } else if (r.written) {
    text += Line("read back", "not read");
  }
  if (r.as_left_error && std::isfinite(*r.as_left_error))
    text += Line("error at the applied point after the write",
                 PointValue(*r.as_left_error) + " " + r.unit);
  if (!r.note.empty())
    text += Line("note", r.note);
  return text;
}

std::string CalibrationColumn(const std::optional<SensorCalibration>& c) {
  if (!c)
    return "-";
  return ShortestDecimal(c->offset) + " " + ShortestDecimal(c->slope);
}

nlohmann::json CalibrationColumnJson(const std::optional<SensorCalibration>& c) {
  if (!c)
    return nullptr;
  const auto number = [](float v) -> nlohmann::json {
    if (!std::isfinite(v))
      return nullptr;
    const std::string text = ShortestDecimal(v);
    double widened = v;
    std::from_chars(text.data(), text.data() + text.size(), widened);
    return widened;
  };
  return {{"offset", number(c->offset)}, {"slope", number(c->slope)}};
}

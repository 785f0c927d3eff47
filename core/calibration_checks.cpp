#include "core/calibration_checks.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

#include "core/ini_file.h"
#include "core/number_format.h"

namespace {

constexpr char kSection[] = "CALIBRATION";

double ReadLimit(const std::string& ini_path, const char* key, double fallback) {
  const std::optional<std::string> text = ReadIniString(ini_path, kSection, key);
  if (!text)
    return fallback;
  const std::optional<double> value = ParseFloat(*text);
  return value && std::isfinite(*value) && *value >= 0.0 ? *value : fallback;
}

std::string Shown(double value) {
  return FormatFixed(value, 5);
}

}  // namespace

CalibrationLimits LoadCalibrationLimits(const std::string& ini_path) {
  const CalibrationLimits defaults;
  CalibrationLimits limits;
  limits.slope_min = ReadLimit(ini_path, "SlopeMin", defaults.slope_min);
  limits.slope_max = ReadLimit(ini_path, "SlopeMax", defaults.slope_max);
  limits.offset_span_share = ReadLimit(ini_path, "OffsetSpanShare", defaults.offset_span_share);
  limits.stability_share = ReadLimit(ini_path, "StabilityShare", defaults.stability_share);
  if (limits.slope_min > limits.slope_max)
    std::swap(limits.slope_min, limits.slope_max);
  return limits;
}

std::vector<std::string> CalibrationDoubts(const CalibrationRecord& record, float new_slope,
                                           float new_offset, const CalibrationLimits& limits) {
  std::vector<std::string> doubts;
  if (!(new_slope >= limits.slope_min && new_slope <= limits.slope_max)) {
    doubts.push_back("Новий нахил " + Shown(new_slope) + " поза межами " + Shown(limits.slope_min) +
                     " ... " + Shown(limits.slope_max));
  }
  // The applied values are in the display unit; the offset goes to the sensor in its own.
  const double span = std::fabs(static_cast<double>(record.applied[1]) - record.applied[0]);
  const double factor = record.factor > 0.0 ? record.factor : 1.0;
  const double offset_shown = static_cast<double>(new_offset) * factor;
  const double allowed = span * limits.offset_span_share;
  if (!(std::fabs(offset_shown) <= allowed)) {
    doubts.push_back("Нове зміщення " + Shown(offset_shown) + " більше за " +
                     Shown(limits.offset_span_share * 100.0) + "% діапазону точок (" +
                     Shown(allowed) + ")");
  }
  return doubts;
}

std::array<double, 2> PredictedReadings(const CalibrationRecord& record, float current_slope,
                                        float current_offset, float new_slope, float new_offset) {
  const double factor = record.factor > 0.0 ? record.factor : 1.0;
  std::array<double, 2> predicted{};
  for (size_t i = 0; i < 2; ++i) {
    const double raw = (record.received[i] / factor - current_offset) / current_slope;
    predicted[i] = (static_cast<double>(new_slope) * raw + new_offset) * factor;
  }
  return predicted;
}

ReadingSpread SpreadOf(const std::vector<double>& values, const std::vector<double>& times_ms,
                       int full_count, double display_step, double stability_share) {
  ReadingSpread s;
  s.count = static_cast<int>(values.size());
  if (values.empty())
    return s;
  const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
  s.minimum = *lo;
  s.maximum = *hi;
  double sum = 0.0;
  for (double v : values)
    sum += v;
  s.mean = sum / s.count;
  if (s.count > 1) {
    double squares = 0.0;
    for (double v : values)
      squares += (v - s.mean) * (v - s.mean);
    s.deviation = std::sqrt(squares / (s.count - 1));
  }
  if (const std::optional<double> drift = DriftPerMinute(values, times_ms, 0.0))
    s.drift_per_minute = *drift;
  s.full = s.count >= full_count;
  const double limit = StabilityLimit(s.mean, display_step, stability_share);
  s.stable = s.full && s.maximum - s.minimum <= limit * (1.0 + 1e-9);
  return s;
}

double StabilityLimit(double mean, double display_step, double stability_share) {
  return std::max(std::fabs(mean) * stability_share, display_step);
}

std::optional<double> DriftPerMinute(const std::vector<double>& values,
                                     const std::vector<double>& times_ms, double min_span_ms) {
  const size_t n = values.size();
  if (n < 2 || times_ms.size() != n)
    return std::nullopt;
  const auto [first, last] = std::minmax_element(times_ms.begin(), times_ms.end());
  if (*last - *first < min_span_ms)
    return std::nullopt;
  double t_mean = 0.0;
  double v_mean = 0.0;
  for (size_t i = 0; i < n; ++i) {
    t_mean += times_ms[i];
    v_mean += values[i];
  }
  t_mean /= static_cast<double>(n);
  v_mean /= static_cast<double>(n);
  double num = 0.0;
  double den = 0.0;
  for (size_t i = 0; i < n; ++i) {
    num += (times_ms[i] - t_mean) * (values[i] - v_mean);
    den += (times_ms[i] - t_mean) * (times_ms[i] - t_mean);
  }
  if (!(den > 0.0))
    return std::nullopt;
  return num / den * 60'000.0;
}

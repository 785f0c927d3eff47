#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/calibration.h"

// What the program checks before a calibration goes into a sensor and while the readings of a
// point settle. The limits are read from the section CALIBRATION of the settings file; a key
// that is missing or not a number keeps its default.
struct CalibrationLimits {
  double slope_min = 0.9;           // key SlopeMin
  double slope_max = 1.1;           // key SlopeMax
  double offset_span_share = 0.10;  // key OffsetSpanShare: of the span of the applied values
  double stability_share = 0.0005;  // key StabilityShare: of the reading, at least one step
};

CalibrationLimits LoadCalibrationLimits(const std::string& ini_path);

// The doubts about a new calibration (slope and offset as they go to the sensor, the offset in
// the sensor's unit) for the points of `record`; empty when it looks plausible. Each is one
// line for the question the engineer answers before writing.
std::vector<std::string> CalibrationDoubts(const CalibrationRecord& record, float new_slope,
                                           float new_offset, const CalibrationLimits& limits);

// What the sensor will report, in the display unit, at both points of `record` once the new
// calibration replaces the current one: each received value goes back to its raw value
// through the current calibration and forward through the new one.
std::array<double, 2> PredictedReadings(const CalibrationRecord& record, float current_slope,
                                        float current_offset, float new_slope, float new_offset);

// The readings a point's mean is taken from, and whether they have settled.
struct ReadingSpread {
  int count = 0;
  double mean = 0.0;
  double deviation = 0.0;  // standard deviation (n - 1)
  double minimum = 0.0;
  double maximum = 0.0;
  double drift_per_minute = 0.0;  // least-squares slope against time
  bool full = false;              // as many readings as the mean takes
  bool stable = false;            // full, and maximum - minimum within the limit
};

// `values` and their times in ms (any origin), oldest first. `display_step` is one unit of the
// last shown decimal; the limit is stability_share of the mean or that step, whichever is
// larger.
ReadingSpread SpreadOf(const std::vector<double>& values, const std::vector<double>& times_ms,
                       int full_count, double display_step, double stability_share);

// The band the readings of a settled point stay within: stability_share of their mean, at
// least one display step.
double StabilityLimit(double mean, double display_step, double stability_share);

// A drift scaled up to a minute means nothing until the readings span this long: from a few
// seconds of noise it would claim a movement nobody has seen.
inline constexpr double kDriftMinSpanMs = 30'000.0;

// The least-squares slope of `values` against their times in ms, per minute; none until the
// readings span at least `min_span_ms`.
std::optional<double> DriftPerMinute(const std::vector<double>& values,
                                     const std::vector<double>& times_ms,
                                     double min_span_ms = kDriftMinSpanMs);

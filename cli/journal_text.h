#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "core/calibration_journal.h"

// Journal records as the command line shows them to people.

// Record number `number` over several lines: when and where, what the sensor held, the points,
// what was computed, written and read back, and how it ended.
std::string JournalRecordText(const JournalRecord& record, int number);

// A calibration in a list's column: "offset slope" with every digit the floats hold, "-" for
// none.
std::string CalibrationColumn(const std::optional<SensorCalibration>& calibration);

// The same for JSON: {"offset": ..., "slope": ...}, null for none.
nlohmann::json CalibrationColumnJson(const std::optional<SensorCalibration>& calibration);

#pragma once

#include <string>

#include "comm/modbusbox.h"
#include "core/app_state.h"
#include "core/calibration_journal.h"

// What the calibration commands share, in the GUI and on the command line: the journal record
// of the link, and the read-back that tells a write the sensor took from one it did not.

// A record of a calibration command on the link of `state`: the connection, the display unit
// and, as found, the calibration the command read from the sensor when it started.
JournalRecord NewJournalRecord(const AppState& state, const std::string& unit);

enum class ReadBack { kMatches, kDiffers, kUnread };

// Reads registers 436-439 after a write of `written` into `read` and compares them bit for
// bit. kUnread when the read failed (the box's error says why).
ReadBack ReadCalibrationBack(modbusbox& box, const SensorCalibration& written,
                             SensorCalibration& read);

// The message of a read-back that differs: both values, as decimals and as register words.
std::string ReadBackMismatchText(const SensorCalibration& written, const SensorCalibration& read);

// The journal's outcome for a write that ended `read_back`, of a command whose success is
// `success` (written, factory or restored).
JournalOutcome WriteOutcome(ReadBack read_back, JournalOutcome success);

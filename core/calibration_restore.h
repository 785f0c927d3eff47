#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/calibration_journal.h"

// Putting a calibration kept in the journal back into the sensor it came from.

// Which of a record's calibrations goes back: the one the command found in the sensor, or the
// one it left there.
enum class RestoreWhich { kAsFound, kAsLeft };

// Whether `record` was made on the same sensor channel as the link `link` describes (a record
// from NewJournalRecord): the same way of connecting, sensor address and channel and, through
// the corrector, the same line, and address and plate where both records know them. The port
// does not count: the same adapter may come up under another number.
bool SameChannel(const JournalRecord& link, const JournalRecord& record);

// The records of `records` made on the channel of `link`, in their order.
std::vector<JournalRecord> RecordsOfChannel(const std::vector<JournalRecord>& records,
                                            const JournalRecord& link);

// The calibration `which` of `record`, when it has one the sensor may get. As left is what
// the sensor read back after the write, or what was written when nothing came back; a record
// of a command that wrote nothing has none.
std::optional<SensorCalibration> RestoreTarget(const JournalRecord& record, RestoreWhich which);

// What the record of a restore notes about where its calibration came from.
std::string RestoreNote(const JournalRecord& source, RestoreWhich which);

// The record's time as people read it: "08.12.2026 11:02:03", the zone left out; the text as
// it stands when it is not a time the journal writes.
std::string JournalTimeText(const std::string& time);

// A calibration on one line for people: "зміщення -2.0000000, нахил 1.2500000".
std::string CalibrationText(const SensorCalibration& calibration);

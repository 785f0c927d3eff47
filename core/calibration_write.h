#pragma once

#include <functional>
#include <optional>
#include <string>

#include "comm/exchange_host.h"
#include "comm/modbusbox.h"
#include "core/app_state.h"
#include "core/calibration.h"
#include "core/calibration_checks.h"
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

// What a calibration write needs of whoever runs it: the host that shows its messages and asks
// whether to retry, the sensor's exchange object (looked up on every pass, since a close asked
// for while a question was open may have taken the link down) and the way one exchange runs
// (the main window under its guard; the command line as it is), and the journal each record
// goes to the moment it is complete (none: nothing is kept).
struct CalibrationLink {
  ExchangeHost* ui = nullptr;
  std::function<modbusbox*()> sensor;
  std::function<bool(const std::function<bool()>&)> run;
  std::function<bool(const JournalRecord&)> keep;
};

// Appends `record` through the link's journal; true when it is on the disk (or the link keeps
// no journal).
bool KeepThrough(const CalibrationLink& link, const JournalRecord& record);

enum class WriteResult { kWritten, kRefused, kFailed, kMismatch, kUnread };

// Writes `target` into the sensor, asking to retry a failure, reads it back and tells the user
// how it ended. A calibration the sensor must not get (not finite, slope 0) is refused unsent.
// `journal` gets what was written, the read-back and the outcome (`success` when the sensor
// holds exactly what was sent), and is appended to the link's journal before anything is shown
// or asked: whatever happens to the program after the sensor took a write, the journal holds
// what the sensor held before it. `kept` (when given) tells whether the record is on the disk.
WriteResult WriteVerifiedCalibration(const CalibrationLink& link, const SensorCalibration& target,
                                     JournalRecord& journal, JournalOutcome success,
                                     bool* kept = nullptr);

// The point still applied after a write: the one whose readings were collected last. 0 or 1.
size_t AppliedPointIndex(const CalibrationRecord& record);

// The third line of the question that offers the check: which point is applied, and its value.
std::string AppliedPointText(const CalibrationRecord& record, const std::string& unit);

// The readings of a check or a point collected until they settled; none when the collection
// was cancelled or gave nothing.
using CollectSettled = std::function<std::optional<ReadingSpread>()>;

// Collects a settled mean at the point of `record` still applied and appends its check to the
// run of `journal` (a record of its own, on the disk before anything is shown); then shows the
// mean, its deviation and count, the applied value and the error. False when nothing was
// collected; the check, when there is one, in `check`.
bool CheckAtAppliedPoint(const CalibrationLink& link, const CalibrationRecord& record,
                         const JournalRecord& journal, const CollectSettled& collect,
                         JournalCheck* check = nullptr);

// Appends to the journal of `settings_folder`; a journal that cannot be written is told through
// `ui`, never silently lost. A link made without a settings folder (tests, tools) keeps none.
bool KeepJournalRecord(ExchangeHost& ui, const std::string& settings_folder,
                       const JournalRecord& journal);

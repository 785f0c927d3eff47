#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The calibration journal: one JSON object a line in `calibration-journal.jsonl` in the
// settings folder, appended and flushed to the disk, never rewritten. Each calibration command
// (two-point, factory setting, restore) leaves one record of what the sensor held before, what
// was written, what it read back and how it ended. What follows a write (the check at the
// applied point, a verification run, a certificate's number) is a further record carrying the
// same run identifier, so nothing already on disk ever needs changing. No password or user code
// is ever kept.

// A sensor calibration as the four registers 436-439 carry it: offset, then slope.
struct SensorCalibration {
  float offset = 0.0f;
  float slope = 1.0f;

  // The register words, low-order word first for each float.
  std::array<uint16_t, 4> Words() const;
  static SensorCalibration FromWords(const std::array<uint16_t, 4>& words);
  // Bit for bit, so that a NaN equals itself and -0 differs from +0.
  bool SameBits(const SensorCalibration& other) const;
};

// One point of a two-point calibration, in the display unit. Each value is a 32-bit float's
// (what the calibration worked with); the journal writes it with a float's digits and reads it
// back to the same float.
struct JournalPoint {
  double applied = 0.0;
  double received = 0.0;   // the mean the calculation used
  int readings = 0;        // in that mean
  double deviation = 0.0;  // standard deviation of those readings
  // The applied value as read from the reference instrument: readings in its mean and their
  // standard deviation (0 readings: typed by the engineer).
  int applied_readings = 0;
  double applied_deviation = 0.0;
};

// The sensor read at the point still applied after a write: a settled mean, not one reading.
struct JournalCheck {
  int point = 0;  // 1 or 2, of the calibration's points
  double applied = 0.0;
  double mean = 0.0;
  double deviation = 0.0;
  int readings = 0;
  double error = 0.0;  // mean - applied, display unit
};

enum class JournalOutcome {
  kWritten,
  kCancelled,
  kRefused,
  kFailed,
  kFactory,
  kRestored,
  kVerified
};

// The steps a further record of a run can be.
inline constexpr const char* kStepCheck = "check";
inline constexpr const char* kStepVerification = "verification";
inline constexpr const char* kStepCertificate = "certificate";

struct JournalRecord {
  std::string time;  // local time with its zone, ISO 8601, e.g. 2026-12-08T11:02:03.456+02:00
  // Shared by the records of one run: a calibration and what followed it.
  std::string run;
  // Empty for the record of a calibration command; otherwise the step this record adds to its
  // run (kStepCheck, kStepVerification, kStepCertificate).
  std::string step;

  // The connection.
  bool through_corrector = false;
  int port = 0;
  std::optional<int> corrector_address, plate, software_version, line;
  int sensor_address = 0;
  int channel = 0;   // 0 pressure, 1 temperature
  std::string unit;  // display unit of the points

  std::optional<SensorCalibration> as_found;
  std::vector<JournalPoint> points;
  std::optional<SensorCalibration> computed;  // what the two points gave
  std::optional<SensorCalibration> written;   // what went to the sensor
  std::optional<SensorCalibration> read_back;
  std::optional<bool> read_back_matches;
  std::optional<double> as_left_error;  // reading minus applied value, display unit
  JournalOutcome outcome = JournalOutcome::kCancelled;
  std::string note;  // the error text of a failed write, or what was restored
  std::optional<JournalCheck> check;
  // What a verification or certificate step keeps, as a JSON object (the verification's own
  // files read and write it).
  std::string detail;

  // The later records of the same run, oldest first, when the journal was read as runs.
  std::vector<JournalRecord> steps;

  // The calibration this record can put back: as found, or as left (read back or written).
  std::optional<SensorCalibration> AsLeft() const { return read_back ? read_back : written; }
};

// The journal's file name inside the settings folder.
std::string JournalPath(const std::string& settings_folder);

// The current local time as a record keeps it.
std::string JournalTimeNow();

// A new run identifier: the time and enough randomness that two programs never share one.
std::string NewRunId();

// The record's outcome as the journal and its views name it ("written", "cancelled", ...), and
// in the user's language.
const char* OutcomeKey(JournalOutcome outcome);
const char* OutcomeText(JournalOutcome outcome);

// One line of the journal, without its line break.
std::string JournalLine(const JournalRecord& record);
// A record from one line; nullopt for a line that is not one (torn, damaged, another format).
std::optional<JournalRecord> ParseJournalLine(const std::string& line);

// Appends `record` to the journal at `path` and flushes it to the disk. A last line left torn
// by a crash (never a whole record) is cut off first, so that only the last line of the
// journal can ever be torn. False with the reason in `error`.
bool AppendJournalRecord(const std::string& path, const JournalRecord& record, std::string& error);

// Every record of the journal at `path` as it stands on its line, oldest first; lines that are
// not records are skipped and counted in `skipped`. A missing file is an empty journal.
std::vector<JournalRecord> ReadJournalLines(const std::string& path, size_t* skipped = nullptr);

// The records gathered into runs, in the order each run began: a run's calibration record (its
// first one, or the run's first record when it has none) with the run's other records in
// `steps`. The check at the applied point also fills in the run's `as_left_error`.
std::vector<JournalRecord> GatherRuns(std::vector<JournalRecord> records);

// The journal at `path` as runs: one entry a run, as the journal's views list them.
std::vector<JournalRecord> ReadJournal(const std::string& path, size_t* skipped = nullptr);

// The records as CSV for a spreadsheet: UTF-8 with a byte-order mark, `;` between fields, a
// header row, numbers with `decimal` as their separator (a comma where the user's locale
// writes one, so that a spreadsheet takes them as numbers).
std::string JournalCsv(const std::vector<JournalRecord>& records, char decimal = '.');

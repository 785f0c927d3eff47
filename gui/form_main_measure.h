#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <QPointer>

#include "core/calibration_journal.h"
#include "core/calibration_write.h"

struct CalibrationRecord;
class TFormCorrect_NSHP;
class TFormMain;

// The main window's two measuring commands: current values, and the two-point calibration
// with the write of its result. Each dialog they open sits behind a function that opens the
// real dialog over the main window unless it has been replaced.
class MeasuringCommands {
 public:
  explicit MeasuringCommands(TFormMain& window);
  ~MeasuringCommands();
  MeasuringCommands(const MeasuringCommands&) = delete;
  MeasuringCommands& operator=(const MeasuringCommands&) = delete;

  // Display settings; true when accepted.
  std::function<bool()> display_settings;
  // The current values monitor, until the user closes it.
  std::function<void()> monitor;
  // The two-point dialog on the record; its result: 0 cancelled, 1 points accepted, 2 factory
  // setting (offset 0, slope 1 in the record).
  std::function<uint8_t(CalibrationRecord&)> two_point;
  // The settled readings at the point of the record still applied after its write, for the
  // check; none when the engineer cancelled. The statistics window by default.
  std::function<std::optional<ReadingSpread>(const CalibrationRecord&)> collect_check;
  // The results dialog on the record; true when its offset and slope are to be written.
  std::function<bool(CalibrationRecord&)> results;

  // When set, the calibration's records join this run of the journal (a verification's).
  std::string run;
  // Applied values the two-point dialog starts with (the engineer may change them).
  std::optional<std::array<float, 2>> offered_applied;
  // Whether the command offers the two-point certificate after a write.
  bool offer_certificate = true;
  // Set once the command has written a calibration the sensor holds.
  bool written = false;

  // Reads the calibration, then display settings, then the monitor.
  void Values();
  // Reads the calibration, then display settings, the two-point dialog, the results dialog
  // and the write.
  void Calibration();
  // Writes the record's offset and slope into the sensor, asking to retry a failure, and
  // reads them back; tells the user how it ended. Refuses a calibration the sensor must not
  // get. `journal` gets what was written, the read-back and the outcome (`success` when the
  // sensor holds exactly what was sent) and is journalled before anything is told. True when
  // the sensor holds it.
  bool WriteCalibration(const CalibrationRecord& record, JournalRecord& journal,
                        JournalOutcome success);
  // The same for a calibration put back from the journal.
  bool WriteVerified(const SensorCalibration& target, JournalRecord& journal,
                     JournalOutcome success);
  // Offers to collect the sensor's settled readings at the point still applied and shows their
  // error against the applied value; kept as a further record of the run of `journal`.
  void CheckAsLeft(const CalibrationRecord& record, JournalRecord& journal);
  // Appends to the journal; a journal that cannot be written is told, never silently lost.
  void Keep(const JournalRecord& journal);
  // The sensor of the window's link, its exchanges run under the window's guard, its records
  // kept in the window's journal.
  CalibrationLink Link();

 private:
  bool ReadCalibration();
  // What both commands begin with: none while an exchange of the window runs, then the
  // calibration read and the display settings. True when the command goes on.
  bool ReadyToMeasure();

  TFormMain& window_;
  // One two-point dialog for the whole command: shown again after unwritten results, it still
  // holds the points as the engineer left them, collected averages included.
  QPointer<TFormCorrect_NSHP> points_dialog_;
};

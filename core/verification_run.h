#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/calibration_journal.h"
#include "core/reference_standards.h"
#include "core/verification_plan.h"

// One verification run over a plan: at each point the value applied by the reference, the
// sensor's settled readings, the errors and the verdict; the hysteresis where a point was
// approached both ways, and the verdict of the run.

enum class VerificationStage { kAsFound, kAsLeft, kAlone };

// Where an applied value came from: typed by the engineer, or read from a reference
// instrument (then `source_id` names the instrument as it identified itself).
enum class AppliedSource { kTyped, kInstrument };

struct VerificationPoint {
  double nominal = 0.0;  // display unit, of the plan
  bool falling = false;
  double applied = 0.0;  // display unit
  AppliedSource source = AppliedSource::kTyped;
  std::string source_id;
  // An instrument's reading: the deviation and count of its settled readings (display unit).
  double applied_deviation = 0.0;
  int applied_readings = 0;
  double mean = 0.0;  // of the settled readings, display unit
  double deviation = 0.0;
  int readings = 0;
  // Filled in by EvaluatePoint.
  double error = 0.0;                      // mean - applied
  std::optional<double> error_of_reading;  // % of the applied value; none at 0
  double error_of_span = 0.0;              // % of the plan's span
  double tolerance = 0.0;                  // at this point, display unit
  Verdict verdict = Verdict::kPass;
};

// The hysteresis at a nominal point approached both ways: falling minus rising error.
struct Hysteresis {
  double nominal = 0.0;
  double value = 0.0;    // display unit
  double of_span = 0.0;  // %
};

struct VerificationRun {
  std::string run;  // the journal's run identifier
  VerificationStage stage = VerificationStage::kAlone;
  int channel = 0;
  std::string unit;     // display unit
  double factor = 1.0;  // sensor unit -> display unit
  int digits = 2;
  TestPlan plan;  // in the sensor's unit
  std::optional<ReferenceStandard> reference;
  // U in the display unit, as the guard band uses it; 0 without a reference.
  double uncertainty = 0.0;
  std::string started;                    // journal time
  std::vector<VerificationPoint> points;  // in the order measured; a repeat replaces its point
  bool cancelled = false;
  // The reference instrument's identification answer when the applied values were read from it;
  // empty when none (typed values, or an instrument without an identification query).
  std::string instrument;
  // The sensor's calibration during the run.
  std::optional<SensorCalibration> calibration;

  // The plan's span in the display unit.
  double span() const { return plan.span() * factor; }
};

// A run of `plan` for a channel shown in `unit` (`factor` from the sensor's unit), with the
// reference's U converted to that unit (0 when there is none or its unit does not convert).
VerificationRun NewVerificationRun(const TestPlan& plan, int channel, const std::string& unit,
                                   double factor, int digits,
                                   const std::optional<ReferenceStandard>& reference);

// The plan's points in the display unit, in the order of the run.
std::vector<PlanPoint> RunSequence(const VerificationRun& run);

// Fills in the errors, tolerance and verdict of `point` by the run's plan and rule.
void EvaluatePoint(const VerificationRun& run, VerificationPoint& point);

// Adds a measured point (evaluated), replacing an earlier one of the same nominal value and
// direction: a repeated point counts once, as last measured.
void RecordPoint(VerificationRun& run, VerificationPoint point);

// The index in RunSequence of the first point not yet measured; its size when all were.
size_t NextPointIndex(const VerificationRun& run);
bool Complete(const VerificationRun& run);

std::vector<Hysteresis> HysteresisOf(const VerificationRun& run);

// The worst verdict of the measured points.
Verdict RunVerdict(const VerificationRun& run);

// The run as a further journal record of its run (step "verification"), its points in detail.
JournalRecord VerificationJournalRecord(const VerificationRun& run, const JournalRecord& link);
// The run kept in a record's detail; none when the record is not a verification.
std::optional<VerificationRun> VerificationFromRecord(const JournalRecord& record);
// The runs of a journal entry (its own record, then its steps), in order.
std::vector<VerificationRun> VerificationsOf(const JournalRecord& entry);

const char* StageText(VerificationStage stage);
const char* StageKey(VerificationStage stage);

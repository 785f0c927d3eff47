#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/calibration_checks.h"
#include "core/reference_link.h"
#include "core/verification_run.h"

// A verification run whose applied values come from the reference instrument, read side by
// side with the sensor. With a controller it runs unattended: each point of RunSequence is set,
// awaited and recorded in turn, and the output is vented at the end, on a cancel, on any
// failure and when the run is closed. With a gauge the user applies each point by hand and
// says so with Proceed(); the readings are then collected the same way.
//
// Nothing blocks here: whoever drives the run (a window's timer, the command line's loop)
// calls Tick() once per poll interval with the clock's ms tick. A tick does at most one
// exchange with the sensor and two with the reference (the in-limits query and a reading, or
// a set point and output on). The sensor is only ever read: a verification changes nothing in
// it.
//
// A point is accepted when, over the same window of the last kReadingsForMean readings of each
// (polled in the same tick), the reference says it is in limits (when it has such a query),
// the reference's readings are stable and the sensor's are stable, both by SpreadOf with the
// limits of the calibration. The window starts again whenever the reference is out of limits
// or a sensor reading fails, so it only ever holds pairs read in limits. The applied value is
// the reference's mean, the sensor's value its mean.
//
// A point that has not settled `point_limit_ms` after it was set (controller) or after
// Proceed() (gauge) stops the run. Any failure of the reference (no number, another unit, no
// answer, a lost port) or a lost sensor stops the run with one message naming what failed and
// what it answered; the point being collected is not recorded. A run that stops keeps the
// points measured before and is marked cancelled, so it goes into the journal as not complete.

// One reading of the sensor in the display unit, or why there is none.
struct SensorSample {
  enum class Kind { kValue, kFailed, kLinkLost };
  Kind kind = Kind::kValue;
  double value = 0.0;
  std::string error;  // kFailed and kLinkLost: what the exchange said
};
using ReadSensorSample = std::function<SensorSample()>;

struct InstrumentRunConfig {
  int p_unit = 0;  // the listed pressure unit of the display (the channel is the run's)
  double display_step = 0.01;
  double stability_share = 0.0005;
  uint32_t point_limit_ms = 100'000;
  // Stops the sensor's running exchange (a cancel while it waits for a reply); may be empty.
  // The flag it raises is the driver's to lower before the sensor's next exchange.
  std::function<void()> abort_sensor;
};

enum class InstrumentPhase {
  kStarting,         // identification
  kSetting,          // a controller's set point goes out
  kAwaitingProceed,  // a gauge: the user applies the point and says so
  kSettling,         // both are read until they settle
  kFinishing,        // every point measured; the output is vented
  kDone,             // the run is complete
  kCancelled,        // by Cancel()
  kFailed,           // stopped: message() says why
};

// What a point is waiting for, for display.
enum class InstrumentAwaits {
  kNothing,
  kProceed,    // the user to apply the point
  kInLimits,   // the controller to say it is in limits
  kReadings,   // the window of readings to fill
  kReference,  // the reference's readings to settle
  kSensor,     // the sensor's readings to settle
  kBoth,       // both to settle
  kPortBack,   // a lost reference port, to vent its output
};

// Where the run is, for display.
struct InstrumentProgress {
  size_t index = 0;  // in RunSequence
  size_t count = 0;  // points of the run
  PlanPoint point;   // nominal value in the display unit, direction
  InstrumentAwaits awaits = InstrumentAwaits::kNothing;
  uint32_t point_elapsed_ms = 0;
  bool in_limits = true;
  std::optional<double> reference;  // last reading, display unit
  std::optional<double> sensor;
  ReadingSpread reference_spread;  // of the window being collected
  ReadingSpread sensor_spread;
  std::string note;  // the last sensor reading that failed, passed over
};

struct InstrumentEvent {
  enum class Kind { kPointStarted, kSettled, kPointDone, kStopped };
  Kind kind = Kind::kPointStarted;
  size_t index = 0;
  PlanPoint point;
  uint32_t point_ms = 0;  // kPointDone: the time the point took from its start
};

class InstrumentRun {
 public:
  // `run` and `link` (already open) outlive this object. `read_sensor` gives one reading per
  // call.
  InstrumentRun(VerificationRun& run, ReferenceLink& link, ReadSensorSample read_sensor,
                const InstrumentRunConfig& config);
  // Vents the output if it may still be on (Close()).
  ~InstrumentRun();
  InstrumentRun(const InstrumentRun&) = delete;
  InstrumentRun& operator=(const InstrumentRun&) = delete;

  // Told of each point started, settled and done, and of the run's stop.
  void set_listener(std::function<void(const InstrumentEvent&)> listener) {
    listener_ = std::move(listener);
  }

  // One poll; returns the phase the run is in after it. Once the run has ended a tick only
  // retries a pending vent, when the reference's port is back.
  InstrumentPhase Tick(uint32_t now_ms);
  // A gauge's point has been applied; ignored in any other phase.
  void Proceed(uint32_t now_ms);
  // Stops the run at once: the running exchange is aborted and the output vented (by the tick
  // that was running, when called from inside one). The points measured stay.
  void Cancel();
  // Vents the output if it may still be on, once, whatever the phase: for a window closed or a
  // process terminated. A vent that cannot be sent stays pending.
  void Close();

  InstrumentPhase phase() const { return phase_; }
  bool ended() const;
  // The controller's output may still be on: a vent was not yet sent, or failed.
  bool vent_pending() const { return vent_needed_; }
  // Why the run stopped, or why a vent failed; empty otherwise.
  const std::string& message() const { return message_; }
  const InstrumentProgress& progress() const { return progress_; }
  // The time each measured point took, in the order measured.
  const std::vector<uint32_t>& point_times() const { return point_times_; }
  // The instrument as the points name it: its identification, or its title.
  const std::string& source_id() const { return source_id_; }

 private:
  void Identify();
  void SetPoint(uint32_t now_ms);
  void Poll(uint32_t now_ms);
  void Finish();
  void Vent();
  void RetryVent();
  void StartPoint(uint32_t now_ms);
  void Stop(InstrumentPhase phase, const std::string& message);
  void ClearWindow();
  bool ReferenceFailed(ReferenceLink::Result result, const std::string& error);
  std::string PointText() const;
  void Tell(InstrumentEvent::Kind kind, uint32_t point_ms = 0);

  VerificationRun& run_;
  ReferenceLink& link_;
  ReadSensorSample read_sensor_;
  InstrumentRunConfig config_;
  std::function<void(const InstrumentEvent&)> listener_;
  std::vector<PlanPoint> sequence_;

  InstrumentPhase phase_ = InstrumentPhase::kStarting;
  InstrumentProgress progress_;
  std::string message_;
  std::string source_id_;
  bool output_on_ = false;
  bool vent_needed_ = false;
  bool in_tick_ = false;
  bool cancel_requested_ = false;
  uint32_t point_start_ms_ = 0;   // the point's time counts from here
  uint32_t settle_start_ms_ = 0;  // and its limit from here: set, or applied by hand
  std::vector<double> reference_values_, sensor_values_, times_;
  std::vector<uint32_t> point_times_;
};

const char* InstrumentAwaitsText(InstrumentAwaits awaits);

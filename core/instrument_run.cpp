#include "core/instrument_run.h"

#include "core/calibration.h"
#include "core/number_format.h"

namespace {

constexpr size_t kWindow = StatisticsRing::kSize;

}  // namespace

const char* InstrumentAwaitsText(InstrumentAwaits awaits) {
  switch (awaits) {
    case InstrumentAwaits::kNothing:
      return "";
    case InstrumentAwaits::kProceed:
      return "задайте точку і підтвердьте";
    case InstrumentAwaits::kInLimits:
      return "контролер ще не в межах";
    case InstrumentAwaits::kReadings:
      return "набираються покази";
    case InstrumentAwaits::kReference:
      return "покази еталона ще не стабільні";
    case InstrumentAwaits::kSensor:
      return "покази давача ще не стабільні";
    case InstrumentAwaits::kBoth:
      return "покази еталона і давача ще не стабільні";
    case InstrumentAwaits::kPortBack:
      return "очікується порт еталона, щоб скинути тиск";
  }
  return "";
}

InstrumentRun::InstrumentRun(VerificationRun& run, ReferenceLink& link,
                             ReadSensorSample read_sensor, const InstrumentRunConfig& config)
    : run_(run),
      link_(link),
      read_sensor_(std::move(read_sensor)),
      config_(config),
      sequence_(RunSequence(run)) {
  progress_.count = sequence_.size();
  source_id_ = link_.Title();
}

InstrumentRun::~InstrumentRun() {
  Close();
}

bool InstrumentRun::ended() const {
  return phase_ == InstrumentPhase::kDone || phase_ == InstrumentPhase::kCancelled ||
         phase_ == InstrumentPhase::kFailed;
}

InstrumentPhase InstrumentRun::Tick(uint32_t now_ms) {
  // A tick asked for from inside an exchange's event pump must not start a second exchange.
  if (in_tick_)
    return phase_;
  in_tick_ = true;
  if (ended()) {
    RetryVent();
  } else if (cancel_requested_) {
    Stop(InstrumentStop::kCancelled, "");
  } else {
    switch (phase_) {
      case InstrumentPhase::kStarting:
        Identify();
        if (!ended() && !cancel_requested_)
          StartPoint(now_ms);
        break;
      case InstrumentPhase::kSetting:
        SetPoint(now_ms);
        break;
      case InstrumentPhase::kAwaitingProceed:
        progress_.point_elapsed_ms = now_ms - point_start_ms_;
        break;
      case InstrumentPhase::kSettling:
        Poll(now_ms);
        break;
      case InstrumentPhase::kFinishing:
        Finish();
        break;
      default:
        break;
    }
    if (cancel_requested_ && !ended())
      Stop(InstrumentStop::kCancelled, "");
  }
  in_tick_ = false;
  return phase_;
}

void InstrumentRun::Proceed(uint32_t now_ms) {
  if (phase_ != InstrumentPhase::kAwaitingProceed)
    return;
  settle_start_ms_ = now_ms;
  ClearWindow();
  phase_ = InstrumentPhase::kSettling;
  progress_.awaits = InstrumentAwaits::kReadings;
}

void InstrumentRun::Cancel() {
  if (ended())
    return;
  cancel_requested_ = true;
  link_.RequestAbort();
  if (config_.abort_sensor)
    config_.abort_sensor();
  if (!in_tick_) {
    in_tick_ = true;
    Stop(InstrumentStop::kCancelled, "");
    in_tick_ = false;
  }
}

void InstrumentRun::Close() {
  if (!ended()) {
    phase_ = InstrumentPhase::kCancelled;
    stop_ = InstrumentStop::kCancelled;
    run_.cancelled = true;
  }
  if (vent_needed_) {
    if (!link_.is_open() && link_.DeviceBack()) {
      std::string error;
      link_.Open(error);
    }
    Vent();
  }
}

void InstrumentRun::Identify() {
  const ReferenceSettings& s = link_.settings();
  if (s.controller && (s.set_point.empty() || s.output_off.empty())) {
    // Without a way to vent, an unattended run could leave the system under pressure.
    Stop(InstrumentStop::kReference,
         link_.Title() + ": команди задання і скидання тиску не задано в налаштуваннях");
    return;
  }
  if (s.identify.empty())
    return;
  std::string id, error;
  const ReferenceLink::Result result = link_.Identify(id, error);
  if (ReferenceFailed(result, error))
    return;
  run_.instrument = id;
  if (!id.empty())
    source_id_ = id;
}

void InstrumentRun::StartPoint(uint32_t now_ms) {
  const size_t index = NextPointIndex(run_);
  ClearWindow();
  progress_.reference.reset();
  progress_.sensor.reset();
  progress_.note.clear();
  if (index >= sequence_.size()) {
    phase_ = InstrumentPhase::kFinishing;
    progress_.awaits = InstrumentAwaits::kNothing;
    return;
  }
  progress_.index = index;
  progress_.point = sequence_[index];
  progress_.point_elapsed_ms = 0;
  point_start_ms_ = now_ms;
  settle_start_ms_ = now_ms;
  if (link_.settings().controller) {
    phase_ = InstrumentPhase::kSetting;
    progress_.awaits = InstrumentAwaits::kInLimits;
  } else {
    phase_ = InstrumentPhase::kAwaitingProceed;
    progress_.awaits = InstrumentAwaits::kProceed;
  }
  Tell(InstrumentEvent::Kind::kPointStarted);
}

void InstrumentRun::SetPoint(uint32_t now_ms) {
  std::string error;
  // Sent before the output goes on, so the output never drives toward a set point left over
  // from earlier work.
  vent_needed_ = true;
  ReferenceLink::Result result =
      link_.SetPoint(progress_.point.nominal, run_.channel, config_.p_unit, error);
  if (ReferenceFailed(result, error))
    return;
  if (!output_on_) {
    result = link_.Output(true, error);
    if (ReferenceFailed(result, error))
      return;
    output_on_ = true;
  }
  settle_start_ms_ = now_ms;
  phase_ = InstrumentPhase::kSettling;
}

void InstrumentRun::Poll(uint32_t now_ms) {
  progress_.point_elapsed_ms = now_ms - point_start_ms_;
  std::string error;
  bool in_limits = true;
  ReferenceLink::Result result = link_.InLimits(in_limits, error);
  if (ReferenceFailed(result, error))
    return;
  double reference = 0.0;
  result = link_.Read(run_.channel, config_.p_unit, reference, error);
  if (ReferenceFailed(result, error))
    return;
  progress_.in_limits = in_limits;
  progress_.reference = reference;
  if (cancel_requested_)
    return;
  const SensorSample sample = read_sensor_();
  if (cancel_requested_)
    return;
  if (sample.kind == SensorSample::Kind::kLinkLost) {
    Stop(InstrumentStop::kSensor, sample.error);
    return;
  }
  if (sample.kind == SensorSample::Kind::kFailed) {
    // Passed over as a reading of the statistics is; the pair of this tick is dropped whole.
    progress_.note = sample.error;
  } else {
    progress_.sensor = sample.value;
    progress_.note.clear();
  }

  if (!in_limits) {
    ClearWindow();
    progress_.awaits = InstrumentAwaits::kInLimits;
  } else if (sample.kind == SensorSample::Kind::kValue) {
    reference_values_.push_back(reference);
    sensor_values_.push_back(sample.value);
    times_.push_back(static_cast<double>(now_ms - settle_start_ms_));
    if (times_.size() > kWindow) {
      reference_values_.erase(reference_values_.begin());
      sensor_values_.erase(sensor_values_.begin());
      times_.erase(times_.begin());
    }
    const auto spread_of = [this](const std::vector<double>& values) {
      return SpreadOf(values, times_, static_cast<int>(kWindow), config_.display_step,
                      config_.stability_share);
    };
    progress_.reference_spread = spread_of(reference_values_);
    progress_.sensor_spread = spread_of(sensor_values_);
    const bool reference_stable = progress_.reference_spread.stable;
    const bool sensor_stable = progress_.sensor_spread.stable;
    progress_.awaits = times_.size() < kWindow             ? InstrumentAwaits::kReadings
                       : reference_stable && sensor_stable ? InstrumentAwaits::kNothing
                       : reference_stable                  ? InstrumentAwaits::kSensor
                       : sensor_stable                     ? InstrumentAwaits::kReference
                                                           : InstrumentAwaits::kBoth;
    if (reference_stable && sensor_stable) {
      Tell(InstrumentEvent::Kind::kSettled);
      VerificationPoint point;
      point.nominal = progress_.point.nominal;
      point.falling = progress_.point.falling;
      point.applied = progress_.reference_spread.mean;
      point.applied_deviation = progress_.reference_spread.deviation;
      point.applied_readings = progress_.reference_spread.count;
      point.source = AppliedSource::kInstrument;
      point.source_id = source_id_;
      point.mean = progress_.sensor_spread.mean;
      point.deviation = progress_.sensor_spread.deviation;
      point.readings = progress_.sensor_spread.count;
      RecordPoint(run_, point);
      const uint32_t took = now_ms - point_start_ms_;
      point_times_.push_back(took);
      Tell(InstrumentEvent::Kind::kPointDone, took);
      StartPoint(now_ms);
      return;
    }
  }
  if (now_ms - settle_start_ms_ > config_.point_limit_ms) {
    const InstrumentAwaits awaited = progress_.awaits;
    std::string why = InstrumentAwaitsText(awaited);
    if (awaited == InstrumentAwaits::kInLimits || awaited == InstrumentAwaits::kReference ||
        awaited == InstrumentAwaits::kBoth)
      why = link_.Title() + ": " + why;
    Stop(InstrumentStop::kNotSettled, PointText() + " не встановилася за " +
                                          std::to_string(config_.point_limit_ms / 1000) +
                                          " с: " + why);
  }
}

void InstrumentRun::Finish() {
  Vent();
  phase_ = InstrumentPhase::kDone;
}

void InstrumentRun::Vent() {
  if (!vent_needed_)
    return;
  if (!link_.is_open()) {
    progress_.awaits = InstrumentAwaits::kPortBack;
    return;
  }
  // A cancel aborts the exchange it interrupts, never the vent that follows it.
  link_.box().abort_requested = false;
  std::string error;
  const ReferenceLink::Result result = link_.Output(false, error);
  if (result == ReferenceLink::Result::kOk) {
    vent_needed_ = false;
    output_on_ = false;
    if (progress_.awaits == InstrumentAwaits::kPortBack)
      progress_.awaits = InstrumentAwaits::kNothing;
    return;
  }
  if (result == ReferenceLink::Result::kLinkLost) {
    progress_.awaits = InstrumentAwaits::kPortBack;
    return;
  }
  // Sending it again would fail the same way: the user is told to vent by hand.
  vent_needed_ = false;
  message_ += (message_.empty() ? "" : "; ") + std::string("тиск не скинуто: ") + error;
}

void InstrumentRun::RetryVent() {
  if (!vent_needed_)
    return;
  if (!link_.is_open()) {
    std::string error;
    if (!link_.DeviceBack() || !link_.Open(error))
      return;
  }
  Vent();
}

void InstrumentRun::Stop(InstrumentStop why, const std::string& message) {
  phase_ =
      why == InstrumentStop::kCancelled ? InstrumentPhase::kCancelled : InstrumentPhase::kFailed;
  stop_ = why;
  message_ = message;
  run_.cancelled = true;
  ClearWindow();
  progress_.awaits = InstrumentAwaits::kNothing;
  link_.box().abort_requested = false;
  Vent();
  Tell(InstrumentEvent::Kind::kStopped);
}

void InstrumentRun::ClearWindow() {
  reference_values_.clear();
  sensor_values_.clear();
  times_.clear();
  progress_.reference_spread = {};
  progress_.sensor_spread = {};
}

bool InstrumentRun::ReferenceFailed(ReferenceLink::Result result, const std::string& error) {
  if (result == ReferenceLink::Result::kOk)
    return false;
  // An exchange aborted by Cancel() ends the run as cancelled at the end of the tick.
  if (result == ReferenceLink::Result::kAborted && cancel_requested_)
    return true;
  Stop(InstrumentStop::kReference, error);
  return true;
}

std::string InstrumentRun::PointText() const {
  return "Точка " + std::to_string(progress_.index + 1) + " із " + std::to_string(progress_.count) +
         " (" + FormatFixed(progress_.point.nominal, run_.digits) + " " + run_.unit +
         (progress_.point.falling ? ", на спаданні)" : ", на зростанні)");
}

void InstrumentRun::Tell(InstrumentEvent::Kind kind, uint32_t point_ms) {
  if (!listener_)
    return;
  InstrumentEvent event;
  event.kind = kind;
  event.index = progress_.index;
  event.point = progress_.point;
  event.point_ms = point_ms;
  listener_(event);
}

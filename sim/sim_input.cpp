#include "sim/sim_input.h"

#include <cmath>

double SimInput::AtLocked(uint64_t now_us) const {
  const double t = static_cast<double>(now_us) / 1e6;
  if (!controlled_)
    return config_.value + config_.drift_per_s * t;
  const double elapsed = static_cast<double>(now_us - since_us_) / 1e6;
  const double step = target_ - from_;
  const double peak = target_ + config_.overshoot * step;
  const double ramp_s = config_.slew_per_s > 0 ? std::fabs(peak - from_) / config_.slew_per_s : 0;
  if (elapsed < ramp_s)
    return from_ + (peak - from_) * (elapsed / ramp_s);
  const double decay = config_.settle_s > 0 ? std::exp(-(elapsed - ramp_s) / config_.settle_s) : 0;
  return target_ + (peak - target_) * decay;
}

double SimInput::At(uint64_t now_us) {
  std::lock_guard lock(mutex_);
  return AtLocked(now_us);
}

void SimInput::MoveTo(double target, uint64_t now_us) {
  std::lock_guard lock(mutex_);
  from_ = AtLocked(now_us);
  if (target < from_)
    falling_ = true;
  else if (target > from_)
    falling_ = false;
  target_ = target;
  since_us_ = now_us;
  controlled_ = true;
}

bool SimInput::Settled(uint64_t now_us, double band) {
  std::lock_guard lock(mutex_);
  if (!controlled_)
    return true;
  const double elapsed = static_cast<double>(now_us - since_us_) / 1e6;
  const double peak = target_ + config_.overshoot * (target_ - from_);
  const double ramp_s = config_.slew_per_s > 0 ? std::fabs(peak - from_) / config_.slew_per_s : 0;
  return elapsed >= ramp_s && std::fabs(AtLocked(now_us) - target_) <= band;
}

double SimInput::target() {
  std::lock_guard lock(mutex_);
  return controlled_ ? target_ : config_.value;
}

bool SimInput::vented() {
  std::lock_guard lock(mutex_);
  return !controlled_ || target_ == config_.value;
}

bool SimInput::falling() {
  std::lock_guard lock(mutex_);
  return falling_;
}

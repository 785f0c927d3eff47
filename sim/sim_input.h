#pragma once

#include <cstdint>
#include <mutex>

// What is applied to a simulated sensor: the pressure or temperature at its input, in the
// sensor's unit. The sensor reads it and so does the simulated reference instrument; as a
// pressure controller the reference also moves it. The two may be served on threads of their
// own, so every call takes the lock.
//
// Left alone the input is `value` moving by `drift_per_s`. A set point ramps it at `slew_per_s`
// past the target by `overshoot` of the step, from where it falls back to the target with the
// time constant `settle_s`; venting is a set point at the starting value.
class SimInput {
 public:
  struct Config {
    double value = 101.325;
    double drift_per_s = 0.0;
    double slew_per_s = 20.0;
    double overshoot = 0.02;  // share of the step
    double settle_s = 0.3;
  };

  explicit SimInput(const Config& config) : config_(config) {}

  double At(uint64_t now_us);
  void MoveTo(double target, uint64_t now_us);
  void Vent(uint64_t now_us) { MoveTo(config_.value, now_us); }
  // Within `band` of the set point, past the ramp (always true with no set point).
  bool Settled(uint64_t now_us, double band);
  // The set point given last, or the starting value.
  double target();
  // The input was last moved down: a sensor's hysteresis sees it approached from above. The
  // overshoot past a set point is too small to turn the hysteresis loop, so the direction is
  // that of the move, not of the fall back from the peak.
  bool falling();
  bool vented();

 private:
  double AtLocked(uint64_t now_us) const;

  std::mutex mutex_;
  Config config_;
  bool controlled_ = false;
  bool falling_ = false;
  double from_ = 0.0;
  double target_ = 0.0;
  uint64_t since_us_ = 0;
};

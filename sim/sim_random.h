#pragma once

#include <cstdint>

// Small deterministic generator (splitmix64): the same seed gives the same sequence on every
// platform and standard library, so noisy readings can be checked exactly in tests.
class SimRandom {
 public:
  explicit SimRandom(uint64_t seed) : state_(seed) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  // Uniform in [-1, 1).
  double Symmetric() {
    return static_cast<double>(Next() >> 11) * (2.0 / 9007199254740992.0) - 1.0;
  }

  uint8_t Byte() { return static_cast<uint8_t>(Next() >> 56); }

 private:
  uint64_t state_;
};

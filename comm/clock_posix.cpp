#include <chrono>
#include <thread>

#include "comm/clock.h"

// steady_clock is CLOCK_MONOTONIC here: nanoseconds that never jump with the wall clock.

uint64_t SystemClock::Counter() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

uint64_t SystemClock::Frequency() {
  return 1'000'000'000u;
}

uint32_t SystemClock::TickCount() {
  return static_cast<uint32_t>(Counter() / 1'000'000u);
}

void SystemClock::Pause(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SystemClock::SpinUntilPast(uint64_t counter) {
  while (Counter() <= counter) {
  }
}

SystemClock& SystemClock::Instance() {
  static SystemClock clock;
  return clock;
}

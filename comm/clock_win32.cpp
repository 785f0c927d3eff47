#include "comm/win32_api.h"

#include "comm/clock.h"

uint64_t SystemClock::Counter() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<uint64_t>(now.QuadPart);
}

uint64_t SystemClock::Frequency() {
  // Fixed at boot; read once.
  static const uint64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<uint64_t>(f.QuadPart);
  }();
  return frequency;
}

uint32_t SystemClock::TickCount() {
  return GetTickCount();
}

void SystemClock::Pause(uint32_t ms) {
  Sleep(ms);
}

void SystemClock::SpinUntilPast(uint64_t counter) {
  while (Counter() <= counter) {
  }
}

SystemClock& SystemClock::Instance() {
  static SystemClock clock;
  return clock;
}

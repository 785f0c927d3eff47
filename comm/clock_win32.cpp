#include "comm/win32_api.h"

#include "comm/clock.h"

// Older SDK headers lack the flag; the system ignores what it does not know and the timer is
// then an ordinary one, good to about a millisecond.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

thread_local WakeLateness wake_lateness;

// One waitable timer per thread that sleeps, high-resolution where the system has those
// (Windows 10 1803 and later), an ordinary one elsewhere.
HANDLE ThreadTimer() {
  thread_local HANDLE timer = [] {
    HANDLE t = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                      TIMER_ALL_ACCESS);
    if (t == nullptr)
      t = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    return t;
  }();
  return timer;
}

}  // namespace

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

void SystemClock::SleepUntil(uint64_t counter) {
  const uint64_t frequency = Frequency();
  const uint64_t margin =
      static_cast<uint64_t>(wake_lateness.margin_ns()) * frequency / 1'000'000'000u;
  const uint64_t now = Counter();
  if (counter <= now + margin)
    return;
  const uint64_t aim = counter - margin;
  // The timer is relative (a negative due time, in 100 ns units), reckoned from the counter's
  // own reading so that the two clocks need not agree on an epoch.
  const uint64_t ticks = aim - now;
  LARGE_INTEGER due;
  due.QuadPart = -static_cast<LONGLONG>(ticks * 10'000'000u / frequency);
  HANDLE timer = ThreadTimer();
  if (timer != nullptr && due.QuadPart < 0 &&
      SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
    WaitForSingleObject(timer, INFINITE);
  } else {
    Sleep(static_cast<DWORD>(ticks * 1000u / frequency));
  }
  const int64_t late = static_cast<int64_t>(Counter()) - static_cast<int64_t>(aim);
  wake_lateness.Record(late * 1'000'000'000 / static_cast<int64_t>(frequency));
}

SystemClock& SystemClock::Instance() {
  static SystemClock clock;
  return clock;
}

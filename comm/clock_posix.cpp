#include <time.h>

#include <cerrno>
#include <chrono>
#include <thread>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include "comm/clock.h"

namespace {

thread_local WakeLateness wake_lateness;

// A thread's timers are by default allowed to fire 50 us late so that the kernel can batch
// wake-ups; the RTS hold wants its sleep to end when asked, so the thread that sleeps in it
// narrows that slack once.
void NarrowTimerSlack() {
#if defined(__linux__)
  thread_local bool narrowed = false;
  if (!narrowed) {
    prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
    narrowed = true;
  }
#endif
}

}  // namespace

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

void SystemClock::SleepUntil(uint64_t counter) {
  const int64_t aim = static_cast<int64_t>(counter) - wake_lateness.margin_ns();
  if (aim <= static_cast<int64_t>(Counter()))
    return;
  NarrowTimerSlack();
  // The counter is CLOCK_MONOTONIC in nanoseconds, so the deadline is absolute on that clock:
  // a sleep interrupted by a signal resumes towards the same moment.
  const timespec deadline{static_cast<time_t>(aim / 1'000'000'000),
                          static_cast<long>(aim % 1'000'000'000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
  wake_lateness.Record(static_cast<int64_t>(Counter()) - aim);
}

SystemClock& SystemClock::Instance() {
  static SystemClock clock;
  return clock;
}

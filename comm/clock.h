#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

// Time base of every exchange: a high-resolution counter for time-outs and the RTS hold,
// a millisecond tick count for the service-mode polls, and plain pauses.
class Clock {
 public:
  virtual ~Clock() = default;

  // Monotonic counter; compared as unsigned 64-bit numbers.
  virtual uint64_t Counter() = 0;
  // Counter ticks per second; constant for the life of the clock.
  virtual uint64_t Frequency() = 0;
  // Milliseconds, wrapping at 2^32 like the platform tick count.
  virtual uint32_t TickCount() = 0;
  // Waits `ms` milliseconds without processing any user-interface messages.
  virtual void Pause(uint32_t ms) = 0;
  // Busy-waits until Counter() is past `counter`. Used where a sleep is too coarse (RTS hold).
  virtual void SpinUntilPast(uint64_t counter) = 0;
  // Sleeps until shortly before Counter() reaches `counter` without processing any user-interface
  // messages: the system clock wakes early by about as much as its timer tends to overshoot, so
  // that a following SpinUntilPast burns only the last fraction of a millisecond. Returns at
  // once when `counter` has already passed.
  virtual void SleepUntil(uint64_t counter) = 0;
};

// How late the system timer wakes a sleeper, learnt from the sleeps themselves: an estimate of
// the lateness that four wakes in five stay within. Each later wake raises it by four steps and
// each other one lowers it by one, so it settles where a fifth of the wakes are later; those
// are late by little on a quiet machine. The wake that comes milliseconds late (a busy machine)
// is no reason to spin on every hold, so it moves the estimate no more than any other late one,
// and the bounds keep the spin after a sleep within a fifth of a millisecond.
class WakeLateness {
 public:
  static constexpr int64_t kMinNs = 20'000;
  static constexpr int64_t kMaxNs = 200'000;
  static constexpr int64_t kStepNs = 2'000;

  // Nanoseconds a sleep should aim before its target.
  int64_t margin_ns() const { return margin_ns_; }
  // One wake `late_ns` after the moment aimed at (negative: early).
  void Record(int64_t late_ns) {
    margin_ns_ += late_ns > margin_ns_ ? 4 * kStepNs : -kStepNs;
    margin_ns_ = std::clamp(margin_ns_, kMinNs, kMaxNs);
  }

 private:
  int64_t margin_ns_ = 100'000;
};

// Converts milliseconds to counter ticks: ms is taken as a signed 32-bit number, the product
// and the truncating division are unsigned 64-bit.
inline uint64_t MsToTicks(int32_t ms, uint64_t frequency) {
  return static_cast<uint64_t>(static_cast<int64_t>(ms)) * frequency / 1000u;
}

// Counter ticks as a wait, rounded up to whole microseconds so that the wait reaches the tick
// it aims at. Meant for short waits (up to minutes at any counter frequency).
inline std::chrono::microseconds TicksToWait(uint64_t ticks, uint64_t frequency) {
  if (frequency == 0)
    return std::chrono::microseconds(0);
  return std::chrono::microseconds(
      static_cast<int64_t>((ticks * 1'000'000u + frequency - 1) / frequency));
}

// The machine's steady clock.
class SystemClock final : public Clock {
 public:
  uint64_t Counter() override;
  uint64_t Frequency() override;
  uint32_t TickCount() override;
  void Pause(uint32_t ms) override;
  void SpinUntilPast(uint64_t counter) override;
  void SleepUntil(uint64_t counter) override;

  // One instance for the whole process; the only state it keeps, how late the timer wakes,
  // is kept per thread.
  static SystemClock& Instance();
};

// A clock that stands still until the code under test waits: every pause, sleep, spin or wait for
// input moves it forward by exactly that much, so long time-outs run in microseconds and
// each one can be checked to the tick. One tick is one microsecond.
class VirtualClock final : public Clock {
 public:
  static constexpr uint64_t kFrequency = 1'000'000;

  uint64_t Counter() override { return now_; }
  uint64_t Frequency() override { return kFrequency; }
  uint32_t TickCount() override { return static_cast<uint32_t>(tick_base_ms_ + now_ / 1000u); }
  void Pause(uint32_t ms) override { Advance(static_cast<uint64_t>(ms) * 1000u); }
  void SpinUntilPast(uint64_t counter) override {
    if (now_ <= counter)
      now_ = counter + 1;
  }
  void SleepUntil(uint64_t counter) override { AdvanceTo(counter); }

  void Advance(uint64_t ticks) { now_ += ticks; }
  void AdvanceTo(uint64_t counter) {
    if (counter > now_)
      now_ = counter;
  }
  // Lets a test start the tick count near its 32-bit wrap.
  void SetTickBase(uint32_t ms) { tick_base_ms_ = ms; }

 private:
  uint64_t now_ = 0;
  uint32_t tick_base_ms_ = 0;
};

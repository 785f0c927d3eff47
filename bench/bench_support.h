#pragma once

// What the benchmarks share: the process's processor time, percentiles, and a serial line that
// notes when RTS moves, so that the moment RTS drops can be set against the end of the hold.
#include <algorithm>
#include <cstdint>
#include <vector>

#ifdef _WIN32
#include "comm/win32_api.h"
#else
#include <sys/resource.h>
#endif

#include "comm/clock.h"
#include "comm/serial_line.h"

// User and system time of the whole process, every thread, in seconds.
#ifdef _WIN32
inline double CpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto seconds = [](const FILETIME& t) {
    return ((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}
#else
inline double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}
#endif

// The value below which `share` (0..1) of `values` lie; 0 for none.
inline double Percentile(std::vector<double> values, double share) {
  if (values.empty())
    return 0;
  std::sort(values.begin(), values.end());
  const size_t i = std::min(values.size() - 1, static_cast<size_t>(share * values.size()));
  return values[i];
}

// Passes everything to `inner` and notes on the system clock the moment RTS went up (as the
// raise returns, where the exchange reads its start of the hold) and the moment it is asked
// to drop, and when the last write ended.
class TimedLine final : public SerialLine {
 public:
  explicit TimedLine(SerialLine& inner) : inner_(inner) {}

  bool Purge() override { return inner_.Purge(); }
  bool SetRts(bool on) override {
    if (!on)
      rts_dropped = clock_.Counter();
    const bool done = inner_.SetRts(on);
    if (on)
      rts_raised = clock_.Counter();
    return done;
  }
  bool Write(const uint8_t* data, size_t size) override {
    const bool done = inner_.Write(data, size);
    written = clock_.Counter();
    return done;
  }
  ReadResult ReadByte(uint8_t& byte) override { return inner_.ReadByte(byte); }
  bool ClearErrors() override { return inner_.ClearErrors(); }
  void WaitForInput(std::chrono::microseconds limit) override { inner_.WaitForInput(limit); }
  bool Gone() override { return inner_.Gone(); }
  int32_t IdleWaitMs() const override { return inner_.IdleWaitMs(); }

  uint64_t rts_raised = 0;
  uint64_t rts_dropped = 0;
  uint64_t written = 0;

 private:
  SerialLine& inner_;
  SystemClock& clock_ = SystemClock::Instance();
};

// The exchange's own RTS hold in nanoseconds: ten bit times a byte sent and one bit more.
inline uint64_t RtsHoldNs(int32_t rate, size_t bytes) {
  const float bit_time = 1.0f / static_cast<float>(rate);
  return static_cast<uint64_t>(static_cast<double>(bit_time) * (10 * static_cast<int>(bytes) + 1) *
                               1e9);
}

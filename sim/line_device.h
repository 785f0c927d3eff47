#pragma once

#include <cstdint>
#include <vector>

// A byte on its way to the master, with the time (microseconds on the line's clock) at which
// it has fully arrived.
struct TimedByte {
  uint64_t at_us;
  uint8_t value;
};

// Something at the far end of a serial line: a simulated corrector or sensor. It is fed the
// master's bytes as they are sent and answers with bytes stamped with their arrival times.
// The same device serves an in-process VirtualLine and a pseudo-terminal.
class LineDevice {
 public:
  virtual ~LineDevice() = default;
  // `bytes` have all arrived at the device by `now_us`. Returns what the device sends in
  // answer, in order, with non-decreasing times not before `now_us`.
  virtual std::vector<TimedByte> Receive(const std::vector<uint8_t>& bytes, uint64_t now_us) = 0;
};

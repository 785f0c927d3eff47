#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/line_device.h"
#include "sim/sim_random.h"

// The line as the simulated device sees it: its rate and how quickly it answers.
struct LineTiming {
  uint32_t rate = 19200;          // bit/s
  uint32_t turnaround_us = 3000;  // from the end of a request to the start of the reply

  // Time on the wire of `bytes` bytes: 10 bit times each (start bit, 8 data bits, stop bit),
  // rounded to the microsecond as a whole so the bytes of a long reply do not drift.
  uint64_t BytesTime(uint64_t bytes) const { return (bytes * 10'000'000u + rate / 2) / rate; }
  // Silence that ends a frame: 3.5 character times, at least 1750 us at the fast rates.
  uint64_t FrameGap() const {
    const uint64_t gap = (35'000'000u + rate / 2) / rate;
    return gap < 1750 ? 1750 : gap;
  }
};

// Whose reply a frame is: the corrector's own, or a sensor's (straight or relayed).
enum class FrameKind { kCorrector, kModbus };

enum class FaultTarget { kAll, kCorrector, kSensor };

// Misbehaviour on request, one switch per fault. All off by default.
struct FaultConfig {
  bool silence = false;          // no reply at all
  uint8_t noise_bytes = 0;       // garbage bytes sent before the reply
  bool bad_checksum = false;     // last checksum byte inverted
  uint16_t cut_after = 0;        // when not 0, only this many bytes of the reply are sent
  uint32_t slow_byte_ms = 0;     // when not 0, one gap between reply bytes is this much longer
  uint16_t slow_byte_index = 3;  // the byte of the frame that comes late
  // The reply says it is longer than it should be and is: a corrector reply gains one byte and
  // its length byte grows by one; a function 3 reply gains one register and its byte count
  // grows by two. The checksum is made over the changed frame, so only the length is wrong.
  // Replies without a length field (function 16, exceptions) are left as they are.
  bool wrong_length = false;
  // Corrector: the sensor behind the line in service never hears the relayed request.
  // Straight to a sensor: nothing answers. Not limited by `count`.
  bool line_disconnected = false;
  FaultTarget target = FaultTarget::kAll;  // which replies the faults above spoil
  uint32_t count = 0;                      // replies to spoil; 0 = every one

  bool AnyReplyFault() const {
    return silence || noise_bytes != 0 || bad_checksum || cut_after != 0 || slow_byte_ms != 0 ||
           wrong_length;
  }
};

// Turns reply frames into timed bytes: applies the faults that are switched on, then paces the
// bytes at the line rate after the turnaround. Replies never overlap on the line: a reply
// ready while the previous one is still going out starts after it.
class ReplyShaper {
 public:
  ReplyShaper(const LineTiming& timing, const FaultConfig& faults, uint64_t seed = 0x5EED)
      : timing_(timing), faults_(faults), random_(seed) {}

  std::vector<TimedByte> Send(std::vector<uint8_t> frame, FrameKind kind, uint64_t ready_us);

  LineTiming& timing() { return timing_; }
  FaultConfig& faults() { return faults_; }
  // Replies spoiled so far (counted against `FaultConfig::count`).
  uint32_t spoiled() const { return spoiled_; }

 private:
  bool Spoils(FrameKind kind) const;
  void Lengthen(std::vector<uint8_t>& frame, FrameKind kind) const;

  LineTiming timing_;
  FaultConfig faults_;
  SimRandom random_;
  uint64_t busy_until_ = 0;
  uint32_t spoiled_ = 0;
};

// Appends the frame checksum, low byte first.
void AppendChecksum(std::vector<uint8_t>& frame);

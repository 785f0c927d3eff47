#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/line_device.h"

// Answers the first request with the fuzzer's bytes, one every `spacing_us` (with a pause where
// a byte's high bits say so, to cross the byte gap now and then); later requests get silence.
class FuzzDevice final : public LineDevice {
 public:
  FuzzDevice(const uint8_t* data, size_t size, uint64_t spacing_us)
      : reply_(data, data + size), spacing_us_(spacing_us) {}

  std::vector<TimedByte> Receive(const std::vector<uint8_t>&, uint64_t now_us) override {
    std::vector<TimedByte> out;
    if (answered_)
      return out;
    answered_ = true;
    uint64_t at = now_us + 2000;
    for (size_t i = 0; i < reply_.size(); ++i) {
      at += spacing_us_;
      if (i % 64 == 63 && (reply_[i] & 0xF0) == 0xF0)
        at += 400'000;  // longer than any byte gap the targets set
      out.push_back({at, reply_[i]});
    }
    return out;
  }

 private:
  std::vector<uint8_t> reply_;
  uint64_t spacing_us_;
  bool answered_ = false;
};

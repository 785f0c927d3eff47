#pragma once

#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "sim/line_device.h"

// A device served on another thread (a pseudo-terminal server's), looked at by the test between
// exchanges through the same lock: everything passes through to `inner`, and what went in and
// came out is kept, with the line time of the last bytes received.
class SharedDevice final : public LineDevice {
 public:
  explicit SharedDevice(LineDevice& inner) : inner_(inner) {}

  std::vector<TimedByte> Receive(const std::vector<uint8_t>& bytes, uint64_t now_us) override {
    std::lock_guard<std::mutex> lock(mutex_);
    last_us_ = now_us;
    received_.insert(received_.end(), bytes.begin(), bytes.end());
    std::vector<TimedByte> reply = inner_.Receive(bytes, now_us);
    for (const TimedByte& b : reply)
      sent_.push_back(b.value);
    return reply;
  }

  // Calls `look` with the line time of the last bytes received, under the lock.
  template <typename F>
  auto Look(F look) {
    std::lock_guard<std::mutex> lock(mutex_);
    return look(last_us_);
  }

  // What the device received, and sent, since the last call.
  std::vector<uint8_t> TakeReceived() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(received_, {});
  }
  std::vector<uint8_t> TakeSent() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(sent_, {});
  }

 private:
  LineDevice& inner_;
  std::mutex mutex_;
  uint64_t last_us_ = 0;
  std::vector<uint8_t> received_;
  std::vector<uint8_t> sent_;
};

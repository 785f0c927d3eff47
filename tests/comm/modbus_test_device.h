#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "comm/checksum.h"
#include "core/suplfunc.h"
#include "sim/line_device.h"

// A sensor stand-in for the Modbus exchange tests: it records every block the master sends and
// answers each one with the next scripted reply (none left, or an empty one: silence).
class ModbusTestDevice final : public LineDevice {
 public:
  struct Reply {
    std::vector<uint8_t> bytes;
    uint64_t turnaround_us = 10'000;  // from the request to the end of the first reply byte
    uint64_t byte_us = 500;           // between the ends of two reply bytes
  };

  std::vector<TimedByte> Receive(const std::vector<uint8_t>& bytes, uint64_t now_us) override {
    received.push_back(bytes);
    std::vector<TimedByte> out;
    if (script.empty())
      return out;
    const Reply reply = script.front();
    script.pop_front();
    uint64_t at = now_us + reply.turnaround_us;
    for (uint8_t b : reply.bytes) {
      out.push_back({at, b});
      at += reply.byte_us;
    }
    if (!out.empty())
      last_reply_end = out.back().at_us;
    return out;
  }

  void Answer(std::vector<uint8_t> bytes) { script.push_back({std::move(bytes)}); }
  void Silence() { script.push_back({}); }

  std::deque<Reply> script;
  std::vector<std::vector<uint8_t>> received;
  uint64_t last_reply_end = 0;  // arrival of the last byte of the latest reply
};

// The frame followed by its checksum, low byte first.
inline std::vector<uint8_t> WithChecksum(std::vector<uint8_t> frame) {
  const uint16_t crc = FrameChecksum(frame.data(), static_cast<uint32_t>(frame.size()));
  frame.push_back(static_cast<uint8_t>(crc & 0xFFu));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  return frame;
}

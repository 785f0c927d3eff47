#pragma once

#include <cstdint>
#include <vector>

#include "comm/checksum.h"

// `frame` followed by its checksum, low byte first, as both protocols put it on the line.
inline std::vector<uint8_t> Sealed(std::vector<uint8_t> frame) {
  const uint16_t crc = FrameChecksum(frame.data(), static_cast<uint32_t>(frame.size()));
  frame.push_back(static_cast<uint8_t>(crc & 0xFFu));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  return frame;
}

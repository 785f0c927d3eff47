#include "comm/checksum.h"

#include <array>

namespace {

constexpr std::array<uint16_t, 256> MakeChecksumTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t value = static_cast<uint16_t>(i);
    for (int round = 0; round < 8; ++round) {
      value = (value & 1u) ? static_cast<uint16_t>((value >> 1) ^ 0xA001u)
                           : static_cast<uint16_t>(value >> 1);
    }
    table[i] = value;
  }
  return table;
}

constexpr std::array<uint16_t, 256> kChecksumTable = MakeChecksumTable();

}  // namespace

uint16_t FrameChecksum(const uint8_t* data, uint32_t length) {
  uint16_t crc = 0xFFFF;
  for (uint32_t i = 0; i < length; ++i) {
    crc = static_cast<uint16_t>(kChecksumTable[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8));
  }
  return crc;
}

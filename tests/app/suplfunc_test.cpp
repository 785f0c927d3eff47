#include "app/suplfunc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {
uint16_t ChecksumOf(const char* text) {
  return FrameChecksum(reinterpret_cast<const uint8_t*>(text),
                       static_cast<uint32_t>(std::strlen(text)));
}
}  // namespace

TEST(FrameChecksum, MatchesTheKnownCheckValues) {
  EXPECT_EQ(ChecksumOf("123456789"), 0x4B37);
  EXPECT_EQ(ChecksumOf("abc"), 0x5749);
  EXPECT_EQ(FrameChecksum(nullptr, 0), 0xFFFF);
}

TEST(FrameChecksum, AFrameFollowedByItsChecksumLowByteFirstChecksToZero) {
  std::vector<uint8_t> frame = {0xAA, 0x01, 0x06, 0x01};
  const uint16_t crc = FrameChecksum(frame.data(), 4);
  EXPECT_EQ(crc, 0x5CB2);  // sent as B2 5C
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  EXPECT_EQ(FrameChecksum(frame.data(), 6), 0);
  frame[2] ^= 0x01;
  EXPECT_NE(FrameChecksum(frame.data(), 6), 0);
}

TEST(FrameChecksum, ModbusReadRequestExample) {
  const uint8_t request[] = {0x01, 0x03, 0x00, 0x3B, 0x00, 0x01};
  EXPECT_EQ(FrameChecksum(request, 6), 0xC7F5);  // on the wire F5 C7
}

#include "sim/virtual_line.h"

#include <gtest/gtest.h>

namespace {
// Answers every block with the same bytes, one every 100 us after a 1 ms turnaround.
class EchoDevice final : public LineDevice {
 public:
  std::vector<TimedByte> Receive(const std::vector<uint8_t>& bytes, uint64_t now_us) override {
    std::vector<TimedByte> out;
    uint64_t at = now_us + 1000;
    for (uint8_t b : bytes)
      out.push_back({at += 100, b});
    return out;
  }
};
}  // namespace

TEST(VirtualLine, BytesArriveOnlyWhenTheirTimeHasCome) {
  VirtualClock clock;
  EchoDevice echo;
  VirtualLine line(clock, &echo);
  const uint8_t data[] = {1, 2};
  ASSERT_TRUE(line.Write(data, 2));
  uint8_t byte = 0;
  EXPECT_EQ(line.ReadByte(byte), SerialLine::ReadResult::kNothing);
  line.WaitForInput(std::chrono::microseconds(500));
  EXPECT_EQ(clock.Counter(), 500u);  // nothing came: the whole wait passed
  line.WaitForInput(std::chrono::microseconds(5000));
  EXPECT_EQ(clock.Counter(), 1100u);  // woken by the first byte
  ASSERT_EQ(line.ReadByte(byte), SerialLine::ReadResult::kByte);
  EXPECT_EQ(byte, 1);
  EXPECT_EQ(line.ReadByte(byte), SerialLine::ReadResult::kNothing);
  line.WaitForInput(std::chrono::microseconds(5000));
  ASSERT_EQ(line.ReadByte(byte), SerialLine::ReadResult::kByte);
  EXPECT_EQ(byte, 2);
}

TEST(VirtualLine, PurgeDropsReceivedBytesButNotThoseStillOnTheWire) {
  VirtualClock clock;
  VirtualLine line(clock);
  line.Inject({{10, 0xAA}, {2000, 0xBB}});
  clock.Advance(100);
  line.Purge();
  uint8_t byte = 0;
  EXPECT_EQ(line.ReadByte(byte), SerialLine::ReadResult::kNothing);
  clock.Advance(2000);
  ASSERT_EQ(line.ReadByte(byte), SerialLine::ReadResult::kByte);
  EXPECT_EQ(byte, 0xBB);
}

#include "sim/reply_shaper.h"

#include <gtest/gtest.h>

#include "tests/sim/sim_frames.h"

using namespace simtest;

namespace {

LineTiming Timing(uint32_t rate, uint32_t turnaround_us) {
  LineTiming t;
  t.rate = rate;
  t.turnaround_us = turnaround_us;
  return t;
}

// An imitation-sized corrector reply and a two-register Modbus read reply.
const std::vector<uint8_t> kCorrectorReply = Sealed({0x66, 1, 9, 0x10, 4, 0, 0});
const std::vector<uint8_t> kModbusReply = Sealed({101, 3, 4, 0x00, 0x00, 0x3F, 0x80});

}  // namespace

TEST(ReplyShaper, BytesFollowTheTurnaroundTenBitTimesApart) {
  ReplyShaper shaper(Timing(10'000, 2'000), {});
  std::vector<TimedByte> out = shaper.Send(kModbusReply, FrameKind::kModbus, 100);
  ASSERT_EQ(out.size(), kModbusReply.size());
  for (size_t i = 0; i < out.size(); ++i) {
    EXPECT_EQ(out[i].at_us, 100u + 2'000 + 1'000 * (i + 1)) << "byte " << i;
    EXPECT_EQ(out[i].value, kModbusReply[i]);
  }

  // 19200 bit/s: 520.8 us a byte, rounded as a whole so 165 bytes take 85938 us.
  ReplyShaper fast(Timing(19'200, 0), {});
  out = fast.Send(std::vector<uint8_t>(165, 0x55), FrameKind::kCorrector, 0);
  for (size_t i = 1; i < out.size(); ++i) {
    const uint64_t gap = out[i].at_us - out[i - 1].at_us;
    EXPECT_TRUE(gap == 520 || gap == 521) << gap;
  }
  EXPECT_EQ(out.back().at_us, 85'938u);
}

TEST(ReplyShaper, AReplyWaitsForThePreviousOneToLeaveTheLine) {
  ReplyShaper shaper(Timing(10'000, 1'000), {});
  std::vector<TimedByte> first = shaper.Send(kModbusReply, FrameKind::kModbus, 0);
  std::vector<TimedByte> second = shaper.Send(kModbusReply, FrameKind::kModbus, 2'000);
  EXPECT_EQ(second.front().at_us, first.back().at_us + 1'000);
}

TEST(ReplyShaper, SilenceSpoilsOnlyAsManyRepliesAsCounted) {
  FaultConfig faults;
  faults.silence = true;
  faults.count = 2;
  ReplyShaper shaper(Timing(19'200, 0), faults);
  EXPECT_TRUE(shaper.Send(kModbusReply, FrameKind::kModbus, 0).empty());
  EXPECT_TRUE(shaper.Send(kModbusReply, FrameKind::kModbus, 1).empty());
  EXPECT_EQ(shaper.Send(kModbusReply, FrameKind::kModbus, 2).size(), kModbusReply.size());
  EXPECT_EQ(shaper.spoiled(), 2u);
}

TEST(ReplyShaper, NoiseGoesBeforeAnIntactFrameAndNeverLooksLikeItsStart) {
  FaultConfig faults;
  faults.noise_bytes = 40;
  ReplyShaper shaper(Timing(19'200, 0), faults);
  std::vector<uint8_t> out = Bytes(shaper.Send(kCorrectorReply, FrameKind::kCorrector, 0));
  ASSERT_EQ(out.size(), 40 + kCorrectorReply.size());
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 40, out.end()), kCorrectorReply);
  for (size_t i = 0; i < 40; ++i) {
    EXPECT_NE(out[i], kCorrectorReply[0]);
    EXPECT_NE(out[i], kCorrectorReply[1]);
  }
}

TEST(ReplyShaper, BadChecksumAndCutFrames) {
  FaultConfig faults;
  faults.bad_checksum = true;
  ReplyShaper bad(Timing(19'200, 0), faults);
  std::vector<uint8_t> out = Bytes(bad.Send(kModbusReply, FrameKind::kModbus, 0));
  ASSERT_EQ(out.size(), kModbusReply.size());
  EXPECT_FALSE(ChecksumOk(out));
  EXPECT_TRUE(std::equal(out.begin(), out.end() - 1, kModbusReply.begin()));

  faults = {};
  faults.cut_after = 4;
  ReplyShaper cut(Timing(19'200, 0), faults);
  out = Bytes(cut.Send(kModbusReply, FrameKind::kModbus, 0));
  EXPECT_EQ(out, std::vector<uint8_t>(kModbusReply.begin(), kModbusReply.begin() + 4));
}

TEST(ReplyShaper, SlowByteOpensOneLongGap) {
  FaultConfig faults;
  faults.slow_byte_ms = 350;
  faults.slow_byte_index = 3;
  ReplyShaper shaper(Timing(10'000, 0), faults);
  std::vector<TimedByte> out = shaper.Send(kModbusReply, FrameKind::kModbus, 0);
  ASSERT_EQ(out.size(), kModbusReply.size());
  for (size_t i = 1; i < out.size(); ++i) {
    EXPECT_EQ(out[i].at_us - out[i - 1].at_us, i == 3 ? 351'000u : 1'000u) << "byte " << i;
  }
}

TEST(ReplyShaper, WrongLengthMakesAConsistentFrameOfTheWrongSize) {
  FaultConfig faults;
  faults.wrong_length = true;
  ReplyShaper shaper(Timing(19'200, 0), faults);
  std::vector<uint8_t> out = Bytes(shaper.Send(kCorrectorReply, FrameKind::kCorrector, 0));
  ASSERT_EQ(out.size(), kCorrectorReply.size() + 1);
  EXPECT_EQ(out[2], 10);
  EXPECT_TRUE(ChecksumOk(out));

  out = Bytes(shaper.Send(kModbusReply, FrameKind::kModbus, 0));
  ASSERT_EQ(out.size(), kModbusReply.size() + 2);
  EXPECT_EQ(out[2], 6);
  EXPECT_TRUE(ChecksumOk(out));

  const std::vector<uint8_t> write_echo = Sealed({101, 16, 0x01, 0xB4, 0x00, 0x04});
  EXPECT_EQ(Bytes(shaper.Send(write_echo, FrameKind::kModbus, 0)), write_echo)
      << "no length field to get wrong";
}

TEST(ReplyShaper, TargetedFaultsSpareTheOtherProtocol) {
  FaultConfig faults;
  faults.silence = true;
  faults.target = FaultTarget::kCorrector;
  ReplyShaper shaper(Timing(19'200, 0), faults);
  EXPECT_TRUE(shaper.Send(kCorrectorReply, FrameKind::kCorrector, 0).empty());
  EXPECT_EQ(shaper.Send(kModbusReply, FrameKind::kModbus, 0).size(), kModbusReply.size());
}

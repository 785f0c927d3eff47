#include "sim/request_framer.h"

#include <gtest/gtest.h>

#include "tests/sim/sim_frames.h"

using namespace simtest;

namespace {

std::vector<uint8_t> Joined(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace

TEST(RequestFramer, FindsBothProtocolsBehindPreamblesInOneBlock) {
  RequestFramer framer(true, LineTiming{});
  const std::vector<uint8_t> id = Identification(1);
  const std::vector<uint8_t> read = ReadRegisters(101, 400, 2);
  const std::vector<uint8_t> write = WriteRegisters(101, 436, {0, 0, 0, 0x3F80});
  std::vector<LineRequest> frames =
      framer.Feed(Joined({Preambled(id, 5), Preambled(read, 3), write}), 1000);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].kind, FrameKind::kCorrector);
  EXPECT_EQ(frames[0].bytes, id);
  EXPECT_EQ(frames[1].kind, FrameKind::kModbus);
  EXPECT_EQ(frames[1].bytes, read);
  EXPECT_EQ(frames[2].bytes, write);
  EXPECT_EQ(framer.pending(), 0u);
}

TEST(RequestFramer, AFrameArrivingByteByByteIsFoundOnceComplete) {
  RequestFramer framer(true, LineTiming{});
  const std::vector<uint8_t> enter = Enter(1, 1, 0);
  for (size_t i = 0; i + 1 < enter.size(); ++i) {
    EXPECT_TRUE(framer.Feed({enter[i]}, 1000 + 520 * i).empty()) << "byte " << i;
  }
  std::vector<LineRequest> frames = framer.Feed({enter.back()}, 1000 + 520 * enter.size());
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].bytes, enter);
}

TEST(RequestFramer, NoiseThatLooksLikeALongFrameDoesNotHideARealOne) {
  RequestFramer framer(true, LineTiming{});
  // 0x65 0x10 ... announces a write with 200 data bytes; a read follows at once.
  const std::vector<uint8_t> read = ReadRegisters(101, 59, 1);
  const std::vector<uint8_t> noise = {0x65, 0x10, 0x00, 0x00, 0x00, 0x01, 200, 0xBB, 0x01};
  std::vector<LineRequest> frames = framer.Feed(Joined({noise, read}), 1000);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].bytes, read);

  std::vector<uint8_t> corrupt = read;
  corrupt[3] ^= 0x40;
  EXPECT_TRUE(framer.Feed(corrupt, 2000).empty()) << "a bad checksum is no frame";
}

TEST(RequestFramer, SilenceEndsAnIncompleteFrameUnlessTheNextBytesCompleteIt) {
  LineTiming timing;
  timing.rate = 19'200;  // frame gap 1823 us
  const std::vector<uint8_t> read = ReadRegisters(101, 59, 1);
  const std::vector<uint8_t> head(read.begin(), read.begin() + 4);
  const std::vector<uint8_t> tail(read.begin() + 4, read.end());

  RequestFramer quick(true, timing);
  EXPECT_TRUE(quick.Feed(head, 10'000).empty());
  EXPECT_EQ(quick.Feed(tail, 10'000 + 1'500 + 2'083).size(), 1u);  // tail starts 1.5 ms later

  // A late tail that completes the frame is taken: over a pseudo-terminal the gap may be the
  // serving thread's, not the line's.
  RequestFramer late(true, timing);
  EXPECT_TRUE(late.Feed(head, 10'000).empty());
  EXPECT_EQ(late.Feed(tail, 10'000 + 5'000 + 2'083).size(), 1u);

  // After silence, bytes that do not complete the old frame start afresh without it.
  RequestFramer slow(true, timing);
  const std::vector<uint8_t> other = ReadRegisters(101, 400, 2);
  EXPECT_TRUE(slow.Feed(head, 10'000).empty());
  std::vector<LineRequest> frames = slow.Feed(other, 10'000 + 5'000 + 4'167);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].bytes, other);
  EXPECT_EQ(slow.pending(), 0u);
}

TEST(RequestFramer, FunctionsOfUnknownLayoutEndWhereTheChecksumChecks) {
  RequestFramer framer(false, LineTiming{});
  const std::vector<uint8_t> write_single = Sealed({101, 6, 0x01, 0xB4, 0x12, 0x34});
  std::vector<LineRequest> frames = framer.Feed(Preambled(write_single, 2), 1000);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].bytes, write_single);
}

TEST(RequestFramer, AModbusAddressThatIsACorrectorStartByteStillFrames) {
  RequestFramer framer(true, LineTiming{});
  const std::vector<uint8_t> read = ReadRegisters(0xAA, 59, 1);
  std::vector<LineRequest> frames = framer.Feed(read, 1000);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].kind, FrameKind::kModbus);
}

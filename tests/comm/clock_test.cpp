#include "comm/clock.h"

#include <gtest/gtest.h>

TEST(MsToTicks, ConvertsWithSixtyFourBitTruncatingArithmetic) {
  EXPECT_EQ(MsToTicks(5000, 1'000'000), 5'000'000u);
  EXPECT_EQ(MsToTicks(300, 3'579'545), 1'073'863u);             // 1073863.5 truncated
  EXPECT_EQ(MsToTicks(10000, 1'000'000'000), 10'000'000'000u);  // needs more than 32 bits
}

TEST(VirtualClock, MovesOnlyWhenTheCodeWaits) {
  VirtualClock clock;
  EXPECT_EQ(clock.Counter(), 0u);
  EXPECT_EQ(clock.Counter(), 0u);
  clock.Pause(100);
  EXPECT_EQ(clock.Counter(), 100'000u);
  EXPECT_EQ(clock.TickCount(), 100u);
  clock.SpinUntilPast(150'000);
  EXPECT_EQ(clock.Counter(), 150'001u);
  clock.SpinUntilPast(10);  // already past: no move
  EXPECT_EQ(clock.Counter(), 150'001u);
}

TEST(VirtualClock, TickCountWrapsLikeThePlatformCounter) {
  VirtualClock clock;
  clock.SetTickBase(0xFFFFFFF0u);
  clock.Pause(0x20);
  EXPECT_EQ(clock.TickCount(), 0x10u);
}

TEST(SystemClock, CounterIsMonotonicAndPauseTakesAtLeastItsTime) {
  SystemClock& clock = SystemClock::Instance();
  const uint64_t start = clock.Counter();
  clock.Pause(5);
  const uint64_t end = clock.Counter();
  EXPECT_GE(end - start, MsToTicks(5, clock.Frequency()));
}

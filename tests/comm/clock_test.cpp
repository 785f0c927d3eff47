#include "comm/clock.h"

#include <gtest/gtest.h>

#include <vector>

#include "comm/exchange_steps.h"
#include "tests/support/scripted_host.h"

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
  clock.SleepUntil(200'000);
  EXPECT_EQ(clock.Counter(), 200'000u);
  clock.SleepUntil(10);
  EXPECT_EQ(clock.Counter(), 200'000u);
}

TEST(WakeLateness, SettlesWhereAFifthOfTheWakesAreLaterAndStaysWithinBounds) {
  WakeLateness lateness;
  const int64_t start = lateness.margin_ns();
  for (int round = 0; round < 50; ++round) {
    for (int i = 0; i < 4; ++i)
      lateness.Record(0);
    lateness.Record(start + 5'000'000);  // a wake far later moves it no more than any late one
  }
  EXPECT_EQ(lateness.margin_ns(), start);

  for (int i = 0; i < 1000; ++i)
    lateness.Record(-5'000'000);
  EXPECT_EQ(lateness.margin_ns(), WakeLateness::kMinNs);
  for (int i = 0; i < 1000; ++i)
    lateness.Record(50'000'000);
  EXPECT_EQ(lateness.margin_ns(), WakeLateness::kMaxNs);
}

TEST(HoldUntilPast, EndsOneTickPastTheEndAndLetsTheHostInOnlyWellBeforeIt) {
  VirtualClock clock;
  ScriptedHost host;
  std::vector<uint64_t> calls;
  host.on_process = [&] { calls.push_back(clock.Counter()); };

  // A hold of 100 ms (a short request at 1200 bit/s): the host runs every 10 ms while more
  // than 15 ms are left, never later.
  HoldUntilPast(clock, 100'000, &host);
  EXPECT_EQ(clock.Counter(), 100'001u);
  EXPECT_EQ(calls, (std::vector<uint64_t>{10'000, 20'000, 30'000, 40'000, 50'000, 60'000, 70'000,
                                          80'000, 90'000}));

  // A hold of a few milliseconds, or one without a host, is one sleep to the tick.
  calls.clear();
  HoldUntilPast(clock, 106'000, &host);
  EXPECT_EQ(clock.Counter(), 106'001u);
  HoldUntilPast(clock, 500'000, nullptr);
  EXPECT_EQ(clock.Counter(), 500'001u);
  EXPECT_TRUE(calls.empty());
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

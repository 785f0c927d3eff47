#include "comm/line_tap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "comm/calcbox.h"
#include "comm/line_tap_format.h"
#include "comm/modbusbox.h"
#include "sim/sim_corrector.h"
#include "sim/virtual_line.h"
#include "tests/support/scripted_device.h"
#include "tests/support/scripted_host.h"
#include "tests/support/sealed_frame.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<TapFrame> Settled(const LineTap& tap, uint64_t from = 0) {
  std::vector<TapFrame> frames;
  tap.ForEachSettled(from, [&](const TapFrame& f) { frames.push_back(f); });
  return frames;
}

bool Contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
         haystack.end();
}

// The corrector and its sensors in-process, its codes known, watched by a tap.
class TapThroughCorrector : public ::testing::Test {
 protected:
  TapThroughCorrector() {
    std::copy(kPassword.begin(), kPassword.end(), password.begin());
    std::copy(kUser.begin(), kUser.end(), user.begin());
    CorrectorConfig config;
    config.write_password = password;
    config.user_code = user;
    config.service_delay_ms = 50;
    corrector = std::make_unique<SimCorrector>(config, timing, faults);
    line = std::make_unique<TappedLine>(std::make_unique<VirtualLine>(clock, corrector.get()), tap);
    corr.port_handle = line.get();
    corr.clock = &clock;
    corr.ui = &ui;
    corr.tap = &tap;
    corr.write_password = password;
    corr.user_code = user;
    sensor.port_handle = line.get();
    sensor.clock = &clock;
    sensor.ui = &ui;
    sensor.tap = &tap;
  }

  const std::string kPassword = "Sekret-Pa55w";  // twelve bytes, as the corrector takes it
  const std::string kUser = "U7q9";
  std::array<uint8_t, 12> password{};
  std::array<uint8_t, 4> user{};
  VirtualClock clock;
  LineTap tap{clock};
  LineTiming timing;
  FaultConfig faults;
  std::unique_ptr<SimCorrector> corrector;
  std::unique_ptr<TappedLine> line;
  ScriptedHost ui;
  calcbox corr{1};
  modbusbox sensor{101};
};

TEST_F(TapThroughCorrector, RecordsDecodedFramesAndNeverTheCodes) {
  ASSERT_TRUE(corr.ReadIdentification());
  ASSERT_TRUE(corr.ReadImitation(1));
  ASSERT_TRUE(corr.EnterService(1, 0, 0));
  ASSERT_TRUE(sensor.ReadRegisters(400, 2));
  ASSERT_TRUE(sensor.ReadRegisters(436, 4));

  const std::vector<TapFrame> frames = Settled(tap);
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.size(), tap.next_seq());
  std::string all_text;
  for (const TapFrame& f : frames) {
    EXPECT_FALSE(Contains(f.bytes, Bytes(password.begin(), password.end())));
    EXPECT_FALSE(Contains(f.bytes, Bytes(user.begin(), user.end())));
    EXPECT_NE(f.outcome, TapOutcome::kPending);
    all_text += FormatTapLine(f) + "\n" + FormatTapCsv(f) + "\n";
  }
  EXPECT_EQ(all_text.find(kPassword), std::string::npos);
  EXPECT_EQ(all_text.find(kUser), std::string::npos);
  // Each password request shows sixteen masked bytes where the codes went.
  const auto sent_bb = std::find_if(frames.begin(), frames.end(), [](const TapFrame& f) {
    return f.direction == TapDirection::kSent && f.function == calcbox::kFunctionReadImitation;
  });
  ASSERT_NE(sent_bb, frames.end());
  EXPECT_EQ(sent_bb->mask_to - sent_bb->mask_from, 16);
  EXPECT_NE(TapHex(*sent_bb).find("** ** ** ** ** ** ** ** ** ** ** ** ** ** ** **"),
            std::string::npos);
  EXPECT_NE(DescribeTapFrame(*sent_bb).find("старт BB, адреса 1, функція 8"), std::string::npos);

  EXPECT_NE(all_text.find("версія ПО 37, плата 26, пароль констант не потрібен"),
            std::string::npos);
  EXPECT_NE(all_text.find("стан лінії 3 (обслуговування)"), std::string::npos);
  EXPECT_NE(all_text.find("функція 3, регістри 400-401 (2)"), std::string::npos);
  EXPECT_NE(all_text.find("400-401 значення = "), std::string::npos);
  EXPECT_NE(all_text.find("436-437 зміщення = 0; 438-439 нахил = 1"), std::string::npos);

  const LinkStats& c = tap.stats(TapProtocol::kCorrector);
  EXPECT_EQ(c.requests, c.answered);
  EXPECT_EQ(c.Failures(), 0u);
  const LinkStats& m = tap.stats(TapProtocol::kModbus);
  EXPECT_EQ(m.requests, 2u);
  EXPECT_EQ(m.answered, 2u);
  EXPECT_GT(m.round_trip_min_us, 0u);
  EXPECT_LE(m.round_trip_min_us, m.round_trip_max_us);
}

// A Modbus sensor stand-in that answers from a script.
class TapModbus : public ::testing::Test {
 protected:
  TapModbus() {
    box.port_handle = &line;
    box.clock = &clock;
    box.ui = &ui;
    box.tap = &tap;
    box.rts_switching = false;  // the request ends as it is written
  }

  static Bytes ValueReply() { return Sealed({1, 3, 4, 0x00, 0x00, 0x3F, 0x80}); }

  VirtualClock clock;
  LineTap tap{clock};
  ScriptedDevice device{{10'000, 500}};
  TappedLine line{std::make_unique<VirtualLine>(clock, &device), tap};
  ScriptedHost ui;
  modbusbox box{1};
};

TEST_F(TapModbus, CountsEachKindOfFailureAndTheRetries) {
  box.tries = 3;
  device.Then(ScriptedDevice::Silence());
  device.Then(ScriptedDevice::Reply([] {
    Bytes b = ValueReply();
    b.back() ^= 0xFF;
    return b;
  }()));
  device.Then(ScriptedDevice::Reply(ValueReply()));
  ASSERT_TRUE(box.ReadRegisters(400, 2));
  EXPECT_FLOAT_EQ(RegistersToFloat(box.values[0], box.values[1]), 1.0f);

  box.tries = 1;
  device.Then(ScriptedDevice::Reply(Sealed({1, 0x83, 2})));
  EXPECT_FALSE(box.ReadRegisters(400, 2));

  const LinkStats& s = tap.stats(TapProtocol::kModbus);
  EXPECT_EQ(s.requests, 4u);
  EXPECT_EQ(s.retries, 2u);
  EXPECT_EQ(s.timeouts, 1u);
  EXPECT_EQ(s.checksum_errors, 1u);
  EXPECT_EQ(s.exceptions, 1u);
  EXPECT_EQ(s.answered, 2u);
  EXPECT_EQ(s.other_errors, 0u);
  EXPECT_EQ(s.last_error, box.ErrorText());
  // From the write of the request to the last reply byte: five of the exception, nine of the
  // value.
  EXPECT_EQ(s.round_trip_min_us, 10'000u + 4 * 500u);
  EXPECT_EQ(s.round_trip_max_us, 10'000u + 8 * 500u);

  std::vector<std::string> outcomes;
  for (const TapFrame& f : Settled(tap))
    if (f.direction == TapDirection::kOutcome)
      outcomes.push_back(DescribeTapFrame(f));
  ASSERT_EQ(outcomes.size(), 4u);
  EXPECT_NE(outcomes[0].find("тайм-аут, код 21"), std::string::npos);
  EXPECT_NE(outcomes[1].find("повтор, КС, код 27"), std::string::npos);
  EXPECT_NE(outcomes[2].find("повтор, відповідь за 14.0 мс"), std::string::npos);
  EXPECT_NE(outcomes[3].find("виняток"), std::string::npos);
  const std::vector<TapFrame> frames = Settled(tap);
  const auto exception = std::find_if(frames.begin(), frames.end(), [](const TapFrame& f) {
    return f.direction == TapDirection::kReceived && f.outcome == TapOutcome::kException;
  });
  ASSERT_NE(exception, frames.end());
  EXPECT_NE(DescribeTapFrame(*exception).find("виняток 2: Команда 3. Адреса даних"),
            std::string::npos);
}

TEST_F(TapModbus, PortGoneEndsTheRequestAtOnceWithoutRetries) {
  auto& inner = static_cast<VirtualLine&>(line.inner());
  box.tries = 3;
  box.first_byte_timeout = 2000;
  device.Then(ScriptedDevice::Silence());
  inner.set_gone_at(clock.Counter() + 300'000);
  EXPECT_FALSE(box.ReadRegisters(400, 2));
  EXPECT_EQ(box.error_code, modbusbox::kErrorLinkLost);
  EXPECT_EQ(box.ErrorText(), "Команда 3. Зв'язок втрачено: порт зник (адаптер від'єднано?)");
  EXPECT_LT(clock.Counter(), 302'000u);  // at the next pass of the reply loop, not at 2 s
  const LinkStats& s = tap.stats(TapProtocol::kModbus);
  EXPECT_EQ(s.requests, 1u);
  EXPECT_EQ(s.other_errors, 1u);

  // The next request finds the port gone when it writes.
  EXPECT_FALSE(box.ReadRegisters(400, 2));
  EXPECT_EQ(box.error_code, modbusbox::kErrorLinkLost);
}

TEST_F(TapModbus, RingKeepsTheNewestFramesAndShowsNothingUnfinished) {
  LineTap small(clock, 10);
  TappedLine small_line(std::make_unique<VirtualLine>(clock, &device), small);
  box.port_handle = &small_line;
  box.tap = &small;
  for (int i = 0; i < 7; ++i) {
    device.Then(ScriptedDevice::Reply(ValueReply()));
    ASSERT_TRUE(box.ReadRegisters(400, 2));
  }
  const std::vector<TapFrame> frames = Settled(small);
  ASSERT_EQ(frames.size(), 10u);  // seven transactions of three frames, the last ten kept
  EXPECT_EQ(frames.front().seq, 11u);
  EXPECT_EQ(frames.back().seq, 20u);
  EXPECT_EQ(Settled(small, 18).size(), 3u);

  // A transaction under way is not shown until it ends.
  small.BeginTransaction(TapProtocol::kModbus, 3, 400, 2, 0, 0, 0, false);
  small.RecordWrite(ValueReply().data(), 4);
  EXPECT_EQ(Settled(small, 21).size(), 0u);
  small.EndTransaction(TapOutcome::kAborted, 28, "stop");
  EXPECT_EQ(Settled(small, 21).size(), 2u);
  EXPECT_EQ(small.stats(TapProtocol::kModbus).other_errors, 1u);
}

TEST(LinkStatsTest, PercentileIsTheNearestRankOfTheLatestSamples) {
  LinkStats s;
  for (uint32_t ms = 100; ms >= 1; --ms)
    s.recent_round_trips.push_back(ms * 1000);
  EXPECT_DOUBLE_EQ(s.P95Ms(), 95.0);
  s.recent_round_trips = {7000};
  EXPECT_DOUBLE_EQ(s.P95Ms(), 7.0);
}

}  // namespace

// The monitor shows a register float as the shortest decimal that reads back to its bits, so two
// calibrations one bit apart never look alike.
TEST(TapFloatTextTest, ShortestDecimalThatReadsBackToTheSameBits) {
  EXPECT_EQ(TapFloatText(RegistersToFloat(0x0001, 0x3F80)), "1.0000001");
  EXPECT_EQ(TapFloatText(1.0f), "1");
  EXPECT_EQ(TapFloatText(101.325f), "101.325");
  EXPECT_EQ(TapFloatText(0.0009f), "0.0009");
  EXPECT_EQ(TapFloatText(-0.0f), "-0");
  EXPECT_EQ(TapFloatText(1e-7f), "1e-07");
  EXPECT_EQ(TapFloatText(RegistersToFloat(0x0000, 0x7FC0)), "nan");

  // A calibration read whose slope is one bit above 1.
  TapFrame reply;
  reply.direction = TapDirection::kReceived;
  reply.protocol = TapProtocol::kModbus;
  reply.function = 3;
  reply.first = 436;
  reply.count = 4;
  reply.bytes = Sealed({101, 3, 8, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x3F, 0x80});
  EXPECT_NE(DescribeTapFrame(reply).find("436-437 зміщення = 0; 438-439 нахил = 1.0000001"),
            std::string::npos)
      << DescribeTapFrame(reply);
}

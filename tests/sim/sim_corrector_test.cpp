#include "sim/sim_corrector.h"

#include <gtest/gtest.h>

#include <memory>

#include "sim/virtual_line.h"
#include "tests/sim/sim_frames.h"

using namespace simtest;

namespace {

constexpr uint64_t kSecond = 1'000'000;

// The function byte of a reply, or -1 when nothing came.
int Fn(const std::vector<uint8_t>& reply) {
  return reply.size() > 3 ? reply[3] : -1;
}

// The state byte of an imitation reply, or -1 when the reply is something else.
int State(const std::vector<uint8_t>& reply) {
  return reply.size() == 26 ? reply[5] : -1;
}

class CorrectorTest : public ::testing::Test {
 protected:
  CorrectorTest() { Remake(config_); }

  // Sends `request` at `at` and returns the reply bytes (their times are checked elsewhere).
  std::vector<uint8_t> Ask(const std::vector<uint8_t>& request, uint64_t at = 0) {
    return Bytes(device_->Receive(Preambled(request, 3), at));
  }

  void Remake(const CorrectorConfig& config) {
    device_ = std::make_unique<SimCorrector>(config, timing_, faults_);
  }

  // Puts line 1 into service for `channel` and lets the delay pass.
  void InService(int line, uint8_t channel, uint64_t at = 0) {
    ASSERT_EQ(Fn(Ask(Enter(1, static_cast<uint8_t>(line), channel), at)), 0x90);
    ASSERT_EQ(device_->mode(line, at + kSecond), SimCorrector::Mode::kInService);
  }

  CorrectorConfig config_;
  LineTiming timing_;
  FaultConfig faults_;
  std::unique_ptr<SimCorrector> device_;
};

void ExpectError(const std::vector<uint8_t>& reply, uint8_t function, uint8_t code,
                 uint8_t pipeline) {
  ASSERT_EQ(reply.size(), 9u);
  EXPECT_TRUE(ChecksumOk(reply));
  EXPECT_EQ(reply[0], 0x66);
  EXPECT_EQ(reply[2], 9);
  EXPECT_EQ(reply[3], function) << "an error reply keeps bit 7 clear";
  EXPECT_EQ(reply[4], code);
  EXPECT_EQ(reply[5], pipeline);
}

}  // namespace

TEST_F(CorrectorTest, IdentificationCarriesPlateVersionAndPasswordFlagAtTheirBytes) {
  std::vector<uint8_t> reply = Ask(Identification(1));
  ASSERT_EQ(reply.size(), 165u);
  EXPECT_TRUE(ChecksumOk(reply));
  EXPECT_EQ(reply[0], 0x55);
  EXPECT_EQ(reply[1], 1);
  EXPECT_EQ(reply[2], 165);
  EXPECT_EQ(reply[3], 1);
  EXPECT_EQ(reply[63], 37);
  EXPECT_EQ(reply[69], 26);
  EXPECT_EQ(reply[162] & 0x80, 0);

  config_.password_demand = true;
  config_.plate = 29;
  config_.sw_version = 36;
  Remake(config_);
  reply = Ask(Identification(1));
  EXPECT_EQ(reply[162] & 0x80, 0x80);
  EXPECT_EQ(reply[69], 29);
  EXPECT_EQ(reply[63], 36);
}

TEST_F(CorrectorTest, AnswersSearchAddressWithItsOwnAndIgnoresOthers) {
  config_.address = 7;
  Remake(config_);
  std::vector<uint8_t> reply = Ask(Identification(255));
  ASSERT_EQ(reply.size(), 165u);
  EXPECT_EQ(reply[1], 7);
  EXPECT_TRUE(ChecksumOk(reply));
  EXPECT_TRUE(Ask(Identification(1), kSecond).empty());
  EXPECT_EQ(Ask(Imitation(255, 1), 2 * kSecond)[1], 7);
}

TEST_F(CorrectorTest, RequestWithBadChecksumOrAmidNoiseIsHandledLikeAWire) {
  std::vector<uint8_t> bad = Identification(1);
  bad.back() ^= 0x01;
  EXPECT_TRUE(Ask(bad).empty());
  // Noise before the frame, and the frame split across two deliveries.
  std::vector<uint8_t> noisy = {0x00, 0xAA, 0x13, 0x55};
  std::vector<uint8_t> frame = Identification(1);
  noisy.insert(noisy.end(), frame.begin(), frame.begin() + 3);
  EXPECT_TRUE(device_->Receive(noisy, kSecond).empty());
  std::vector<uint8_t> rest(frame.begin() + 3, frame.end());
  EXPECT_EQ(Bytes(device_->Receive(rest, kSecond + 100)).size(), 165u);
}

TEST_F(CorrectorTest, Function5AndRefusal) {
  std::vector<uint8_t> reply = Ask(Function5(1, 0x42));
  ASSERT_EQ(reply.size(), 19u);
  EXPECT_TRUE(ChecksumOk(reply));
  EXPECT_EQ(reply[0], 0x55);
  EXPECT_EQ(reply[2], 19);
  EXPECT_EQ(reply[3], 5);

  // An 0xAA function the corrector does not know is refused.
  reply = Ask(Sealed({0xAA, 1, 6, 2}), kSecond);
  ASSERT_EQ(reply.size(), 6u);
  EXPECT_EQ(reply[3], 0xFF);

  device_->config().refuse = true;
  reply = Ask(Identification(1), 2 * kSecond);
  ASSERT_EQ(reply.size(), 6u);
  EXPECT_TRUE(ChecksumOk(reply));
  EXPECT_EQ(reply[0], 0x55);
  EXPECT_EQ(reply[3], 0xFF);
}

TEST_F(CorrectorTest, ImitationReportsLineStateWithExtraBitsWhenAsked) {
  std::vector<uint8_t> reply = Ask(Imitation(1, 2));
  ASSERT_EQ(reply.size(), 26u);
  EXPECT_TRUE(ChecksumOk(reply));
  EXPECT_EQ(reply[0], 0x66);
  EXPECT_EQ(reply[2], 26);
  EXPECT_EQ(reply[3], 0x88);
  EXPECT_EQ(reply[5], 0);

  device_->config().state_extra_bits = 0x08;
  InService(2, 0, kSecond);
  EXPECT_EQ(State(Ask(Imitation(1, 2), 3 * kSecond)), 0x0B);
  EXPECT_EQ(State(Ask(Imitation(1, 1), 4 * kSecond)), 0x08);
}

TEST_F(CorrectorTest, ServiceModeTakesEffectAfterTheDelayAndIsLeftTheSameWay) {
  std::vector<uint8_t> reply = Ask(Enter(1, 1, 1), 0);
  ASSERT_EQ(reply.size(), 6u);
  EXPECT_TRUE(ChecksumOk(reply));
  EXPECT_EQ(reply[0], 0x66);
  EXPECT_EQ(reply[2], 6);
  EXPECT_EQ(reply[3], 0x90);

  EXPECT_EQ(State(Ask(Imitation(1, 1), 999'000)), 1);    // still on its way
  EXPECT_EQ(State(Ask(Imitation(1, 1), 1'000'000)), 3);  // the delay counts from the request
  EXPECT_EQ(device_->channel(1), 1);

  reply = Ask(Leave(1, 1), 2 * kSecond);
  ASSERT_EQ(reply.size(), 6u);
  EXPECT_EQ(reply[3], 0x91);
  EXPECT_EQ(State(Ask(Imitation(1, 1), 2 * kSecond + 500'000)), 2);
  EXPECT_EQ(State(Ask(Imitation(1, 1), 3 * kSecond)), 0);
}

TEST_F(CorrectorTest, RefusesModeChangesThatMakeNoSense) {
  using namespace corrector_error;
  ExpectError(Ask(Enter(1, 4, 0)), 16, kBadLine, 3);
  ExpectError(Ask(Imitation(1, 0), 1), 8, kBadLine, 0);
  ExpectError(Ask(Enter(1, 2, 2), 2), 16, kNotInService, 1);  // no such channel
  ExpectError(Ask(Leave(1, 2), 3), 17, kNotInService, 1);

  ASSERT_EQ(Fn(Ask(Enter(1, 2, 0), 10)), 0x90);
  ExpectError(Ask(Enter(1, 3, 0), 20), 16, kEntering, 2);
  ExpectError(Ask(Leave(1, 2), 30), 17, kEntering, 1);
  ExpectError(Ask(Enter(1, 2, 0), kSecond + 10), 16, kLineInService, 1);
  ExpectError(Ask(Enter(1, 1, 1), kSecond + 20), 16, kOtherInService, 0);

  ASSERT_EQ(Fn(Ask(Leave(1, 2), 2 * kSecond)), 0x91);
  ExpectError(Ask(Enter(1, 1, 0), 2 * kSecond + 10), 16, kLeaving, 0);
  ExpectError(Ask(Leave(1, 2), 2 * kSecond + 20), 17, kLeaving, 1);
  EXPECT_EQ(Fn(Ask(Enter(1, 1, 0), 3 * kSecond)), 0x90);

  ExpectError(Ask(ShortBB(1, 9, 1), 4 * kSecond), 9, kUnknownFunction, 0);
}

TEST_F(CorrectorTest, ChecksCodesWhenConfiguredAndAcceptsAnyOtherwise) {
  using namespace corrector_error;
  Codes typed;
  typed.write_password = Padded<12>("secret");
  typed.user_code = Padded<4>("42");
  EXPECT_EQ(Fn(Ask(Imitation(1, 1, typed))), 0x88);  // nothing configured: anything goes

  config_.write_password = Padded<12>("secret");
  config_.user_code = Padded<4>("42");
  Remake(config_);
  EXPECT_EQ(Fn(Ask(Imitation(1, 1, typed))), 0x88);
  Codes wrong = typed;
  wrong.write_password = Padded<12>("Secret");
  ExpectError(Ask(Imitation(1, 1, wrong), 1), 8, kBadPassword, 0);
  ExpectError(Ask(Enter(1, 2, 0, wrong), 2), 16, kBadPassword, 1);
  wrong = typed;
  wrong.user_code = Padded<4>("43");
  ExpectError(Ask(Leave(1, 3, wrong), 3), 17, kBadUserCode, 2);
  // The password is checked before the line number.
  wrong.write_password = Padded<12>("x");
  ExpectError(Ask(Enter(1, 9, 0, wrong), 4), 16, kBadPassword, 8);
}

TEST_F(CorrectorTest, PasswordDemandWantsTheLongRequestWithTheRightConstantsPassword) {
  using namespace corrector_error;
  config_.password_demand = true;
  config_.const_password = Padded<16>("konst");
  Remake(config_);
  Codes typed;
  typed.const_password = Padded<16>("konst");
  ExpectError(Ask(Enter(1, 1, 0, typed, false)), 16, kBadLength, 0);
  Codes wrong;
  wrong.const_password = Padded<16>("KONST");
  std::vector<uint8_t> reply = Ask(Enter(1, 1, 0, wrong, true), 1);
  ExpectError(reply, 16, kBadPassword, 0);
  EXPECT_EQ(reply[6], 1) << "detail 1 tells the constants password from the write password";
  EXPECT_EQ(Fn(Ask(Enter(1, 1, 0, typed, true), 2)), 0x90);

  // Without the demand the long request is the wrong one.
  device_->config().password_demand = false;
  ExpectError(Ask(Enter(1, 2, 0, typed, true), 3), 16, kBadLength, 0);
}

TEST_F(CorrectorTest, RelaysModbusOnlyToTheChosenSensorWhileInService) {
  const std::vector<uint8_t> unit_p = ReadRegisters(101, 59, 1);
  const std::vector<uint8_t> unit_t = ReadRegisters(102, 59, 1);
  EXPECT_TRUE(Ask(unit_p).empty()) << "no line in service: silence";

  ASSERT_EQ(Fn(Ask(Enter(1, 2, 0), kSecond)), 0x90);
  EXPECT_TRUE(Ask(unit_p, kSecond + 500'000).empty()) << "not yet in service";
  std::vector<uint8_t> reply = Ask(unit_p, 2 * kSecond);
  ASSERT_EQ(reply.size(), 7u);
  EXPECT_TRUE(ChecksumOk(reply));
  EXPECT_EQ(reply[0], 101);
  EXPECT_EQ(Word(reply, 3), 12);
  EXPECT_TRUE(Ask(unit_t, 3 * kSecond).empty()) << "the temperature channel is not chosen";

  // A calibration written through line 2 stays with line 2's pressure sensor.
  ASSERT_EQ(Ask(WriteRegisters(101, 436, {0x0000, 0x3F80}), 4 * kSecond).size(), 8u);
  EXPECT_EQ(device_->sensor(2, 0).offset(), 1.0f);
  EXPECT_EQ(device_->sensor(1, 0).offset(), 0.0f);

  ASSERT_EQ(Fn(Ask(Leave(1, 2), 5 * kSecond)), 0x91);
  EXPECT_TRUE(Ask(unit_p, 5 * kSecond + 100'000).empty()) << "leaving: no more relaying";

  InService(3, 1, 7 * kSecond);
  reply = Ask(unit_t, 8 * kSecond);
  ASSERT_EQ(reply.size(), 7u);
  EXPECT_EQ(Word(reply, 3), 32);
  EXPECT_TRUE(Ask(unit_p, 9 * kSecond).empty());
}

TEST_F(CorrectorTest, DisconnectedOrUnwiredLineLeavesTheSensorSilent) {
  config_.wired = {true, false, true};
  Remake(config_);
  InService(2, 0);
  EXPECT_TRUE(Ask(ReadRegisters(101, 59, 1), 2 * kSecond).empty());
  ASSERT_EQ(Fn(Ask(Leave(1, 2), 3 * kSecond)), 0x91);

  InService(1, 0, 5 * kSecond);
  device_->faults().line_disconnected = true;
  EXPECT_TRUE(Ask(ReadRegisters(101, 59, 1), 7 * kSecond).empty());
  EXPECT_EQ(Ask(Imitation(1, 1), 7 * kSecond + 1000).size(), 26u) << "the corrector still talks";
  device_->faults().line_disconnected = false;
  EXPECT_EQ(Ask(ReadRegisters(101, 59, 1), 8 * kSecond).size(), 7u);
}

TEST_F(CorrectorTest, FaultsAimedAtTheSensorSpareTheCorrector) {
  device_->faults().bad_checksum = true;
  device_->faults().target = FaultTarget::kSensor;
  EXPECT_TRUE(ChecksumOk(Ask(Identification(1))));
  InService(1, 0, kSecond);
  EXPECT_FALSE(ChecksumOk(Ask(ReadRegisters(101, 59, 1), 3 * kSecond)));
}

TEST(CorrectorOnVirtualLine, AnswersTheMasterOnTheVirtualClock) {
  VirtualClock clock;
  LineTiming timing;
  timing.rate = 10'000;  // 1 ms a byte
  timing.turnaround_us = 2'000;
  SimCorrector corrector({}, timing, {});
  VirtualLine line(clock, &corrector);
  clock.Advance(5'000);
  const std::vector<uint8_t> request = Preambled(Identification(1), 3);
  ASSERT_TRUE(line.Write(request.data(), request.size()));

  std::vector<uint8_t> reply;
  uint64_t first_at = 0;
  uint8_t byte = 0;
  while (reply.size() < 165) {
    line.WaitForInput(std::chrono::milliseconds(50));
    if (line.ReadByte(byte) != SerialLine::ReadResult::kByte)
      break;
    if (reply.empty())
      first_at = clock.Counter();
    reply.push_back(byte);
  }
  ASSERT_EQ(reply.size(), 165u);
  EXPECT_TRUE(ChecksumOk(reply));
  EXPECT_EQ(first_at, 5'000u + 2'000 + 1'000);
  EXPECT_EQ(clock.Counter(), 5'000u + 2'000 + 165'000);
}

#include "sim/sim_sensor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/sim/sim_frames.h"

using namespace simtest;

namespace {

class SensorTest : public ::testing::Test {
 protected:
  std::vector<uint8_t> Ask(const std::vector<uint8_t>& request) {
    now_ += 1'000'000;
    return Bytes(device_.Receive(Preambled(request, 3), now_));
  }

  // Register values of a function 3 reply.
  static std::vector<uint16_t> Registers(const std::vector<uint8_t>& reply) {
    std::vector<uint16_t> words;
    for (size_t at = 3; at + 3 < reply.size(); at += 2)
      words.push_back(Word(reply, at));
    return words;
  }

  static void ExpectException(const std::vector<uint8_t>& reply, uint8_t function, uint8_t code) {
    SCOPED_TRACE(testing::Message() << "function " << int(function) << " code " << int(code));
    ASSERT_EQ(reply.size(), 5u);
    EXPECT_TRUE(ChecksumOk(reply));
    EXPECT_EQ(reply[1], function | 0x80);
    EXPECT_EQ(reply[2], code);
  }

  SensorConfig config_ = SensorConfig::Pressure();
  SimDirectSensor device_{config_, LineTiming{}, FaultConfig{}};
  uint64_t now_ = 0;
};

}  // namespace

TEST(SensorFloat, LowerRegisterHoldsTheLowOrderWord) {
  uint16_t low = 1, high = 1;
  FloatToWords(1.0f, low, high);
  EXPECT_EQ(low, 0x0000);
  EXPECT_EQ(high, 0x3F80);
  FloatToWords(-2.5f, low, high);  // 0xC0200000
  EXPECT_EQ(low, 0x0000);
  EXPECT_EQ(high, 0xC020);
  EXPECT_EQ(WordsToFloat(0x0000, 0x3F80), 1.0f);
  EXPECT_EQ(WordsToFloat(0xCCCD, 0x3DCC), 0.1f);  // 0x3DCCCCCD
}

TEST_F(SensorTest, ValueAndCalibrationTravelWordSwappedHighByteFirst) {
  device_.sensor().config().value = 1.0;
  std::vector<uint8_t> reply = Ask(ReadRegisters(101, 400, 2));
  ASSERT_EQ(reply.size(), 9u);
  EXPECT_TRUE(ChecksumOk(reply));
  EXPECT_EQ(reply[0], 101);
  EXPECT_EQ(reply[1], 3);
  EXPECT_EQ(reply[2], 4);
  EXPECT_EQ(std::vector<uint8_t>(reply.begin() + 3, reply.end() - 2),
            (std::vector<uint8_t>{0x00, 0x00, 0x3F, 0x80}));

  reply = Ask(ReadRegisters(101, 436, 4));
  ASSERT_EQ(reply.size(), 13u);
  EXPECT_EQ(reply[2], 8);
  EXPECT_EQ(std::vector<uint8_t>(reply.begin() + 3, reply.end() - 2),
            (std::vector<uint8_t>{0, 0, 0, 0, 0x00, 0x00, 0x3F, 0x80}))
      << "factory calibration: offset 0, slope 1";
}

TEST_F(SensorTest, UnitCodeTellsTheKind) {
  EXPECT_EQ(Registers(Ask(ReadRegisters(101, 59, 1))), std::vector<uint16_t>{12});
  SimDirectSensor temperature(SensorConfig::Temperature(), LineTiming{}, FaultConfig{});
  std::vector<uint8_t> reply = Bytes(temperature.Receive(ReadRegisters(102, 59, 1), 0));
  EXPECT_EQ(Registers(reply), std::vector<uint16_t>{32});
  EXPECT_TRUE(Ask(ReadRegisters(102, 59, 1)).empty()) << "another sensor's address";
}

TEST_F(SensorTest, CalibrationWrittenIsReadBackAndApplied) {
  uint16_t w[4];
  FloatToWords(0.5f, w[0], w[1]);
  FloatToWords(2.0f, w[2], w[3]);
  std::vector<uint8_t> reply = Ask(WriteRegisters(101, 436, {w[0], w[1], w[2], w[3]}));
  ASSERT_EQ(reply.size(), 8u);
  EXPECT_TRUE(ChecksumOk(reply));
  EXPECT_EQ(reply[1], 16);
  EXPECT_EQ(Word(reply, 2), 436);
  EXPECT_EQ(Word(reply, 4), 4);
  EXPECT_EQ(Registers(Ask(ReadRegisters(101, 436, 4))),
            (std::vector<uint16_t>{w[0], w[1], w[2], w[3]}));

  device_.sensor().config().value = 100.0;
  std::vector<uint16_t> value = Registers(Ask(ReadRegisters(101, 400, 2)));
  ASSERT_EQ(value.size(), 2u);
  EXPECT_EQ(WordsToFloat(value[0], value[1]), 200.5f) << "raw * slope + offset";

  // The slope alone, as a sub-range of whole floats.
  FloatToWords(1.0f, w[2], w[3]);
  ASSERT_EQ(Ask(WriteRegisters(101, 438, {w[2], w[3]})).size(), 8u);
  EXPECT_EQ(device_.sensor().slope(), 1.0f);
  EXPECT_EQ(device_.sensor().offset(), 0.5f);
}

TEST_F(SensorTest, ExceptionsForWhatTheSensorCannotDo) {
  ExpectException(Ask(ReadRegisters(101, 60, 1)), 3, kExIllegalAddress);
  ExpectException(Ask(ReadRegisters(101, 399, 2)), 3, kExIllegalAddress);
  ExpectException(Ask(ReadRegisters(101, 436, 5)), 3, kExIllegalAddress);
  ExpectException(Ask(ReadRegisters(101, 400, 0)), 3, kExIllegalValue);
  ExpectException(Ask(ReadRegisters(101, 400, 126)), 3, kExIllegalValue);
  ExpectException(Ask(WriteRegisters(101, 400, {0, 0})), 16, kExIllegalAddress);
  ExpectException(Ask(WriteRegisters(101, 437, {0, 0})), 16, kExIllegalValue);  // half floats
  ExpectException(Ask(WriteRegisters(101, 436, {0, 0, 0})), 16, kExIllegalValue);
  ExpectException(Ask(Sealed({101, 6, 0x01, 0xB4, 0x00, 0x01})), 6, kExIllegalFunction);

  // Two registers announced with a byte count of 3 (and 3 data bytes, so it frames).
  ExpectException(Ask(Sealed({101, 16, 0x01, 0xB4, 0x00, 0x02, 3, 0, 0, 0})), 16, kExIllegalValue);

  EXPECT_EQ(device_.sensor().offset(), 0.0f);
  EXPECT_EQ(device_.sensor().slope(), 1.0f);
}

TEST_F(SensorTest, RefusesCalibrationThatWouldMakeItMeasureNonsense) {
  uint16_t nan_low, nan_high, zero_low, zero_high;
  FloatToWords(std::numeric_limits<float>::quiet_NaN(), nan_low, nan_high);
  FloatToWords(0.0f, zero_low, zero_high);
  ExpectException(Ask(WriteRegisters(101, 436, {nan_low, nan_high})), 16, kExIllegalValue);
  ExpectException(Ask(WriteRegisters(101, 438, {zero_low, zero_high})), 16, kExIllegalValue);
  EXPECT_EQ(device_.sensor().slope(), 1.0f);
}

TEST_F(SensorTest, WriteProtectSwitchGivesException7AndKeepsTheCalibration) {
  device_.sensor().config().write_protect = true;
  ExpectException(Ask(WriteRegisters(101, 436, {0x0000, 0x3F80})), 16, kExWriteProtected);
  EXPECT_EQ(device_.sensor().offset(), 0.0f);
  EXPECT_EQ(Ask(ReadRegisters(101, 436, 4)).size(), 13u) << "reads still work";
}

TEST_F(SensorTest, AddressZeroIsAnsweredWithZero) {
  std::vector<uint8_t> reply = Ask(ReadRegisters(0, 59, 1));
  ASSERT_EQ(reply.size(), 7u);
  EXPECT_EQ(reply[0], 0);
  EXPECT_TRUE(ChecksumOk(reply));
}

TEST_F(SensorTest, FaultsOfALoneSensor) {
  device_.faults().line_disconnected = true;
  EXPECT_TRUE(Ask(ReadRegisters(101, 59, 1)).empty());
  device_.faults().line_disconnected = false;
  device_.faults().cut_after = 3;
  EXPECT_EQ(Ask(ReadRegisters(101, 59, 1)), (std::vector<uint8_t>{101, 3, 2}));
}

TEST(SensorReading, NoiseIsBoundedAndRepeatsWithTheSeedDriftMovesTheValue) {
  SensorConfig config;
  config.value = 100.0;
  config.noise = 0.5;
  config.seed = 7;
  SimSensor a(config), b(config);
  bool varied = false;
  float previous = a.Reading(0);
  EXPECT_EQ(previous, b.Reading(0));
  for (int i = 1; i < 200; ++i) {
    const float value = a.Reading(0);
    EXPECT_EQ(value, b.Reading(0));
    EXPECT_LE(std::fabs(value - 100.0f), 0.5f);
    varied = varied || value != previous;
    previous = value;
  }
  EXPECT_TRUE(varied);

  config.noise = 0.0;
  config.drift_per_s = 0.25;
  SimSensor drifting(config);
  EXPECT_EQ(drifting.Reading(0), 100.0f);
  EXPECT_EQ(drifting.Reading(10'000'000), 102.5f);
}

TEST(SensorReading, HysteresisFollowsTheInputAsAControllerMovesIt) {
  SimInput::Config input;
  input.value = 0.0;
  input.slew_per_s = 1000.0;
  input.overshoot = 0.02;
  input.settle_s = 0.1;
  SensorConfig config;
  config.input = std::make_shared<SimInput>(input);
  config.hysteresis = 0.4;
  SimSensor sensor(config);

  config.input->MoveTo(500.0, 0);
  EXPECT_FALSE(sensor.falling());
  // Past the peak and back at the set point: still approached from below.
  EXPECT_NEAR(sensor.RawAt(5'000'000), 500.0 - 0.2, 1e-6);
  config.input->MoveTo(250.0, 5'000'000);
  EXPECT_TRUE(sensor.falling());
  EXPECT_NEAR(sensor.Reading(10'000'000), 250.0f + 0.2f, 1e-3);
  config.input->MoveTo(750.0, 10'000'000);
  EXPECT_FALSE(sensor.falling());
  EXPECT_NEAR(sensor.RawAt(15'000'000), 750.0 - 0.2, 1e-6);
}

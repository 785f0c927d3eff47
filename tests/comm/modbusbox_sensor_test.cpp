#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "tests/comm/modbusbox_fixture.h"

namespace {

uint32_t Bits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

class ModbusboxSensorTest : public ModbusboxFixture {
 protected:
  void AnswerUnit(uint8_t high, uint8_t low) { Answer(Sealed({0x01, 0x03, 0x02, high, low})); }
};

TEST_F(ModbusboxSensorTest, UnitCheckLooksAtTheLowByteOnly) {
  AnswerUnit(0x01, 0x0C);
  EXPECT_TRUE(box.ReadUnit(0));
  AnswerUnit(0x00, 0x20);
  EXPECT_TRUE(box.ReadUnit(1));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_EQ(device.requests.at(0), Sealed({0x01, 0x03, 0x00, 0x3B, 0x00, 0x01}));
}

TEST_F(ModbusboxSensorTest, WrongSensorKindIsReportedNotRetried) {
  AnswerUnit(0x00, 0x0C);  // a pressure sensor on the temperature channel
  EXPECT_FALSE(box.ReadUnit(1));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Очікуваний код одиниці виміру 32\rПрочитано у давачі 12");
  EXPECT_EQ(ui.messages[0].caption, "");
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_EQ(device.requests.size(), 1u);
}

TEST_F(ModbusboxSensorTest, FailedUnitReadAsksToRetry) {
  ui.answers = {true, false};
  EXPECT_FALSE(box.ReadUnit(0));  // silence twice
  ASSERT_EQ(ui.questions.size(), 2u);
  EXPECT_EQ(ui.questions[0].line1, "Читання одиниці виміру давача:");
  EXPECT_EQ(ui.questions[0].line2, "Команда 3. Пристрій не відповідає");
  EXPECT_EQ(ui.questions[0].line3, "Повторити спробу?");
  EXPECT_EQ(device.requests.size(), 2u);

  ui.answers = {true};
  Silence();
  AnswerUnit(0x00, 0x0C);
  EXPECT_TRUE(box.ReadUnit(0));
  EXPECT_EQ(ui.questions.size(), 3u);
}

TEST_F(ModbusboxSensorTest, CancelDuringUnitReadEndsWithoutQuestion) {
  ui.answers = {true};
  ui.on_process = [this] {
    if (ui.process_calls == 3)
      box.abort_requested = true;
  };
  EXPECT_FALSE(box.ReadUnit(0));
  EXPECT_EQ(box.error_code, 28);
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(ModbusboxSensorTest, SensorsException28IsNoStopAndStillAsksToRetry) {
  ui.answers = {true, false};
  Answer(Sealed({0x01, 0x83, 0x1C}));
  Answer(Sealed({0x01, 0x83, 0x15}));
  EXPECT_FALSE(box.ReadUnit(0));
  ASSERT_EQ(ui.questions.size(), 2u);
  EXPECT_EQ(ui.questions[0].line2, "Команда 3. ? (виняток 28)");
  EXPECT_EQ(ui.questions[1].line2, "Команда 3. ? (виняток 21)");
  EXPECT_NE(box.error_code, modbusbox::kErrorAborted);
  EXPECT_NE(box.error_code, modbusbox::kErrorNoReply);
}

TEST_F(ModbusboxSensorTest, CalibrationIsTwoFloatsLowWordFirst) {
  Answer(Sealed({0x01, 0x03, 0x08, 0x00, 0x00, 0x3F, 0x80, 0x00, 0x00, 0x00, 0x00}));
  float offset = 5.0f;
  float slope = 5.0f;
  ASSERT_TRUE(box.ReadCalibration(offset, slope));
  EXPECT_EQ(device.requests.at(0), Sealed({0x01, 0x03, 0x01, 0xB4, 0x00, 0x04}));
  EXPECT_EQ(offset, 1.0f);
  EXPECT_EQ(Bits(slope), 0u);

  // Not-a-number and infinity are kept bit for bit.
  Answer(Sealed({0x01, 0x03, 0x08, 0x00, 0x00, 0xFF, 0x80, 0x01, 0x23, 0x7F, 0xC0}));
  ASSERT_TRUE(box.ReadCalibration(offset, slope));
  EXPECT_EQ(Bits(offset), 0xFF800000u);
  EXPECT_EQ(Bits(slope), 0x7FC00123u);
}

TEST_F(ModbusboxSensorTest, FailedCalibrationReadKeepsTheOldValues) {
  float offset = 2.5f;
  float slope = -3.0f;
  Answer(Sealed({0x01, 0x83, 0x02}));
  EXPECT_FALSE(box.ReadCalibration(offset, slope));
  ASSERT_EQ(ui.questions.size(), 1u);
  EXPECT_EQ(ui.questions[0].line1, "Читання зміщення калібровки давача:");
  EXPECT_EQ(ui.questions[0].line2,
            "Команда 3. Адреса даних, вказана в запиті, недоступна\r(можливо версія ПО вашого "
            "пристрою є застарілою)");

  // A reply of the wrong size carries data too, but none of it may be taken.
  Answer(Sealed({0x01, 0x03, 0x04, 0x00, 0x00, 0x3F, 0x80}));
  EXPECT_FALSE(box.ReadCalibration(offset, slope));
  EXPECT_EQ(offset, 2.5f);
  EXPECT_EQ(slope, -3.0f);
}

TEST_F(ModbusboxSensorTest, NewCalibrationGoesOutAsFourRegisters) {
  Answer(Sealed({0x01, 0x10, 0x01, 0xB4, 0x00, 0x04}));
  ASSERT_TRUE(box.WriteCalibration(1.0f, 0.5f));
  EXPECT_EQ(device.requests.at(0), Sealed({0x01, 0x10, 0x01, 0xB4, 0x00, 0x04, 0x08, 0x00, 0x00,
                                           0x3F, 0x80, 0x00, 0x00, 0x3F, 0x00}));

  // A refused write is the caller's to ask about.
  Answer(Sealed({0x01, 0x90, 0x07}));
  EXPECT_FALSE(box.WriteCalibration(1.0f, 0.5f));
  EXPECT_EQ(box.error_code, 7);
  EXPECT_TRUE(ui.questions.empty());
}

TEST_F(ModbusboxSensorTest, MeasuredValueIsOneFloatAndAFailureAsksNothing) {
  Answer(Sealed({0x01, 0x03, 0x04, 0x00, 0x00, 0xC1, 0x4C}));
  float value = 0.0f;
  ASSERT_TRUE(box.ReadValue(value));
  EXPECT_EQ(device.requests.at(0), Sealed({0x01, 0x03, 0x01, 0x90, 0x00, 0x02}));
  EXPECT_EQ(value, -12.75f);

  Silence();
  EXPECT_FALSE(box.ReadValue(value));
  EXPECT_EQ(box.error_code, modbusbox::kErrorNoReply);
  EXPECT_EQ(value, -12.75f);
  EXPECT_TRUE(ui.questions.empty());
}

TEST(ModbusboxFloatRegisters, RoundTripKeepsEveryBit) {
  uint16_t low = 0;
  uint16_t high = 0;
  FloatToRegisters(0.1f, low, high);  // 0x3DCCCCCD
  EXPECT_EQ(low, 0xCCCD);
  EXPECT_EQ(high, 0x3DCC);
  EXPECT_EQ(RegistersToFloat(0xCCCD, 0x3DCC), 0.1f);

  // Quiet NaNs with payloads, infinities, signed zero, subnormals.
  for (uint32_t bits : {0x7FC12345u, 0xFFC00001u, 0x7FFFFFFFu, 0x7F800000u, 0xFF800000u,
                        0x80000000u, 0x00000001u, 0x807FFFFFu}) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    FloatToRegisters(value, low, high);
    EXPECT_EQ(low, bits & 0xFFFFu);
    EXPECT_EQ(high, bits >> 16);
    EXPECT_EQ(Bits(RegistersToFloat(low, high)), bits) << std::hex << bits;
  }
  EXPECT_TRUE(std::isnan(RegistersToFloat(0x0001, 0x7FC0)));
  EXPECT_EQ(RegistersToFloat(0x0000, 0x7F80), std::numeric_limits<float>::infinity());
}

}  // namespace

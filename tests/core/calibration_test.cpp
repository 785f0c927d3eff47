#include "core/calibration.h"

#include <gtest/gtest.h>

#include "core/rd_wr_ini.h"

#include <cmath>
#include <limits>

namespace {
constexpr double kMmHg = 7.50061438;

CalibrationRecord Points(double factor, float a1, float r1, float a2, float r2) {
  CalibrationRecord record;
  record.factor = factor;
  record.applied = {a1, a2};
  record.received = {r1, r2};
  return record;
}
}  // namespace

TEST(PressureUnits, FactorsAndNamesInListOrder) {
  ASSERT_EQ(PressureUnits.size(), 7u);
  EXPECT_STREQ(PressureUnits[1].name, "кПа");
  EXPECT_EQ(PressureUnits[1].factor, 1.0);
  EXPECT_STREQ(PressureUnits[5].name, "мм рт.ст.");
  EXPECT_EQ(PressureUnits[5].factor, kMmHg);
  EXPECT_EQ(PressureUnits[0].factor, 0.01019716213);
  EXPECT_EQ(PressureUnits[6].factor, 101.9716213);
  double factor = 0;
  EXPECT_FALSE(PressureFactor(7, factor));
  EXPECT_FALSE(PressureFactor(-1, factor));
  EXPECT_TRUE(PressureFactor(3, factor));
  EXPECT_EQ(factor, 0.01);
}

TEST(ChannelUnitName, AnUnlistedPressureUnitFallsBackToTheDefaultSetting) {
  EXPECT_EQ(ChannelUnitName(0, 5), "мм рт.ст.");
  EXPECT_EQ(ChannelUnitName(0, 0), "кгс/cм^2");
  EXPECT_EQ(ChannelUnitName(1, 5), "°С");
  EXPECT_EQ(ChannelUnitName(1, 200), "°С");
  const int default_unit = TConnectSettings{}.P_unit;
  for (const int unlisted : {7, 255, -1}) {
    EXPECT_EQ(ListedPressureUnit(unlisted), default_unit);
    EXPECT_EQ(ChannelUnitName(0, unlisted), PressureUnits[static_cast<size_t>(default_unit)].name);
  }
  EXPECT_EQ(ListedPressureUnit(6), 6);
}

TEST(ConvertReading, RemovesTheOffsetInTheSensorUnitBeforeConverting) {
  const MonitorValues kpa = ConvertReading(5.0f, 1.0f, 2.0f, 1.0);
  EXPECT_FLOAT_EQ(kpa.value, 5.0f);
  EXPECT_FLOAT_EQ(kpa.factory_value, 2.0f);

  const MonitorValues mmhg = ConvertReading(100.0f, 0.0f, 1.0f, kMmHg);
  EXPECT_FLOAT_EQ(mmhg.value, 750.061438f);
  EXPECT_FLOAT_EQ(mmhg.factory_value, 750.061438f);

  const MonitorValues both = ConvertReading(5.0f, 1.0f, 2.0f, kMmHg);
  EXPECT_FLOAT_EQ(both.factory_value, static_cast<float>(2.0 * kMmHg));
}

TEST(StatisticsRing, AveragesReadingsSoFarThenTheLastTen) {
  StatisticsRing ring;
  EXPECT_FALSE(ring.has_average());
  ring.Add(1);
  EXPECT_TRUE(ring.has_average());
  EXPECT_FLOAT_EQ(ring.average(), 1.0f);
  ring.Add(2);
  EXPECT_FLOAT_EQ(ring.average(), 1.5f);
  ring.Add(3);
  EXPECT_FLOAT_EQ(ring.average(), 2.0f);
  EXPECT_EQ(ring.pos(), 3);

  for (int v = 4; v <= 10; ++v)
    ring.Add(static_cast<float>(v));
  EXPECT_FLOAT_EQ(ring.average(), 5.5f);
  EXPECT_EQ(ring.pos(), 0);
  EXPECT_FALSE(ring.filling());

  ring.Add(11);
  ring.Add(12);
  EXPECT_FLOAT_EQ(ring.average(), 7.5f);
  EXPECT_EQ(ring.ring()[0], 11.0f);
  EXPECT_EQ(ring.ring()[1], 12.0f);
  EXPECT_EQ(ring.ring()[2], 3.0f);
}

TEST(StatisticsRing, HandsOutItsReadingsOldestFirstWithTheirTimes) {
  StatisticsRing ring;
  std::vector<double> values;
  std::vector<double> times;
  ring.Ordered(values, times);
  EXPECT_TRUE(values.empty());
  for (int v = 1; v <= 3; ++v)
    ring.Add(static_cast<float>(v), v * 100.0);
  ring.Ordered(values, times);
  EXPECT_EQ(values, (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(times, (std::vector<double>{100, 200, 300}));
  for (int v = 4; v <= 12; ++v)
    ring.Add(static_cast<float>(v), v * 100.0);
  ring.Ordered(values, times);
  EXPECT_EQ(values, (std::vector<double>{3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  EXPECT_EQ(times.front(), 300.0);
  EXPECT_EQ(times.back(), 1200.0);
}

TEST(ComputeNewCalibration, KilopascalPoints) {
  const NewCalibration c = ComputeNewCalibration(Points(1.0, 0.0f, 0.5f, 100.0f, 100.5f), 1, 0);
  EXPECT_FLOAT_EQ(c.slope, 1.0f);
  EXPECT_FLOAT_EQ(c.offset, -0.5f);
}

TEST(ComputeNewCalibration, TakesTheCurrentCalibrationIntoAccount) {
  const NewCalibration c = ComputeNewCalibration(Points(1.0, 10, 12, 110, 112), 2.0f, 1.0f);
  EXPECT_FLOAT_EQ(c.slope, 2.0f);
  EXPECT_FLOAT_EQ(c.offset, -1.0f);
  // With it, raw 5.5 and 55.5 map onto the applied values.
  EXPECT_FLOAT_EQ(c.slope * 5.5f + c.offset, 10.0f);
  EXPECT_FLOAT_EQ(c.slope * 55.5f + c.offset, 110.0f);
}

TEST(ComputeNewCalibration, OffsetComesOutInTheDisplayUnit) {
  const NewCalibration shifted =
      ComputeNewCalibration(Points(kMmHg, 0, 1, 750.061438f, 751.061438f), 1, 0);
  EXPECT_NEAR(shifted.slope, 1.0, 1e-6);
  EXPECT_NEAR(shifted.offset, -1.0, 1e-5);
  EXPECT_NEAR(ToSensorUnit(shifted.offset, kMmHg), -0.133322, 1e-5);

  const NewCalibration none =
      ComputeNewCalibration(Points(kMmHg, 0, 7.50061438f, 750.061438f, 757.56205238f), 1, 1);
  EXPECT_NEAR(none.slope, 1.0, 1e-6);
  EXPECT_NEAR(none.offset, 0.0, 1e-5);
}

TEST(IsWritableCalibration, RefusesWhatASensorMustNeverReceive) {
  EXPECT_TRUE(IsWritableCalibration(-0.5f, 1.0f));
  EXPECT_TRUE(IsWritableCalibration(0.0f, -1.0f));
  EXPECT_FALSE(IsWritableCalibration(0.0f, 0.0f));
  EXPECT_FALSE(IsWritableCalibration(std::numeric_limits<float>::quiet_NaN(), 1.0f));
  EXPECT_FALSE(IsWritableCalibration(0.0f, std::numeric_limits<float>::infinity()));
  EXPECT_FALSE(IsWritableCalibration(-std::numeric_limits<float>::infinity(), 1.0f));
  // A current slope of zero gives slope 0 and an offset that is not a number.
  const NewCalibration zero = ComputeNewCalibration(Points(1.0, 0, 1, 10, 11), 0.0f, 0.0f);
  EXPECT_FALSE(IsWritableCalibration(zero.offset, zero.slope));
}

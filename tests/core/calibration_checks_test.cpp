#include "core/calibration_checks.h"

#include <fstream>

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

namespace {

CalibrationRecord KilopascalPoints() {
  CalibrationRecord r;
  r.factor = 1.0;
  r.applied = {0.0f, 100.0f};
  r.received = {0.5f, 100.5f};
  return r;
}

}  // namespace

TEST(CalibrationChecks, LimitsComeFromTheirSectionAndBadValuesKeepTheDefaults) {
  TempFolder folder;
  const std::string ini = folder.File("vorlix.ini");
  EXPECT_DOUBLE_EQ(LoadCalibrationLimits(ini).slope_max, 1.1);  // no file at all
  std::ofstream(ini) << "[CALIBRATION]\r\nSlopeMin=0.95\r\nSlopeMax=abc\r\nOffsetSpanShare=-1\r\n"
                        "StabilityShare=0.001\r\n";
  const CalibrationLimits limits = LoadCalibrationLimits(ini);
  EXPECT_DOUBLE_EQ(limits.slope_min, 0.95);
  EXPECT_DOUBLE_EQ(limits.slope_max, 1.1);
  EXPECT_DOUBLE_EQ(limits.offset_span_share, 0.1);
  EXPECT_DOUBLE_EQ(limits.stability_share, 0.001);
}

TEST(CalibrationChecks, AMistypedSlopeOrAWildOffsetIsDoubtedAndTheComputedOneIsNot) {
  const CalibrationRecord r = KilopascalPoints();
  const CalibrationLimits limits;
  EXPECT_TRUE(CalibrationDoubts(r, 1.0f, -0.5f, limits).empty());
  EXPECT_EQ(CalibrationDoubts(r, 9.9885f, -0.5f, limits).size(), 1u);
  EXPECT_EQ(CalibrationDoubts(r, 1.0f, 10.5f, limits).size(), 1u);  // > 10 % of 100 kPa
  // mm Hg: the span is in the display unit, the offset goes in kPa (1.5 kPa = 11.25 mm Hg).
  CalibrationRecord mmhg = r;
  mmhg.factor = 7.50061438;
  mmhg.applied = {0.0f, 100.0f};
  EXPECT_EQ(CalibrationDoubts(mmhg, 1.0f, 1.5f, limits).size(), 1u);
  EXPECT_TRUE(CalibrationDoubts(mmhg, 1.0f, 1.3f, limits).empty());
}

TEST(CalibrationChecks, TheNewCalibrationIsPredictedToReadTheAppliedValues) {
  CalibrationRecord r;
  r.factor = 1.0;
  r.applied = {10.0f, 110.0f};
  r.received = {12.0f, 112.0f};
  const NewCalibration c = ComputeNewCalibration(r, 2.0f, 1.0f);
  const std::array<double, 2> p = PredictedReadings(r, 2.0f, 1.0f, c.slope, c.offset);
  EXPECT_NEAR(p[0], 10.0, 1e-4);
  EXPECT_NEAR(p[1], 110.0, 1e-4);
}

TEST(CalibrationChecks, ReadingsAreStableOnlyWhenTheRingIsFullAndTheirSpreadIsSmall) {
  std::vector<double> times;
  for (int i = 0; i < 10; ++i)
    times.push_back(i * 1000.0);
  const std::vector<double> steady(10, 101.32);
  EXPECT_FALSE(SpreadOf({101.32, 101.32}, {0, 1000}, 10, 0.01, 0.0005).stable);  // too few
  ReadingSpread s = SpreadOf(steady, times, 10, 0.01, 0.0005);
  EXPECT_TRUE(s.stable);
  EXPECT_NEAR(s.deviation, 0.0, 1e-12);

  std::vector<double> rising;
  for (int i = 0; i < 10; ++i)
    rising.push_back(100.0 + 0.01 * i);  // 0.01 kPa a second
  s = SpreadOf(rising, times, 10, 0.001, 0.0005);
  EXPECT_NEAR(s.drift_per_minute, 0.6, 1e-9);
  EXPECT_DOUBLE_EQ(s.minimum, 100.0);
  EXPECT_NEAR(s.maximum, 100.09, 1e-9);
  EXPECT_FALSE(s.stable);                                        // 0.09 > 0.05 % of 100
  EXPECT_TRUE(SpreadOf(rising, times, 10, 0.1, 0.0005).stable);  // within one display step
}

TEST(CalibrationChecks, DriftIsToldOnlyOverEnoughTime) {
  // Two seconds of noise: scaled up to a minute it would claim a drift of about 0.4.
  const std::vector<double> noise = {100.000, 100.012, 99.995,  100.010, 100.020,
                                     99.998,  100.015, 100.022, 100.009, 100.025};
  std::vector<double> fast;
  for (int i = 0; i < 10; ++i)
    fast.push_back(i * 200.0);
  EXPECT_FALSE(DriftPerMinute(noise, fast).has_value());
  EXPECT_TRUE(DriftPerMinute(noise, fast, 0.0).has_value());

  // A steady rise of 0.1 a minute, read every 3 s for 30 s.
  std::vector<double> values;
  std::vector<double> times;
  for (int i = 0; i <= 10; ++i) {
    values.push_back(100.0 + 0.005 * i);
    times.push_back(3000.0 * i);
  }
  ASSERT_TRUE(DriftPerMinute(values, times).has_value());
  EXPECT_NEAR(*DriftPerMinute(values, times), 0.1, 1e-9);
  values.pop_back();
  times.pop_back();  // 27 s
  EXPECT_FALSE(DriftPerMinute(values, times).has_value());
  EXPECT_FALSE(DriftPerMinute({1.0, 2.0}, {0.0}, 0.0).has_value());
  EXPECT_FALSE(DriftPerMinute({1.0, 2.0}, {5.0, 5.0}, 0.0).has_value());  // no time between

  EXPECT_DOUBLE_EQ(StabilityLimit(100.0, 0.01, 0.0005), 0.05);
  EXPECT_DOUBLE_EQ(StabilityLimit(-1.0, 0.01, 0.0005), 0.01);
}

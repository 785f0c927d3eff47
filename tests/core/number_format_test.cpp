#include "core/number_format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

TEST(FormatFixed, ExamplesOfTheDisplay) {
  EXPECT_EQ(FormatFixed(750.0614379, 6), "750.061438");
  EXPECT_EQ(FormatFixed(1, 5), "1.00000");
  EXPECT_EQ(FormatFixed(-0.5, 5), "-0.50000");
  EXPECT_EQ(FormatFixed(99.8765, 2), "99.88");
  EXPECT_EQ(FormatFixed(0.000001234, 2), "0.00");
  EXPECT_EQ(FormatFixed(42, 0), "42");
  EXPECT_EQ(FormatFixed(0.25, 0), "0");  // 0.25 rounds to 0
  EXPECT_EQ(FormatFixed(0.75, 0), "1");
}

TEST(FormatFixed, NeverMoreThanTwelveSignificantDigits) {
  EXPECT_EQ(FormatFixed(1.0 / 3.0, 18), "0.333333333333000000");
  EXPECT_EQ(FormatFixed(123456.7890123456, 10), "123456.7890120000");
  EXPECT_EQ(FormatFixed(123456789012.4, 2), "123456789012.00");
  EXPECT_EQ(FormatFixed(0.1, 18), "0.100000000000000000");  // not 0.1000000000000000055
  EXPECT_EQ(FormatFixed(2.0 / 3.0 * 1e-7, 18), "0.000000066666666667");
}

TEST(FormatFixed, HalfRoundsAwayFromZeroOnExactTies) {
  // These are exact in binary, so the tie is real.
  EXPECT_EQ(FormatFixed(0.125, 2), "0.13");
  EXPECT_EQ(FormatFixed(-0.125, 2), "-0.13");
  EXPECT_EQ(FormatFixed(2.5, 0), "3");
  EXPECT_EQ(FormatFixed(0.5, 0), "1");
  EXPECT_EQ(FormatFixed(123456789012.5, 3), "123456789013.000");
  // 1.005 is stored a little below, so it is no tie.
  EXPECT_EQ(FormatFixed(1.005, 2), "1.00");
}

TEST(FormatFixed, CarriesThroughNines) {
  EXPECT_EQ(FormatFixed(9.996, 2), "10.00");
  EXPECT_EQ(FormatFixed(-99.9999, 3), "-100.000");
  EXPECT_EQ(FormatFixed(0.0096, 2), "0.01");
  EXPECT_EQ(FormatFixed(0.005, 2), "0.01");  // 0.005 is stored a little above
}

TEST(FormatFixed, ExponentFormOnlyPastTwelveIntegerDigits) {
  EXPECT_EQ(FormatFixed(999999999999.0, 2), "999999999999.00");
  EXPECT_EQ(FormatFixed(123456789012345.0, 2), "1.23456789012E+14");
  EXPECT_EQ(FormatFixed(-123456789012345.0, 2), "-1.23456789012E+14");
  EXPECT_EQ(FormatFixed(1e20, 5), "1E+20");
  EXPECT_EQ(FormatFixed(999999999999.6, 2), "1E+12");  // rounding adds the thirteenth digit
  EXPECT_EQ(FormatFixed(std::numeric_limits<double>::max(), 2), "1.79769313486E+308");
}

TEST(FormatFixed, ZeroHasNoSign) {
  EXPECT_EQ(FormatFixed(0.0, 2), "0.00");
  EXPECT_EQ(FormatFixed(-0.0, 2), "0.00");
  EXPECT_EQ(FormatFixed(-0.001, 2), "0.00");
  EXPECT_EQ(FormatFixed(-0.004999, 2), "0.00");
  EXPECT_EQ(FormatFixed(-0.005001, 2), "-0.01");
  EXPECT_EQ(FormatFixed(std::numeric_limits<double>::denorm_min(), 18), "0.000000000000000000");
}

TEST(FormatFixed, DecimalsAreClampedAndNonFiniteValuesAreWords) {
  EXPECT_EQ(FormatFixed(1.5, -3), "2");
  EXPECT_EQ(FormatFixed(1.5, 40), "1.500000000000000000");
  EXPECT_EQ(FormatFixed(std::numeric_limits<double>::infinity(), 2), "INF");
  EXPECT_EQ(FormatFixed(-std::numeric_limits<double>::infinity(), 2), "-INF");
  EXPECT_EQ(FormatFixed(std::numeric_limits<double>::quiet_NaN(), 2), "NAN");
  EXPECT_EQ(FormatFixed(-std::numeric_limits<double>::quiet_NaN(), 2), "NAN");
}

TEST(FormatFixed, FloatsFromTheSensorShowTheirNearestDecimals) {
  // Readings arrive as 32-bit floats; widening them must not show binary noise.
  EXPECT_EQ(FormatFixed(static_cast<double>(101.325f), 3), "101.325");
  EXPECT_EQ(FormatFixed(static_cast<double>(0.1f), 6), "0.100000");
}

TEST(ParseInt32, DecimalWithOptionalSignOnly) {
  EXPECT_EQ(ParseInt32("0"), 0);
  EXPECT_EQ(ParseInt32("+25"), 25);
  EXPECT_EQ(ParseInt32("-25"), -25);
  EXPECT_EQ(ParseInt32("0010000"), 10000);
  EXPECT_EQ(ParseInt32("2147483647"), 2147483647);
  EXPECT_EQ(ParseInt32("-2147483648"), std::numeric_limits<int32_t>::min());
  for (const char* bad : {"", "-", "+", "2147483648", "-2147483649", "99999999999999999999", " 1",
                          "1 ", "1a", "0x10", "$10", "+-1", "--1", "1.0", "1e3"}) {
    EXPECT_EQ(ParseInt32(bad), std::nullopt) << '"' << bad << '"';
  }
}

TEST(ParseFloat, FullStopAndOptionalExponent) {
  EXPECT_EQ(ParseFloat("1.5"), 1.5);
  EXPECT_EQ(ParseFloat("-1.5"), -1.5);
  EXPECT_EQ(ParseFloat("+2"), 2.0);
  EXPECT_EQ(ParseFloat(".5"), 0.5);
  EXPECT_EQ(ParseFloat("5."), 5.0);
  EXPECT_EQ(ParseFloat("1e3"), 1000.0);
  EXPECT_EQ(ParseFloat("1E-2"), 0.01);
  EXPECT_EQ(ParseFloat("-2.5e+02"), -250.0);
  EXPECT_EQ(ParseFloat("99.88"), 99.88);
  for (const char* bad : {"",   "-",  ".",  "-.",  "1e",  "1e-", "1e+",   "1,5",  "1.5.", "1..5",
                          "e5", " 1", "1 ", "inf", "nan", "INF", "0x1p3", "1e5x", "--1",  "1-"}) {
    EXPECT_EQ(ParseFloat(bad), std::nullopt) << '"' << bad << '"';
  }
}

TEST(ParseFloat, OutOfRangeMagnitudes) {
  EXPECT_EQ(ParseFloat("1e400"), std::nullopt);
  EXPECT_EQ(ParseFloat("-1e400"), std::nullopt);
  EXPECT_EQ(ParseFloat(std::string(400, '9')), std::nullopt);
  EXPECT_EQ(ParseFloat("1e99999999999999999999"), std::nullopt);
  const auto tiny = ParseFloat("1e-400");
  ASSERT_TRUE(tiny.has_value());
  EXPECT_EQ(*tiny, 0.0);
  const auto negative_tiny = ParseFloat("-0.0000001e-999");
  ASSERT_TRUE(negative_tiny.has_value());
  EXPECT_EQ(*negative_tiny, 0.0);
  EXPECT_EQ(ParseFloat("0e999999"), 0.0);
}

TEST(NumberText, IgnoresTheProcessLocale) {
  // A locale with a decimal comma, where one is installed; the C locale otherwise.
  const char* set = nullptr;
  for (const char* name : {"uk_UA.UTF-8", "de_DE.UTF-8", "ru_RU.UTF-8", "fr_FR.UTF-8"}) {
    set = std::setlocale(LC_ALL, name);
    if (set != nullptr) {
      break;
    }
  }
  EXPECT_EQ(FormatFixed(1234.5678, 2), "1234.57");
  EXPECT_EQ(ParseFloat("1234.5678"), 1234.5678);
  EXPECT_EQ(ParseFloat("1234,5678"), std::nullopt);
  std::setlocale(LC_ALL, "C");
}

TEST(ToFloat32, SaturatesOnlyTrueOverflows) {
  EXPECT_EQ(ToFloat32(1e39), std::numeric_limits<float>::infinity());
  EXPECT_EQ(ToFloat32(-1e39), -std::numeric_limits<float>::infinity());
  EXPECT_EQ(ToFloat32(3.4028235e38), std::numeric_limits<float>::max());
  EXPECT_EQ(ToFloat32(0.1), 0.1f);
  EXPECT_TRUE(std::isnan(ToFloat32(std::nan(""))));
  EXPECT_EQ(ToFloat32(1e-50), 0.0f);
}

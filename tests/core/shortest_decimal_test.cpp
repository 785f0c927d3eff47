#include "core/shortest_decimal.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace {

template <typename T>
T ReadBack(const std::string& text) {
  T value{};
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  EXPECT_EQ(result.ec, std::errc()) << text;
  EXPECT_EQ(result.ptr, text.data() + text.size()) << text;
  return value;
}

template <typename T>
bool SameBits(T a, T b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

TEST(ShortestDecimal, TypedNumbersComeBackAsTyped) {
  EXPECT_EQ(ShortestDecimal(101.325f), "101.325");
  EXPECT_EQ(ShortestDecimal(0.0009f), "0.0009");
  EXPECT_EQ(ShortestDecimal(1.0001f), "1.0001");
  EXPECT_EQ(ShortestDecimal(-0.125f), "-0.125");
  EXPECT_EQ(ShortestDecimal(1500000.0f), "1500000");
  EXPECT_EQ(ShortestDecimal(0.1), "0.1");
  // A float widened to a double is written with the double's digits: its own type counts.
  EXPECT_EQ(ShortestDecimal(static_cast<double>(101.325f)), "101.32499694824219");
  EXPECT_EQ(ShortestDecimal(-2.5f, ','), "-2,5");
  EXPECT_EQ(ShortestDecimal(0.00009, ','), "0,00009");
}

TEST(ShortestDecimal, PlainUpToTheEdgesThenExponentForm) {
  EXPECT_EQ(ShortestDecimal(1e-15), "0.000000000000001");
  EXPECT_EQ(ShortestDecimal(1e-16), "1e-16");
  EXPECT_EQ(ShortestDecimal(1e20), "100000000000000000000");
  EXPECT_EQ(ShortestDecimal(1e21), "1e+21");
  EXPECT_EQ(ShortestDecimal(std::numeric_limits<float>::max()), "3.4028235e+38");
  EXPECT_EQ(ShortestDecimal(-std::numeric_limits<float>::max(), ','), "-3,4028235e+38");
  EXPECT_EQ(ShortestDecimal(std::numeric_limits<float>::denorm_min()), "1e-45");
  EXPECT_EQ(ShortestDecimal(std::numeric_limits<double>::denorm_min()), "5e-324");
}

TEST(ShortestDecimal, ZeroKeepsItsSignAndNotANumberIsNamed) {
  EXPECT_EQ(ShortestDecimal(0.0f), "0");
  EXPECT_EQ(ShortestDecimal(-0.0f), "-0");
  EXPECT_EQ(ShortestDecimal(-0.0), "-0");
  EXPECT_EQ(ShortestDecimal(std::numeric_limits<float>::quiet_NaN()), "nan");
  EXPECT_EQ(ShortestDecimal(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(ShortestDecimal(-std::numeric_limits<float>::infinity()), "-inf");
}

TEST(ShortestDecimal, EveryTextReadsBackBitForBit) {
  // Floats from the subnormals to the largest, stepping through the bit patterns.
  for (uint32_t bits = 1; bits < 0x7F800000u; bits += 0x000F4243u) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    for (const float v : {value, -value}) {
      const std::string text = ShortestDecimal(v);
      EXPECT_EQ(text.find('E'), std::string::npos);
      EXPECT_TRUE(SameBits(ReadBack<float>(text), v)) << text;
    }
  }
  for (const double v : {1.0 / 3.0, 2.0 / 3.0 * 1e-10, 123456789.123456789, 5e-324, 1.7e308}) {
    const std::string text = ShortestDecimal(v);
    EXPECT_TRUE(SameBits(ReadBack<double>(text), v)) << text;
  }
}

// Our Modbus master against a second independent RTU server: pymodbus, run as a program of its
// own (peers/pymodbus_sensor.py) on the far end of a pair of bridged pseudo-terminals. It
// encodes and decodes the register floats with its own payload code, and says what it decoded
// from each write.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "comm/modbusbox.h"
#include "sim/child_process.h"
#include "tests/integration/bridged_master.h"
#include "tests/sim/sim_frames.h"

namespace {

using Bytes = std::vector<uint8_t>;
using simtest::Sealed;
using namespace std::chrono_literals;

constexpr int kCom = 44;
constexpr int kExitMissing = 77;  // the script's exit code when pymodbus is not installed

class PymodbusServerTest : public integration::BridgedMasterTest {
 protected:
  PymodbusServerTest() : BridgedMasterTest(1) {}

  void SetUp() override {
    const std::string python = VORLIX_PEER_PYTHON;
    if (python.empty())
      GTEST_SKIP() << "no Python interpreter with pymodbus and pyserial was found";
    std::string error;
    if (!bridge_.Start(error))
      GTEST_SKIP() << "no pseudo-terminals here: " << error;
    ASSERT_TRUE(peer_.Start({python, VORLIX_PYMODBUS_SENSOR, bridge_.peer_path(), "--address", "1",
                             "--value", "101.325", "--offset", "0", "--slope", "1"}));
    if (!peer_.WaitForLine("READY", 15s)) {
      if (peer_.WaitExit(2s) == kExitMissing)
        GTEST_SKIP() << "pymodbus is missing: " << peer_.error_text();
      FAIL() << "the pymodbus server did not start: " << peer_.error_text();
    }
    OpenOurEnd(kCom, 500, 300);
  }
  void StopServer() override { peer_.Stop(); }

  ChildProcess peer_;
};

TEST_F(PymodbusServerTest, ReadsUnitValueAndCalibration) {
  ASSERT_TRUE(box_.ReadUnit(0)) << box_.ErrorText();
  EXPECT_EQ(bridge_.TakeToPeer(), (Bytes{0x01, 0x03, 0x00, 0x3B, 0x00, 0x01, 0xF5, 0xC7}));
  EXPECT_EQ(bridge_.TakeFromPeer(), Sealed({0x01, 0x03, 0x02, 0x00, 0x0C}));

  ASSERT_TRUE(box_.ReadRegisters(400, 2)) << box_.ErrorText();
  // pymodbus packs 101.325 (0x42CAA666) low-order word first: A6 66 42 CA.
  EXPECT_EQ(bridge_.TakeFromPeer(), Sealed({0x01, 0x03, 0x04, 0xA6, 0x66, 0x42, 0xCA}));
  EXPECT_EQ(RegistersToFloat(box_.values[0], box_.values[1]), 101.325f);

  float offset = -1, slope = -1;
  ASSERT_TRUE(box_.ReadCalibration(offset, slope)) << box_.ErrorText();
  EXPECT_EQ(offset, 0.0f);
  EXPECT_EQ(slope, 1.0f);
}

TEST_F(PymodbusServerTest, WritesACalibrationPymodbusDecodesAndReadsItBack) {
  uint16_t words[4];
  FloatToRegisters(-0.125f, words[0], words[1]);
  FloatToRegisters(1.0625f, words[2], words[3]);
  ASSERT_TRUE(box_.WriteRegisters(436, 4, words)) << box_.ErrorText();
  EXPECT_EQ(bridge_.TakeToPeer(), Sealed({0x01, 0x10, 0x01, 0xB4, 0x00, 0x04, 0x08, 0x00, 0x00,
                                          0xBE, 0x00, 0x00, 0x00, 0x3F, 0x88}));
  EXPECT_EQ(bridge_.TakeFromPeer(), Sealed({0x01, 0x10, 0x01, 0xB4, 0x00, 0x04}));

  const auto write = peer_.WaitForLine("WRITE ", 5s);
  ASSERT_TRUE(write.has_value()) << peer_.error_text();
  EXPECT_EQ(*write, "WRITE 436 0 48640 0 16264");
  const auto decoded = peer_.WaitForLine("CALIBRATION ", 5s);
  ASSERT_TRUE(decoded.has_value()) << peer_.error_text();
  std::istringstream in(decoded->substr(12));
  double offset = 0, slope = 0;
  in >> offset >> slope;
  EXPECT_EQ(offset, -0.125);
  EXPECT_EQ(slope, 1.0625);

  float read_offset = 0, read_slope = 0;
  ASSERT_TRUE(box_.ReadCalibration(read_offset, read_slope)) << box_.ErrorText();
  EXPECT_EQ(read_offset, -0.125f);
  EXPECT_EQ(read_slope, 1.0625f);
}

TEST_F(PymodbusServerTest, UnmappedRegistersGiveExceptionTwoWithItsText) {
  EXPECT_FALSE(box_.ReadRegisters(60, 1));
  EXPECT_EQ(box_.error_code, 2);
  EXPECT_EQ(box_.ErrorText(),
            "Команда 3. Адреса даних, вказана в запиті, недоступна\r"
            "(можливо версія ПО вашого пристрою є застарілою)");
  EXPECT_EQ(bridge_.TakeFromPeer(), (Bytes{0x01, 0x83, 0x02, 0xC0, 0xF1}));

  // The measured value is mapped for reading only.
  const uint16_t words[2] = {0, 0};
  EXPECT_FALSE(box_.WriteRegisters(400, 2, words));
  EXPECT_EQ(box_.error_code, 2);
  EXPECT_EQ(box_.ErrorText(),
            "Команда 16. Адреса даних, вказана в запиті, недоступна\r"
            "(можливо версія ПО вашого пристрою є застарілою)");

  // The line is usable straight after.
  ASSERT_TRUE(box_.ReadRegisters(59, 1)) << box_.ErrorText();
  EXPECT_EQ(box_.values[0], 12);
}

}  // namespace

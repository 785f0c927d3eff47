// vorlix-sim run as the engineer runs it beside the application: a separate program that links
// its terminal into a ports folder, reached by port number through the serial layer.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "comm/calcbox.h"
#include "comm/modbusbox.h"
#include "sim/child_process.h"
#include "tests/support/com_link.h"
#include "tests/support/scripted_host.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

class SimProcessTest : public ::testing::Test {
 protected:
  void TearDown() override {
    link_.Close();
    sim_.Stop();
  }

  TempFolder folder_;
  const std::string dir_ = folder_.path().string();
  ChildProcess sim_;
  ComLink link_;
  ScriptedHost ui_;
};

TEST_F(SimProcessTest, ServesTheTemperatureSensorOfLine2ThroughThePortLink) {
  const std::string ini = dir_ + "/INI";
  const auto link = StartSimulator(
      sim_, VORLIX_SIM_EXE,
      {"--ini-dir", ini, "--com", "212", "--service-delay", "120", "--temperature", "21.5"});
  ASSERT_TRUE(link.has_value()) << sim_.error_text();
  EXPECT_EQ(*link, ini + "/ports/COM212");

  std::string error;
  ASSERT_TRUE(link_.OpenIn(ini + "/ports", 212, 19200, error)) << error;

  // Searching: the corrector's own address is learnt from its reply.
  calcbox corrector(calcbox::kSearchAddress);
  corrector.port_handle = link_.line();
  corrector.baud_rate = 19200;
  corrector.first_byte_timeout = 1000;
  corrector.next_byte_timeout = 100;
  corrector.ui = &ui_;
  ASSERT_TRUE(corrector.ReadIdentification()) << corrector.ErrorText();
  EXPECT_EQ(corrector.address, 1);
  EXPECT_EQ(corrector.sw_version, 37);
  ASSERT_TRUE(corrector.EnterService(2, 1, 0)) << corrector.ErrorText();

  modbusbox sensor(102);
  sensor.port_handle = link_.line();
  sensor.first_byte_timeout = 300;
  sensor.next_byte_timeout = 60;
  sensor.ui = &ui_;
  ASSERT_TRUE(sensor.ReadUnit(1)) << sensor.ErrorText();
  ASSERT_TRUE(sensor.ReadRegisters(400, 2)) << sensor.ErrorText();
  EXPECT_EQ(RegistersToFloat(sensor.values[0], sensor.values[1]), 21.5f);

  ASSERT_TRUE(corrector.LeaveService(2)) << corrector.ErrorText();
  EXPECT_TRUE(ui_.questions.empty());
  EXPECT_TRUE(ui_.messages.empty());

  link_.Close();
  EXPECT_EQ(sim_.Stop(), 0) << sim_.error_text();
  EXPECT_FALSE(fs::exists(fs::symlink_status(ini + "/ports/COM212")));
}

}  // namespace

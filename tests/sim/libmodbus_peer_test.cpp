// The simulated sensor checked by an independent Modbus master: libmodbus, over a real
// pseudo-terminal, decoding and encoding the register floats by its own rules.

#include <gtest/gtest.h>

#ifdef VORLIX_HAVE_LIBMODBUS

#include <modbus.h>

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>

#include "sim/child_process.h"
#include "sim/pty_server.h"
#include "sim/sim_corrector.h"
#include "tests/sim/pty_client.h"
#include "tests/sim/sim_frames.h"
#include "tests/support/temp_folder.h"

namespace {

class LibmodbusPeerTest : public ::testing::Test {
 protected:
  void Serve(LineDevice& device) {
    server_ = std::make_unique<PtyServer>(device, 19200);
    std::string error;
    if (!server_->Start(error))
      GTEST_SKIP() << "no pseudo-terminals here: " << error;
  }

  modbus_t* Connect(int address) {
    ctx_ = modbus_new_rtu(server_->slave_path().c_str(), 19200, 'N', 8, 1);
    if (ctx_ == nullptr)
      return nullptr;
    modbus_set_slave(ctx_, address);
    modbus_set_response_timeout(ctx_, 2, 0);
    if (modbus_connect(ctx_) != 0) {
      modbus_free(ctx_);
      ctx_ = nullptr;
    }
    return ctx_;
  }

  void TearDown() override {
    if (ctx_ != nullptr) {
      modbus_close(ctx_);
      modbus_free(ctx_);
    }
    if (server_)
      server_->Stop();
  }

  std::unique_ptr<PtyServer> server_;
  modbus_t* ctx_ = nullptr;
};

}  // namespace

TEST_F(LibmodbusPeerTest, ReadsUnitAndValueAndWritesCalibration) {
  SensorConfig sensor = SensorConfig::Pressure();
  sensor.value = 1.0;
  SimDirectSensor device(sensor, LineTiming{}, FaultConfig{});
  Serve(device);
  modbus_t* ctx = Connect(101);
  ASSERT_NE(ctx, nullptr) << modbus_strerror(errno);

  uint16_t regs[4] = {};
  ASSERT_EQ(modbus_read_registers(ctx, 59, 1, regs), 1) << modbus_strerror(errno);
  EXPECT_EQ(regs[0], 12);

  ASSERT_EQ(modbus_read_registers(ctx, 400, 2, regs), 2) << modbus_strerror(errno);
  EXPECT_EQ(regs[0], 0x0000);  // 1.0 travels as 00 00 3F 80
  EXPECT_EQ(regs[1], 0x3F80);
  EXPECT_EQ(modbus_get_float(regs), 1.0f);

  uint16_t calibration[4];
  modbus_set_float(0.5f, calibration);
  modbus_set_float(2.0f, calibration + 2);
  ASSERT_EQ(modbus_write_registers(ctx, 436, 4, calibration), 4) << modbus_strerror(errno);
  ASSERT_EQ(modbus_read_registers(ctx, 436, 4, regs), 4) << modbus_strerror(errno);
  EXPECT_EQ(modbus_get_float(regs), 0.5f);
  EXPECT_EQ(modbus_get_float(regs + 2), 2.0f);
  ASSERT_EQ(modbus_read_registers(ctx, 400, 2, regs), 2);
  EXPECT_EQ(modbus_get_float(regs), 2.5f);

  EXPECT_EQ(modbus_read_registers(ctx, 60, 1, regs), -1);
  EXPECT_EQ(errno, EMBXILADD);
  EXPECT_EQ(modbus_write_registers(ctx, 400, 2, calibration), -1);
  EXPECT_EQ(errno, EMBXILADD);

  server_->Stop();  // the device may be touched again once the server is done with it
  device.sensor().config().write_protect = true;
  std::string error;
  ASSERT_TRUE(server_->Start(error)) << error;
  modbus_close(ctx);
  modbus_free(ctx);
  ctx_ = nullptr;
  ctx = Connect(101);
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(modbus_write_registers(ctx, 436, 4, calibration), -1);
  EXPECT_EQ(errno, EMBXNACK) << "exception 7";
}

TEST_F(LibmodbusPeerTest, ReachesTheTemperatureSensorThroughTheCorrector) {
  CorrectorConfig config;
  config.service_delay_ms = 0;
  SimCorrector corrector(config, LineTiming{}, FaultConfig{});
  Serve(corrector);
  const int fd = simtest::OpenPort(server_->slave_path());
  ASSERT_GE(fd, 0);
  const simtest::Arrival entered = simtest::Exchange(fd, simtest::Enter(1, 2, 1), 6);
  close(fd);
  ASSERT_EQ(entered.bytes.size(), 6u);

  modbus_t* ctx = Connect(102);
  ASSERT_NE(ctx, nullptr) << modbus_strerror(errno);
  uint16_t regs[2] = {};
  ASSERT_EQ(modbus_read_registers(ctx, 59, 1, regs), 1) << modbus_strerror(errno);
  EXPECT_EQ(regs[0], 32);
  ASSERT_EQ(modbus_read_registers(ctx, 400, 2, regs), 2);
  EXPECT_EQ(modbus_get_float(regs), 20.0f);
}

// The executable as the demo runs it, driven by libmodbus through its COM link: the float word
// order as the independent master reads it, and a calibration written and read back.
TEST(LibmodbusPeerProgramTest, ReadsAndWritesTheSensorOfTheSimulatorProgram) {
  TempFolder folder;
  ChildProcess sim;
  const std::optional<std::string> link =
      StartSimulator(sim, VORLIX_SIM_EXE,
                     {"--connection", "direct", "--com", "77", "--pressure", "1", "--ini-dir",
                      folder.path().string()});
  ASSERT_TRUE(link.has_value()) << "vorlix-sim did not get ready: " << sim.error_text();

  modbus_t* ctx = modbus_new_rtu(link->c_str(), 19200, 'N', 8, 1);
  ASSERT_NE(ctx, nullptr);
  modbus_set_slave(ctx, 101);
  ASSERT_EQ(modbus_connect(ctx), 0) << modbus_strerror(errno);
  uint16_t regs[4] = {};
  ASSERT_EQ(modbus_read_registers(ctx, 400, 2, regs), 2) << modbus_strerror(errno);
  EXPECT_EQ(regs[0], 0x0000);  // 1.0 travels as 00 00 3F 80
  EXPECT_EQ(regs[1], 0x3F80);
  EXPECT_EQ(modbus_get_float(regs), 1.0f);
  uint16_t calibration[4];
  modbus_set_float(0.25f, calibration);
  modbus_set_float(2.0f, calibration + 2);
  ASSERT_EQ(modbus_write_registers(ctx, 436, 4, calibration), 4) << modbus_strerror(errno);
  ASSERT_EQ(modbus_read_registers(ctx, 436, 4, regs), 4);
  EXPECT_EQ(modbus_get_float(regs), 0.25f);
  EXPECT_EQ(modbus_get_float(regs + 2), 2.0f);
  ASSERT_EQ(modbus_read_registers(ctx, 400, 2, regs), 2);
  EXPECT_EQ(modbus_get_float(regs), 2.25f);  // raw 1 x slope 2 + offset 0.25
  modbus_close(ctx);
  modbus_free(ctx);

  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(*link)));
}

#else

TEST(LibmodbusPeerTest, Skipped) {
  GTEST_SKIP() << "libmodbus is not installed";
}

#endif

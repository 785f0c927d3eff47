// The exchange objects as the application runs them: the port opened by number through the
// serial layer, the real clock, and the simulated corrector or sensor at the far end of a
// pseudo-terminal, replying at the pace of a 19200 bit/s line. What the device received and
// sent is kept, so the frames on the wire are checked byte for byte, and bytes a terminal in
// its default mode would swallow or bend (0x03, 0x0A, 0x0D, 0x11, 0x13, 0x7F, 0xFF) are sent
// both ways on purpose.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "comm/calcbox.h"
#include "comm/modbusbox.h"
#include "sim/pty_server.h"
#include "sim/sim_corrector.h"
#include "sim/sim_sensor.h"
#include "tests/sim/sim_frames.h"
#include "tests/support/com_link.h"
#include "tests/support/scripted_host.h"
#include "tests/support/shared_device.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kCom = 41;

// Starts the device from a test body; stops the body when that failed or was skipped.
#define START_OR_RETURN(call)      \
  do {                             \
    ASSERT_NO_FATAL_FAILURE(call); \
    if (IsSkipped())               \
      return;                      \
  } while (0)

constexpr uint32_t kRate = 19200;

Bytes Head(const std::array<uint8_t, 256>& buffer, size_t n) {
  return Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
}

float FloatFromBits(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// A calibration whose register bytes are all ones a terminal in cooked mode would eat or
// translate: offset 0x0A0D0311 travels as 03 11 0A 0D, slope 0x3F11137F as 13 7F 3F 11.
const float kAwkwardOffset = FloatFromBits(0x0A0D0311);
const float kAwkwardSlope = FloatFromBits(0x3F11137F);

class ExchangeOverPty : public ::testing::Test {
 protected:
  void Serve(LineDevice& device) {
    recorder_ = std::make_unique<SharedDevice>(device);
    server_ = std::make_unique<PtyServer>(*recorder_, kRate);
    std::string error;
    if (!server_->Start(error))
      GTEST_SKIP() << "no pseudo-terminals here: " << error;
    ASSERT_TRUE(link_.MapAndOpen(kCom, server_->slave_path(), kRate, error)) << error;
  }

  // Stops serving, so the device may be looked at from the test.
  void StopServing() {
    link_.Close();
    if (server_)
      server_->Stop();
  }

  void TearDown() override { StopServing(); }

  std::unique_ptr<calcbox> Corrector(uint8_t address = 1) {
    auto box = OnLink(std::make_unique<calcbox>(address));
    box->preambles = 5;
    return box;
  }
  std::unique_ptr<modbusbox> Sensor(uint8_t address) {
    return OnLink(std::make_unique<modbusbox>(address));
  }
  template <typename Box>
  std::unique_ptr<Box> OnLink(std::unique_ptr<Box> box) {
    box->port_handle = link_.line();
    box->baud_rate = kRate;
    box->first_byte_timeout = 1000;
    box->next_byte_timeout = 300;
    box->tries = 1;
    box->ui = &ui_;
    return box;
  }

  std::unique_ptr<SharedDevice> recorder_;
  std::unique_ptr<PtyServer> server_;
  ComLink link_;
  ScriptedHost ui_;
};

// --- Through the corrector -------------------------------------------------------------------

class CorrectorOverPty : public ExchangeOverPty {
 protected:
  void SetUp() override {
    config_.service_delay_ms = 150;
    corrector_ = std::make_unique<SimCorrector>(config_, LineTiming{kRate, 3000}, faults_);
    Serve(*corrector_);
  }

  CorrectorConfig config_;
  FaultConfig faults_;
  std::unique_ptr<SimCorrector> corrector_;
};

TEST_F(CorrectorOverPty, IdentifiesAndReadsTheLineStateWithFramesIntactOnTheWire) {
  auto box = Corrector();
  ASSERT_TRUE(box->ReadIdentification()) << box->ErrorText();
  EXPECT_EQ(box->sw_version, 37);
  EXPECT_EQ(box->plate, 26);
  EXPECT_FALSE(box->const_password_required);
  EXPECT_EQ(recorder_->TakeReceived(), simtest::Preambled({0xAA, 0x01, 0x06, 0x01, 0xB2, 0x5C}, 5));
  const Bytes reply = recorder_->TakeSent();
  ASSERT_EQ(reply.size(), 165u);
  EXPECT_EQ(Head(box->reply, 165), reply);

  // The write password goes out in every 0xBB request; these bytes are the ones a terminal
  // left in its default mode would drop (XON, XOFF, interrupt) or translate (CR, LF).
  simtest::Codes codes;
  codes.write_password = {0x11, 0x13, 0x0D, 0x0A, 0x03, 0x1C, 0x7F, 0xFF, 0x00, 0x04, 0x1A, 0x20};
  box->write_password = codes.write_password;
  ASSERT_TRUE(box->ReadImitation(2)) << box->ErrorText();
  EXPECT_EQ(box->service_state, 0);
  EXPECT_EQ(recorder_->TakeReceived(), simtest::Preambled(simtest::Imitation(1, 2, codes), 5));
  EXPECT_EQ(Head(box->reply, 26), recorder_->TakeSent());
  EXPECT_TRUE(ui_.questions.empty());
}

TEST_F(CorrectorOverPty, RelaysModbusOnlyWhileTheLineIsInService) {
  auto corrector = Corrector();
  auto sensor = Sensor(101);

  EXPECT_FALSE(sensor->ReadRegisters(59, 1));
  EXPECT_EQ(sensor->error_code, 21);
  EXPECT_EQ(sensor->ErrorText(), "Команда 3. Пристрій не відповідає");

  ASSERT_TRUE(corrector->EnterService(1, 0, 0)) << corrector->ErrorText();
  EXPECT_EQ(corrector->service_state, 3);
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(ui_.cursor_changes, (std::vector<bool>{true, false}));

  // A second request for the same line is refused by the corrector; its reply is decoded.
  EXPECT_FALSE(corrector->EnterService(1, 0, 0));
  EXPECT_EQ(corrector->error_code, 12);
  ASSERT_EQ(ui_.questions.size(), 1u);
  EXPECT_EQ(ui_.questions[0].line1, "Спроба поставити на обслуговування:");
  EXPECT_EQ(ui_.questions[0].line2, corrector->ErrorText());
  EXPECT_FALSE(corrector->ErrorText().empty());
  EXPECT_TRUE(ui_.messages.empty()) << "a refusal is not an unconfirmed change";
  recorder_->TakeReceived();
  recorder_->TakeSent();

  ASSERT_TRUE(sensor->ReadUnit(0)) << sensor->ErrorText();
  ASSERT_TRUE(sensor->ReadRegisters(400, 2)) << sensor->ErrorText();
  EXPECT_EQ(RegistersToFloat(sensor->values[0], sensor->values[1]), 101.325f);
  float offset = -1, slope = -1;
  ASSERT_TRUE(sensor->ReadCalibration(offset, slope)) << sensor->ErrorText();
  EXPECT_EQ(offset, 0.0f);
  EXPECT_EQ(slope, 1.0f);
  recorder_->TakeReceived();
  recorder_->TakeSent();

  uint16_t words[4];
  FloatToRegisters(kAwkwardOffset, words[0], words[1]);
  FloatToRegisters(kAwkwardSlope, words[2], words[3]);
  ASSERT_TRUE(sensor->WriteRegisters(436, 4, words)) << sensor->ErrorText();
  const Bytes write = simtest::Sealed(
      {101, 16, 0x01, 0xB4, 0x00, 0x04, 8, 0x03, 0x11, 0x0A, 0x0D, 0x13, 0x7F, 0x3F, 0x11});
  EXPECT_EQ(recorder_->TakeReceived(), write);
  EXPECT_EQ(recorder_->TakeSent(), simtest::Sealed({101, 16, 0x01, 0xB4, 0x00, 0x04}));
  ASSERT_TRUE(sensor->ReadCalibration(offset, slope)) << sensor->ErrorText();
  EXPECT_EQ(offset, kAwkwardOffset);
  EXPECT_EQ(slope, kAwkwardSlope);

  ASSERT_TRUE(corrector->LeaveService(1)) << corrector->ErrorText();
  EXPECT_EQ(corrector->service_state, 0);
  EXPECT_FALSE(sensor->ReadRegisters(59, 1));
  EXPECT_EQ(sensor->error_code, 21);

  StopServing();
  EXPECT_EQ(corrector_->sensor(1, 0).offset(), kAwkwardOffset);
  EXPECT_EQ(corrector_->sensor(1, 0).slope(), kAwkwardSlope);
  EXPECT_EQ(corrector_->sensor(1, 1).slope(), 1.0f) << "the other channel is untouched";
}

// The faults are fixed before the corrector starts serving, so each test starts it itself.
class CorrectorFaultsOverPty : public CorrectorOverPty {
 protected:
  void SetUp() override {}
  void Start(const FaultConfig& faults) {
    faults_ = faults;
    CorrectorOverPty::SetUp();
  }
};

TEST_F(CorrectorFaultsOverPty, SpoiledReplyIsReportedAndTheRepeatSucceeds) {
  FaultConfig faults;
  faults.bad_checksum = true;
  faults.target = FaultTarget::kCorrector;
  faults.count = 1;
  START_OR_RETURN(Start(faults));
  auto box = Corrector();
  ui_.answers = {true};
  ASSERT_TRUE(box->ReadIdentification()) << box->ErrorText();
  ASSERT_EQ(ui_.questions.size(), 1u);
  EXPECT_EQ(ui_.questions[0].line1, "Запит на читання параметрів ідентифікації:");
  EXPECT_EQ(ui_.questions[0].line2, "Неспівпадання КС відповіді пристрою");
  EXPECT_EQ(ui_.questions[0].line3, "Повторити спробу?");
  EXPECT_EQ(box->plate, 26);
}

TEST_F(CorrectorFaultsOverPty, SilentCorrectorGetsEveryTryThenNoAnswer) {
  FaultConfig faults;
  faults.silence = true;
  START_OR_RETURN(Start(faults));
  auto box = Corrector();
  box->first_byte_timeout = 200;
  box->tries = 2;
  EXPECT_FALSE(box->Exchange(calcbox::kStartPlain, calcbox::kFunctionIdentification, nullptr, 0));
  EXPECT_EQ(box->error_code, 6);
  EXPECT_EQ(box->ErrorText(), "Пристрій не відповідає");
  const Bytes once = simtest::Preambled({0xAA, 0x01, 0x06, 0x01, 0xB2, 0x5C}, 5);
  Bytes twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(recorder_->TakeReceived(), twice);
}

// --- Straight to the sensor ------------------------------------------------------------------

class DirectOverPty : public ExchangeOverPty {
 protected:
  void Start(const FaultConfig& faults = {}) {
    SensorConfig config = SensorConfig::Pressure();
    config.address = 1;
    device_ = std::make_unique<SimDirectSensor>(config, LineTiming{kRate, 3000}, faults);
    Serve(*device_);
  }

  std::unique_ptr<SimDirectSensor> device_;
};

TEST_F(DirectOverPty, ChecksTheUnitReadsAndWritesTheCalibration) {
  START_OR_RETURN(Start());
  auto sensor = Sensor(1);
  ASSERT_TRUE(sensor->ReadUnit(0)) << sensor->ErrorText();
  EXPECT_EQ(recorder_->TakeReceived(), (Bytes{0x01, 0x03, 0x00, 0x3B, 0x00, 0x01, 0xF5, 0xC7}));
  EXPECT_EQ(recorder_->TakeSent(), simtest::Sealed({0x01, 0x03, 0x02, 0x00, 0x0C}));

  EXPECT_FALSE(sensor->ReadUnit(1));
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text, "Очікуваний код одиниці виміру 32\rПрочитано у давачі 12");
  EXPECT_TRUE(ui_.questions.empty());

  uint16_t words[4];
  FloatToRegisters(kAwkwardOffset, words[0], words[1]);
  FloatToRegisters(kAwkwardSlope, words[2], words[3]);
  ASSERT_TRUE(sensor->WriteRegisters(436, 4, words)) << sensor->ErrorText();
  float offset = 0, slope = 0;
  ASSERT_TRUE(sensor->ReadCalibration(offset, slope)) << sensor->ErrorText();
  EXPECT_EQ(offset, kAwkwardOffset);
  EXPECT_EQ(slope, kAwkwardSlope);
  ASSERT_TRUE(sensor->ReadRegisters(400, 2)) << sensor->ErrorText();
  const float value = RegistersToFloat(sensor->values[0], sensor->values[1]);
  EXPECT_NEAR(value, 101.325 * static_cast<double>(kAwkwardSlope), 1e-3);

  StopServing();
  EXPECT_EQ(device_->sensor().offset(), kAwkwardOffset);
  EXPECT_EQ(device_->sensor().slope(), kAwkwardSlope);
}

struct SensorFault {
  const char* name;
  FaultConfig faults;
  int code;  // of the spoiled read; the next one must succeed
  const char* text;
};

FaultConfig Spoil(void (*set)(FaultConfig&)) {
  FaultConfig f;
  set(f);
  f.target = FaultTarget::kSensor;
  f.count = 1;
  return f;
}

class DirectFaultOverPty : public DirectOverPty,
                           public ::testing::WithParamInterface<SensorFault> {};

TEST_P(DirectFaultOverPty, IsReportedAndTheLineRecovers) {
  const SensorFault& fault = GetParam();
  START_OR_RETURN(Start(fault.faults));
  auto sensor = Sensor(1);
  const bool ok = sensor->ReadRegisters(400, 2);
  EXPECT_EQ(sensor->error_code, fault.code);
  if (fault.code == 0) {
    EXPECT_TRUE(ok);
    EXPECT_EQ(RegistersToFloat(sensor->values[0], sensor->values[1]), 101.325f);
  } else {
    EXPECT_FALSE(ok);
    EXPECT_EQ(sensor->ErrorText(), fault.text);
  }
  ASSERT_TRUE(sensor->ReadRegisters(400, 2)) << sensor->ErrorText();
  EXPECT_EQ(RegistersToFloat(sensor->values[0], sensor->values[1]), 101.325f);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DirectFaultOverPty,
    ::testing::Values(
        SensorFault{"BadChecksum", Spoil([](FaultConfig& f) { f.bad_checksum = true; }), 27,
                    "Команда 3. Неспівпадання КС відповіді пристрою"},
        SensorFault{"CutAfterFiveBytes", Spoil([](FaultConfig& f) { f.cut_after = 5; }), 25,
                    "Команда 3. Відповідь отримана не повністю (перевищено час поміж байтами)"},
        SensorFault{"LateByte", Spoil([](FaultConfig& f) { f.slow_byte_ms = 600; }), 25,
                    "Команда 3. Відповідь отримана не повністю (перевищено час поміж байтами)"},
        SensorFault{"OneRegisterTooMany", Spoil([](FaultConfig& f) { f.wrong_length = true; }), 29,
                    "Команда 3. Невідповідність даних у відповіді запрошуваним даним"},
        SensorFault{"NoiseBeforeTheReply", Spoil([](FaultConfig& f) { f.noise_bytes = 4; }), 0,
                    ""}),
    [](const ::testing::TestParamInfo<SensorFault>& info) { return info.param.name; });

}  // namespace

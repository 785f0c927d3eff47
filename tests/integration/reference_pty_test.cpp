// The reference instrument through the real serial layer: vorlix-sim serves the sensor and a
// pressure controller on two pseudo-terminals, the controller moving what the sensor reads.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "comm/comportfunctions.h"
#include "comm/modbusbox.h"
#include "core/reference_link.h"
#include "sim/child_process.h"
#include "tests/support/com_link.h"
#include "tests/support/scripted_host.h"
#include "tests/support/temp_folder.h"

namespace {

constexpr int kSensorCom = 221;
constexpr int kReferenceCom = 222;

class ReferencePtyTest : public ::testing::Test {
 protected:
  void Start(std::vector<std::string> reference_args) {
    std::vector<std::string> args = {"--ini-dir",       ini_,
                                     "--connection",    "direct",
                                     "--com",           std::to_string(kSensorCom),
                                     "--reference-com", std::to_string(kReferenceCom)};
    args.insert(args.end(), reference_args.begin(), reference_args.end());
    ASSERT_TRUE(StartSimulator(sim_, VORLIX_SIM_EXE, args)) << sim_.error_text();
    std::string error;
    ASSERT_TRUE(sensor_link_.OpenIn(ini_ + "/ports", kSensorCom, 19200, error)) << error;
    sensor_.port_handle = sensor_link_.line();
    sensor_.first_byte_timeout = 500;
    SetComPortsFolder(ini_ + "/ports");  // ComLink's folder, for the reference's own open
  }
  void TearDown() override {
    reference_.reset();
    sensor_link_.Close();
    sim_.Stop();
  }
  // Asks the controller until it says in limits, for at most 5 s.
  static bool WaitInLimits(ReferenceLink& ref) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    bool in_limits = false;
    std::string error;
    while (!in_limits && std::chrono::steady_clock::now() < give_up) {
      if (ref.InLimits(in_limits, error) != ReferenceLink::Result::kOk)
        return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return in_limits;
  }
  std::unique_ptr<ReferenceLink>& Reference(ReferenceSettings s) {
    s.port = kReferenceCom;
    reference_ = std::make_unique<ReferenceLink>(s, SystemClock::Instance(), ui_, &tap_);
    return reference_;
  }

  TempFolder folder_;
  const std::string ini_ = folder_.path().string() + "/INI";
  ChildProcess sim_;
  ComLink sensor_link_;
  modbusbox sensor_{101};
  ScriptedHost ui_;
  LineTap tap_{SystemClock::Instance()};
  std::unique_ptr<ReferenceLink> reference_;
};

TEST_F(ReferencePtyTest, TheControllerMovesTheSensorsInputSettlesAndVents) {
  Start({"--reference-style", "scpi", "--reference-slew", "200", "--reference-unit", "bar"});
  ReferenceSettings s;
  ApplyReferencePreset(ReferencePresets()[0], s);
  s.unit = "bar";
  auto& ref = Reference(s);
  std::string error;
  ASSERT_TRUE(ref->Open(error)) << error;
  std::string id;
  ASSERT_EQ(ref->Identify(id, error), ReferenceLink::Result::kOk) << error;
  EXPECT_EQ(id, "VORLIX-SIM,REFERENCE,0001,1.0");

  ASSERT_EQ(ref->SetPoint(160.0, 0, 1, error), ReferenceLink::Result::kOk) << error;
  bool in_limits = true;
  ASSERT_EQ(ref->InLimits(in_limits, error), ReferenceLink::Result::kOk) << error;
  EXPECT_FALSE(in_limits);  // 58.7 kPa away at 200 kPa/s
  ASSERT_TRUE(WaitInLimits(*ref));
  double applied = 0;
  ASSERT_EQ(ref->Read(0, 1, applied, error), ReferenceLink::Result::kOk) << error;
  float measured = 0;
  ASSERT_TRUE(sensor_.ReadValue(measured)) << sensor_.ErrorText();
  EXPECT_NEAR(applied, 160.0, 0.011);
  EXPECT_NEAR(measured, applied, 0.011);

  // Vented: back to where it started, overshoot and all.
  ASSERT_EQ(ref->Output(false, error), ReferenceLink::Result::kOk) << error;
  EXPECT_TRUE(WaitInLimits(*ref));
  ASSERT_TRUE(sensor_.ReadValue(measured));
  EXPECT_NEAR(measured, 101.325, 0.011);
  EXPECT_EQ(tap_.stats(TapProtocol::kReference).timeouts, 0u);
}

TEST_F(ReferencePtyTest, ASilentReferenceIsNamedWithTheQueryItDidNotAnswer) {
  Start({"--reference-fault-silence"});
  ReferenceSettings s;
  ApplyReferencePreset(ReferencePresets()[1], s);
  s.timeout = 200;
  auto& ref = Reference(s);
  std::string error;
  ASSERT_TRUE(ref->Open(error)) << error;
  double value = -1;
  EXPECT_EQ(ref->Read(0, 1, value, error), ReferenceLink::Result::kFailed);
  EXPECT_EQ(error, "Еталон (COM222): не відповідає на «VAL?»");
  EXPECT_EQ(value, -1);
  EXPECT_EQ(tap_.stats(TapProtocol::kReference).timeouts, 1u);
}

}  // namespace

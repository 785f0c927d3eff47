// A calibration program killed at each question and message that follows a write, against
// vorlix-sim through the serial layer: the journal holds the write's record, and putting back
// its calibration as found gives the sensor its registers bit for bit.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <chrono>
#include <optional>
#include <string>

#include "comm/modbusbox.h"
#include "core/calibration_restore.h"
#include "core/calibration_write.h"
#include "sim/child_process.h"
#include "tests/support/com_link.h"
#include "tests/support/scripted_host.h"
#include "tests/support/temp_folder.h"

namespace {

constexpr int kCom = 214;
constexpr int kRate = 115200;
const SensorCalibration kAsFound{-2.0f, 1.25f};

// Dies the way a flat battery ends a program, at the `kill_at`-th question or message.
class DyingHost final : public ExchangeHost {
 public:
  explicit DyingHost(int kill_at) : kill_at_(kill_at) {}
  void ProcessMessages() override {}
  bool AskQuestion(const std::string&, const std::optional<std::string>&,
                   const std::optional<std::string>&) override {
    Count();
    return true;
  }
  void ShowMessage(const std::string&, const std::string&) override { Count(); }
  void SetBusyCursor(bool) override {}

 private:
  void Count() {
    if (++seen_ == kill_at_)
      raise(SIGKILL);
  }
  int kill_at_;
  int seen_ = 0;
};

modbusbox SensorOn(SerialLine* line, ExchangeHost& ui) {
  modbusbox sensor(101);
  sensor.port_handle = line;
  sensor.baud_rate = kRate;
  sensor.first_byte_timeout = 300;
  sensor.next_byte_timeout = 60;
  sensor.ui = &ui;
  return sensor;
}

// What the two-point command does after its write: the message, the question offering the
// check, the check's message, the question offering the certificate.
int CalibrateAndDie(const std::string& ports, const std::string& journal_folder, int kill_at) {
  ComLink link;
  std::string error;
  if (!link.OpenIn(ports, kCom, kRate, error))
    return 2;
  DyingHost ui(kill_at);
  modbusbox sensor = SensorOn(link.line(), ui);
  AppState state;
  state.ConnectSettings.port = kCom;
  state.SensorOffset = kAsFound.offset;
  state.SensorSlope = kAsFound.slope;
  JournalRecord journal = NewJournalRecord(state, "кПа");
  journal.sensor_address = 101;
  const CalibrationLink calibration{
      &ui, [&] { return &sensor; }, [](const std::function<bool()>& f) { return f(); },
      [&](const JournalRecord& r) { return KeepJournalRecord(ui, journal_folder, r); }};
  if (WriteVerifiedCalibration(calibration, {0.5f, 0.98f}, journal, JournalOutcome::kWritten) !=
      WriteResult::kWritten)
    return 3;
  CalibrationRecord record;
  record.factor = 1.0;
  record.digits = 2;
  record.point = 1;
  record.applied = {0.0f, 100.0f};
  if (!ui.AskQuestion("Калібровку записано.", std::nullopt, AppliedPointText(record, "кПа")))
    return 4;
  CheckAtAppliedPoint(calibration, record, journal, [] {
    ReadingSpread s;
    s.count = 10;
    s.mean = 100.01;
    return std::optional<ReadingSpread>(s);
  });
  ui.AskQuestion("Калібровку записано.", std::string("Показати сертифікат калібровки?"),
                 std::nullopt);
  return 0;
}

TEST(WriteKill, EachQuestionAfterAWriteLeavesARecordThatRestoresTheRegistersBitForBit) {
  TempFolder folder;
  const std::string dir = folder.path().string();
  ChildProcess sim;
  ASSERT_TRUE(StartSimulator(sim, VORLIX_SIM_EXE,
                             {"--ini-dir", dir, "--com", std::to_string(kCom), "--rate",
                              std::to_string(kRate), "--turnaround", "1", "--connection", "direct",
                              "--slope", "1.25", "--offset", "-2", "--noise", "0"})
                  .has_value())
      << sim.error_text();
  const std::string ports = dir + "/ports";

  for (int kill_at = 1; kill_at <= 4; ++kill_at) {
    SCOPED_TRACE("killed at question or message " + std::to_string(kill_at));
    const std::string journal_folder = dir + "/journal" + std::to_string(kill_at);
    std::filesystem::create_directories(journal_folder);
    ChildProcess program;
    ASSERT_TRUE(program.Fork([&] { return CalibrateAndDie(ports, journal_folder, kill_at); }));
    const std::optional<int> status = program.WaitExit(std::chrono::seconds(20));
    ASSERT_TRUE(status.has_value());
    ASSERT_EQ(*status, 128 + SIGKILL) << program.error_text();

    const std::vector<JournalRecord> runs = ReadJournal(JournalPath(journal_folder));
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].outcome, JournalOutcome::kWritten);
    // The check is kept before its message is shown.
    EXPECT_EQ(runs[0].steps.size(), kill_at >= 3 ? 1u : 0u);
    const std::optional<SensorCalibration> target = RestoreTarget(runs[0], RestoreWhich::kAsFound);
    ASSERT_TRUE(target.has_value());

    ComLink link;
    std::string error;
    ASSERT_TRUE(link.OpenIn(ports, kCom, kRate, error)) << error;
    ScriptedHost ui;
    modbusbox sensor = SensorOn(link.line(), ui);
    SensorCalibration now;
    ASSERT_TRUE(sensor.ReadCalibration(now.offset, now.slope)) << sensor.ErrorText();
    EXPECT_TRUE(now.SameBits({0.5f, 0.98f}));
    ASSERT_TRUE(sensor.WriteCalibration(target->offset, target->slope)) << sensor.ErrorText();
    ASSERT_TRUE(sensor.ReadCalibration(now.offset, now.slope)) << sensor.ErrorText();
    EXPECT_EQ(now.Words(), kAsFound.Words());
  }
  sim.Stop();
}

}  // namespace

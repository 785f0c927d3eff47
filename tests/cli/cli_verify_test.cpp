// vorlix-cli verify as a bench runs it: vorlix-sim's sensor made non-linear and hysteretic, its
// input set through the simulator's bench lines, the applied values typed on the program's
// standard input, everything else through the real serial layer.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "core/calibration_journal.h"
#include "core/reference_standards.h"
#include "core/verification_run.h"
#include "sim/child_process.h"
#include "tests/support/temp_folder.h"

namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr int kCom = 215;
// The simulated sensor: 5 % of its 0..1000 kPa span of quadratic error at mid-range, falling
// readings 1 kPa above rising ones.
constexpr double kNonlinearity = 0.5;  // % of the span
constexpr double kHysteresis = 1.0;

double ModelError(double applied, bool falling) {
  const double share = applied / 1000.0;
  return kNonlinearity / 100.0 * 1000.0 * 4.0 * share * (1.0 - share) +
         (falling ? kHysteresis / 2 : -kHysteresis / 2);
}

class CliVerifyTest : public ::testing::Test {
 protected:
  void TearDown() override { sim_.Stop(); }

  void StartSim(const std::string& noise) {
    ASSERT_TRUE(StartSimulator(sim_, VORLIX_SIM_EXE,
                               {"--ini-dir", dir_, "--com", std::to_string(kCom), "--connection",
                                "direct", "--pressure", "0", "--noise", noise, "--nonlinearity",
                                std::to_string(kNonlinearity), "--hysteresis", "1", "--rate",
                                "115200", "--turnaround", "1"})
                    .has_value())
        << sim_.error_text();
  }

  // Runs verify, applying each point's nominal value at the simulator when the program asks
  // for it and typing it as the applied value. Each line of its output, parsed.
  std::vector<json> Verify(const std::vector<std::string>& options, int& status) {
    std::vector<std::string> args = {
        VORLIX_CLI_EXE, "--ini",  ini_,     "--port", std::to_string(kCom),
        "--rate",       "115200", "--type", "direct", "--interval",
        "50",           "--json", "verify"};
    args.insert(args.end(), options.begin(), options.end());
    ChildProcess cli;
    EXPECT_TRUE(cli.Start(args));
    std::vector<json> lines;
    while (const std::optional<std::string> line = cli.WaitForLine("{", 60s)) {
      lines.push_back(json::parse(*line));
      if (lines.back().contains("verification"))
        break;
      if (!lines.back().contains("apply"))
        continue;
      const std::string value = FormatValue(lines.back()["apply"]["nominal"].get<double>());
      sim_.WriteInput("pressure " + value + "\n");
      EXPECT_TRUE(sim_.WaitForLine("pressure " + value + " applied", 10s).has_value());
      cli.WriteInput(value + "\n");
    }
    status = cli.WaitExit(60s).value_or(-1);
    EXPECT_TRUE(!lines.empty() && lines.back().contains("verification")) << cli.error_text();
    return lines;
  }

  static std::string FormatValue(double v) {
    std::ostringstream out;
    out << v;
    return out.str();
  }

  TempFolder folder_;
  const std::string dir_ = folder_.path().string();
  const std::string ini_ = dir_ + "/vorlix.ini";
  ChildProcess sim_;
};

TEST_F(CliVerifyTest, AsFoundErrorsAndHysteresisAreTheSensorsModelWithinTheNoise) {
  StartSim("0.004");  // within one step of the 2 decimals shown, so the readings settle
  int status = -1;
  const std::vector<json> lines = Verify({"--range", "0:1000", "--direction", "both", "--tolerance",
                                          "1", "--tolerance-kind", "span", "--stage", "as-found"},
                                         status);
  EXPECT_EQ(status, 0);  // 5 kPa at most, within 1 % of the span
  const json& run = lines.back()["verification"];
  ASSERT_EQ(run["points"].size(), 9u);
  for (const json& p : run["points"]) {
    const bool falling = p["direction"] == "falling";
    const double applied = p["applied"].get<double>();
    EXPECT_NEAR(p["error"].get<double>(), ModelError(applied, falling), 0.004) << p.dump();
    EXPECT_EQ(p["readings"], 10);
    EXPECT_EQ(p["verdict"], "pass");
    EXPECT_NEAR(p["error_of_span"].get<double>(), p["error"].get<double>() / 10.0, 1e-9);
  }
  ASSERT_EQ(run["hysteresis"].size(), 4u);  // not at the top, visited once
  for (const json& h : run["hysteresis"])
    EXPECT_NEAR(h["value"].get<double>(), kHysteresis, 0.008) << h.dump();
  EXPECT_EQ(run["verdict"], "pass");

  // The run is in the journal, as found, with its points.
  const std::vector<JournalRecord> journal = ReadJournal(JournalPath(dir_));
  ASSERT_EQ(journal.size(), 1u);
  const std::optional<VerificationRun> kept = VerificationFromRecord(journal[0]);
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(kept->stage, VerificationStage::kAsFound);
  EXPECT_EQ(kept->points.size(), 9u);
  EXPECT_EQ(kept->run, run["run"]);
}

TEST_F(CliVerifyTest, VerdictsFollowTheGuardBandExactlyAtItsEdges) {
  // Without noise the errors are exact: rising -0.5, 3.25, 4.5, 3.25, -0.5; falling 4.25, 5.5,
  // 4.25, 0.5. Against ±4.25 kPa with U = 1 kPa: 3.25 + U equals the tolerance (pass); 4.25
  // equals it (conditional pass); 4.5 lies inside the band beyond it (conditional fail); 5.5 -
  // U is beyond it (fail).
  StartSim("0");
  const ReferenceStandard reference{"КТ-1",       "Калібратор", "17", "UA/42",
                                    "2099-12-31", 1.0,          2.0,  "кПа"};
  ASSERT_TRUE(SaveReferenceStandards(ReferenceRegisterPath(dir_), {reference}));
  int status = -1;
  const std::vector<json> lines =
      Verify({"--range", "0:1000", "--direction", "both", "--tolerance", "4.25", "--tolerance-kind",
              "unit", "--rule", "guard", "--reference", "КТ-1"},
             status);
  EXPECT_EQ(status, 8);
  const json& run = lines.back()["verification"];
  EXPECT_EQ(run["uncertainty"], 1.0);
  const std::vector<std::pair<double, std::string>> expected = {{-0.5, "pass"},
                                                                {3.25, "pass"},
                                                                {4.5, "conditional_fail"},
                                                                {3.25, "pass"},
                                                                {-0.5, "pass"},
                                                                {4.25, "conditional_pass"},
                                                                {5.5, "fail"},
                                                                {4.25, "conditional_pass"},
                                                                {0.5, "pass"}};
  ASSERT_EQ(run["points"].size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(run["points"][i]["error"].get<double>(), expected[i].first) << i;
    EXPECT_EQ(run["points"][i]["verdict"], expected[i].second) << i;
  }
  EXPECT_EQ(run["verdict"], "fail");
  // Every point was also told as it was measured, before the end.
  EXPECT_EQ(
      std::count_if(lines.begin(), lines.end(), [](const json& j) { return j.contains("point"); }),
      9);
}

TEST_F(CliVerifyTest, AnEndedInputCancelsTheRunAndKeepsWhatWasMeasured) {
  StartSim("0");
  std::vector<std::string> args = {
      VORLIX_CLI_EXE, "--ini",  ini_,     "--port",   std::to_string(kCom),
      "--rate",       "115200", "--type", "direct",   "--interval",
      "50",           "--json", "verify", "--points", "0;500",
      "--applied",    "0"};
  ChildProcess cli;
  ASSERT_TRUE(cli.Start(args));
  cli.WriteInput("\n");  // the bench has applied the first value
  ASSERT_TRUE(cli.WaitForLine("{\"point\"", 60s).has_value()) << cli.error_text();
  cli.CloseInput();  // and then gives no second one
  EXPECT_EQ(cli.WaitExit(60s).value_or(-1), 1);
  const std::vector<JournalRecord> journal = ReadJournal(JournalPath(dir_));
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].outcome, JournalOutcome::kCancelled);
  EXPECT_EQ(VerificationFromRecord(journal[0])->points.size(), 1u);
}

}  // namespace

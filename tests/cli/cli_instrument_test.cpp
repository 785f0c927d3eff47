// vorlix-cli verify --instrument against vorlix-sim: the simulated controller moves the input of
// the non-linear, hysteretic simulated sensor, both on ports of their own through the real
// serial layer.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "core/calibration_journal.h"
#include "core/verification_run.h"
#include "sim/child_process.h"
#include "tests/support/temp_folder.h"

namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr int kCom = 217;
constexpr int kReferenceCom = 218;
constexpr double kNonlinearity = 0.5;  // % of the 0..1000 kPa span at mid-range
constexpr double kHysteresis = 1.0;    // kPa, falling above rising
const char kIdentification[] = "VORLIX-SIM,REFERENCE,0001,1.0";

double ModelError(double applied, bool falling) {
  const double share = applied / 1000.0;
  return kNonlinearity / 100.0 * 1000.0 * 4.0 * share * (1.0 - share) +
         (falling ? kHysteresis / 2 : -kHysteresis / 2);
}

class CliInstrumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream ini(ini_);
    ini << "[REFERENCE]\nport=" << kReferenceCom
        << "\nrate=115200\nline_end=1\ntimeout=300\nidentify=*IDN?\nread=:SENS:PRES?\n"
           "in_limits=:SENS:PRES:INL?\ncontroller=1\nset_point=:SOUR:PRES {value}\n"
           "output_on=:OUTP:STAT ON\noutput_off=:OUTP:STAT OFF\nunit=kPa\ncheck_unit=1\n";
  }
  void TearDown() override { sim_.Stop(); }

  void StartSim(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"--ini-dir",
                                     dir_,
                                     "--com",
                                     std::to_string(kCom),
                                     "--connection",
                                     "direct",
                                     "--pressure",
                                     "0",
                                     "--noise",
                                     "0.004",
                                     "--nonlinearity",
                                     std::to_string(kNonlinearity),
                                     "--hysteresis",
                                     "1",
                                     "--rate",
                                     "115200",
                                     "--turnaround",
                                     "1",
                                     "--reference-com",
                                     std::to_string(kReferenceCom),
                                     "--reference-style",
                                     "scpi",
                                     "--reference-rate",
                                     "115200",
                                     "--reference-slew",
                                     "20000",
                                     "--reference-overshoot",
                                     "0",
                                     "--reference-in-limits",
                                     "0.05"};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(StartSimulator(sim_, VORLIX_SIM_EXE, args).has_value()) << sim_.error_text();
  }

  void StartCli(const std::vector<std::string>& command) {
    std::vector<std::string> args = {
        VORLIX_CLI_EXE, "--ini",  ini_,     "--port", std::to_string(kCom),
        "--rate",       "115200", "--type", "direct", "--interval",
        "50",           "--json"};
    args.insert(args.end(), command.begin(), command.end());
    ASSERT_TRUE(cli_.Start(args));
  }

  // The run's JSON lines up to its final object; the exit status in `status`.
  std::vector<json> Finish(int& status) {
    std::vector<json> lines;
    while (const std::optional<std::string> line = cli_.WaitForLine("{", 60s)) {
      lines.push_back(json::parse(*line));
      if (lines.back().contains("verification"))
        break;
    }
    status = cli_.WaitExit(60s).value_or(-1);
    return lines;
  }

  // The commands the simulated controller received, in order.
  std::vector<std::string> ControllerCommands() {
    std::vector<std::string> list;
    std::istringstream out(sim_.output());
    const std::string prefix = "reference received ";
    for (std::string line; std::getline(out, line);)
      if (line.rfind(prefix, 0) == 0)
        list.push_back(line.substr(prefix.size()));
    return list;
  }

  TempFolder folder_;
  const std::string dir_ = folder_.path().string();
  const std::string ini_ = dir_ + "/vorlix.ini";
  ChildProcess sim_;
  ChildProcess cli_;
};

const std::vector<std::string> kPlan = {"verify",      "--instrument", "--range",          "0:1000",
                                        "--points",    "0;500;1000",   "--direction",      "both",
                                        "--tolerance", "4.75",         "--tolerance-kind", "unit"};

TEST_F(CliInstrumentTest, AnUnattendedRunFindsTheSensorsModelAndVentsLast) {
  StartSim();
  StartCli(kPlan);
  int status = -1;
  const std::vector<json> lines = Finish(status);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(status, 8) << cli_.error_text();  // 5.5 kPa falling at mid-range is beyond 4.75
  const json& run = lines.back()["verification"];
  EXPECT_EQ(run["instrument"], kIdentification);
  ASSERT_EQ(run["points"].size(), 5u);
  const double nominal[] = {0, 500, 1000, 500, 0};
  for (size_t i = 0; i < 5; ++i) {
    const json& p = run["points"][i];
    const bool falling = p["direction"] == "falling";
    EXPECT_EQ(p["nominal"], nominal[i]);
    EXPECT_EQ(falling, i >= 3);
    EXPECT_EQ(p["source"], "instrument");
    EXPECT_EQ(p["source_id"], kIdentification);
    EXPECT_NEAR(p["applied"].get<double>(), nominal[i], 0.06) << p.dump();
    EXPECT_NEAR(p["error"].get<double>(), ModelError(p["applied"], falling), 0.006) << p.dump();
    EXPECT_EQ(p["verdict"], i == 3 ? "fail" : "pass") << p.dump();
  }
  ASSERT_EQ(run["hysteresis"].size(), 2u);
  for (const json& h : run["hysteresis"])
    EXPECT_NEAR(h["value"].get<double>(), kHysteresis, 0.012) << h.dump();

  // Progress: each point started, settled and done with its time, in order.
  std::vector<std::string> kinds;
  for (const json& l : lines)
    if (!l.contains("verification"))
      kinds.push_back(l.begin().key());
  ASSERT_EQ(kinds.size(), 15u);
  EXPECT_EQ(kinds[0], "point_started");
  EXPECT_EQ(kinds[1], "settled");
  EXPECT_EQ(kinds[2], "point_done");
  EXPECT_GT(lines[14]["point_done"]["ms"].get<int>(), 0);
  EXPECT_EQ(lines[14]["point_done"]["index"], 5);

  ASSERT_TRUE(sim_.WaitForLine("reference received :OUTP:STAT OFF", 5s));
  const std::vector<std::string> commands = ControllerCommands();
  EXPECT_EQ(commands, (std::vector<std::string>{":SOUR:PRES 0", ":OUTP:STAT ON", ":SOUR:PRES 500",
                                                ":SOUR:PRES 1000", ":SOUR:PRES 500", ":SOUR:PRES 0",
                                                ":OUTP:STAT OFF"}));

  const std::vector<JournalRecord> journal = ReadJournal(JournalPath(dir_));
  ASSERT_EQ(journal.size(), 1u);
  const std::optional<VerificationRun> kept = VerificationFromRecord(journal[0]);
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(kept->instrument, kIdentification);
  EXPECT_EQ(kept->points.size(), 5u);
  EXPECT_EQ(kept->points[4].applied_readings, 10);
}

TEST_F(CliInstrumentTest, ATerminationRequestVentsAndKeepsTheMeasuredPointsAsACancelledRun) {
  StartSim();
  StartCli(kPlan);
  ASSERT_TRUE(cli_.WaitForLine("{\"point_done\"", 30s));
  ASSERT_TRUE(cli_.WaitForLine("{\"point_done\"", 30s));
  ASSERT_TRUE(cli_.WaitForLine("{\"point_started\"", 30s));
  cli_.Signal(SIGTERM);
  int status = -1;
  const std::vector<json> lines = Finish(status);
  EXPECT_EQ(status, 7) << cli_.error_text();
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines.back()["verification"]["cancelled"].get<bool>());

  ASSERT_TRUE(sim_.WaitForLine("reference received :OUTP:STAT OFF", 5s));
  EXPECT_EQ(ControllerCommands().back(), ":OUTP:STAT OFF");
  const std::vector<JournalRecord> journal = ReadJournal(JournalPath(dir_));
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].outcome, JournalOutcome::kCancelled);
  EXPECT_EQ(VerificationFromRecord(journal[0])->points.size(), 2u);
}

TEST_F(CliInstrumentTest, ALostReferencePortStopsTheRunAndItsOutputIsVentedWhenItIsBack) {
  // Identification, the first set point, output on, then polls: lost during the first point.
  StartSim({"--reference-unplug-after", "12", "--reference-unplug-for", "1"});
  StartCli(kPlan);
  int status = -1;
  const std::vector<json> lines = Finish(status);
  EXPECT_EQ(status, 4);
  const std::string err = cli_.error_text();
  EXPECT_NE(err.find("Еталон (COM218): зв'язок з еталоном втрачено"), std::string::npos) << err;
  EXPECT_NE(err.find("Еталон (COM218): output vented"), std::string::npos) << err;
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines.back()["verification"]["points"].empty());
  ASSERT_TRUE(sim_.WaitForLine("reference plugged back in", 5s));
  ASSERT_TRUE(sim_.WaitForLine("reference received :OUTP:STAT OFF", 5s));
  EXPECT_EQ(ControllerCommands().back(), ":OUTP:STAT OFF");
}

TEST_F(CliInstrumentTest, AnAnswerThatIsNoReadingStopsWithWhatItSaidAndTheSensorIsUntouched) {
  struct Case {
    std::vector<std::string> fault;
    const char* message;
  };
  const Case cases[] = {
      {{"--reference-fault-reply", "OK"},
       "Еталон (COM218): на «:SENS:PRES?» відповів «OK»: у відповіді немає числа"},
      {{"--reference-fault-unit", "psi"},
       "Еталон (COM218): на «:SENS:PRES?» відповів «0.00000 psi»: показ в одиницях psi, а "
       "очікується kPa"},
      {{"--reference-fault-silence"}, "Еталон (COM218): не відповідає на «*IDN?»"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    std::filesystem::remove(JournalPath(dir_));
    StartSim(c.fault);
    StartCli(kPlan);
    int status = -1;
    const std::vector<json> lines = Finish(status);
    EXPECT_EQ(status, 4);
    EXPECT_NE(cli_.error_text().find(std::string("vorlix-cli: ") + c.message), std::string::npos)
        << cli_.error_text();
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.back()["verification"]["points"].empty());
    const std::vector<JournalRecord> journal = ReadJournal(JournalPath(dir_));
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_TRUE(VerificationFromRecord(journal[0])->points.empty());

    // What the sensor holds is what it held: a verification writes nothing.
    ChildProcess read;
    ASSERT_TRUE(read.Start({VORLIX_CLI_EXE, "--ini", ini_, "--port", std::to_string(kCom), "--rate",
                            "115200", "--type", "direct", "--json", "calibration"}));
    const std::optional<std::string> calibration = read.WaitForLine("{", 20s);
    ASSERT_TRUE(calibration.has_value()) << read.error_text();
    EXPECT_EQ(json::parse(*calibration), json({{"offset", 0.0}, {"slope", 1.0}}));
    EXPECT_EQ(read.WaitExit(20s), 0);
    sim_.Stop();
  }
}

}  // namespace

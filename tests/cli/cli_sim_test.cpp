// vorlix-cli as a bench runs it: a separate program against vorlix-sim on a pseudo-terminal,
// through the real serial layer, its settings and journal in a folder of the test's own.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "comm/calcbox.h"
#include "core/calibration_journal.h"
#include "sim/child_process.h"
#include "tests/support/com_link.h"
#include "tests/support/scripted_host.h"
#include "tests/support/temp_folder.h"

namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr int kCom = 213;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

class CliSimTest : public ::testing::Test {
 protected:
  void TearDown() override { sim_.Stop(); }

  void StartSim(std::vector<std::string> args) {
    args.insert(args.end(), {"--ini-dir", dir_, "--com", std::to_string(kCom)});
    ASSERT_TRUE(StartSimulator(sim_, VORLIX_SIM_EXE, args).has_value()) << sim_.error_text();
  }

  std::vector<std::string> Args(const std::vector<std::string>& args) const {
    std::vector<std::string> all = {VORLIX_CLI_EXE, "--ini", ini_, "--port", std::to_string(kCom)};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }

  // Starts the program with no input to read: a bench that has applied its values already.
  void Start(ChildProcess& cli, const std::vector<std::string>& args) {
    ASSERT_TRUE(cli.Start(Args(args), {"VORLIX_USER_CODE=1234", "VORLIX_WRITE_PASSWORD=secret"}));
    cli.CloseInput();
  }

  Outcome Finish(ChildProcess& cli) {
    Outcome run;
    run.status = cli.WaitExit(60s).value_or(-1);
    run.out = cli.output();
    run.err = cli.error_text();
    return run;
  }

  Outcome RunCli(const std::vector<std::string>& args) {
    ChildProcess cli;
    Start(cli, args);
    return Finish(cli);
  }

  // The state of line 1 as the corrector reports it, asked after the program has ended.
  int LineState() {
    ComLink link;
    std::string error;
    EXPECT_TRUE(link.OpenIn(dir_ + "/ports", kCom, 19200, error)) << error;
    ScriptedHost ui;
    calcbox box(1);
    box.port_handle = link.line();
    box.ui = &ui;
    EXPECT_TRUE(box.ReadImitation(1)) << box.ErrorText();
    return box.service_state;
  }

  TempFolder folder_;
  const std::string dir_ = folder_.path().string();
  const std::string ini_ = dir_ + "/vorlix.ini";
  ChildProcess sim_;
};

TEST_F(CliSimTest, IdentifiesAndReadsThroughTheCorrector) {
  StartSim({"--service-delay", "100", "--noise", "0.01"});
  Outcome identify = RunCli({"--json", "identify"});
  ASSERT_EQ(identify.status, 0) << identify.err;
  const json id = json::parse(identify.out);
  EXPECT_EQ(id["plate"], 26);
  EXPECT_EQ(id["software_version"], 37);

  const std::string csv = dir_ + "/values.csv";
  Outcome read = RunCli({"--json", "read", "--count", "20", "--interval", "50", "--csv", csv});
  ASSERT_EQ(read.status, 0) << read.err;
  std::istringstream lines(read.out);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    const json r = json::parse(line);
    EXPECT_NEAR(r["value"].get<double>(), 101.325, 0.02) << line;
    EXPECT_EQ(r["unit"], "кПа");
    EXPECT_TRUE(r["error"].is_null());
    ++count;
  }
  EXPECT_EQ(count, 20);
  std::ifstream log(csv, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.rfind("\xEF\xBB\xBF"
                       "Дата і час;",
                       0),
            0u);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 21);

  Outcome stats = RunCli({"--json", "--interval", "50", "stats"});
  ASSERT_EQ(stats.status, 0) << stats.err;
  const json spread = json::parse(stats.out);
  EXPECT_EQ(spread["readings"], 10);
  EXPECT_TRUE(spread["stable"].get<bool>());
  EXPECT_NEAR(spread["mean"].get<double>(), 101.325, 0.01);
  EXPECT_EQ(LineState(), calcbox::kStateNormal);

  // A unit name in any case.
  Outcome bar = RunCli({"--json", "--unit", "BAR", "read"});
  ASSERT_EQ(bar.status, 0) << bar.err;
  EXPECT_NEAR(json::parse(bar.out)["value"].get<double>(), 1.01325, 0.001) << bar.out;
  EXPECT_EQ(json::parse(bar.out)["unit"], "бар");

  // The simulator's link in the settings folder maps its port to the pseudo-terminal.
  Outcome ports = RunCli({"--json", "ports"});
  ASSERT_EQ(ports.status, 0) << ports.err;
  EXPECT_NE(ports.out.find("\"port\":" + std::to_string(kCom) + ",\"present\":true}"),
            std::string::npos)
      << ports.out;
}

TEST_F(CliSimTest, CalibratesWithReadBackAndJournalThenRestores) {
  // The raw value climbs 1 kPa a second, so the two points differ; shown without decimals, ten
  // readings 50 ms apart settle. The limits let the steep result through without a question.
  std::ofstream(ini_) << "[CALIBRATION]\nSlopeMin=0.001\nSlopeMax=1000\nOffsetSpanShare=1000\n";
  StartSim({"--service-delay", "100", "--drift", "1"});
  Outcome calibrate = RunCli({"--json", "--decimals", "0", "--interval", "50", "calibrate",
                              "--applied1", "0", "--applied2", "1", "--yes"});
  ASSERT_EQ(calibrate.status, 0) << calibrate.err;
  const json result = json::parse(calibrate.out);
  EXPECT_EQ(result["outcome"], "written");
  EXPECT_EQ(result["read_back_matches"], true);
  EXPECT_EQ(result["written"], result["read_back"]);

  std::vector<JournalRecord> journal = ReadJournal(JournalPath(dir_));
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].outcome, JournalOutcome::kWritten);
  EXPECT_EQ(journal[0].points.size(), 2u);
  EXPECT_TRUE(journal[0].read_back_matches.value_or(false));
  EXPECT_TRUE(journal[0].as_left_error.has_value());
  ASSERT_TRUE(journal[0].as_found.has_value());
  EXPECT_EQ(journal[0].as_found->slope, 1.0f);

  Outcome restore = RunCli({"restore", "--record", "1", "--yes"});
  ASSERT_EQ(restore.status, 0) << restore.err;
  Outcome now = RunCli({"--json", "--trace", "calibration"});
  ASSERT_EQ(now.status, 0) << now.err;
  EXPECT_EQ(json::parse(now.out), json({{"offset", 0.0}, {"slope", 1.0}}));
  // The traffic is traced with the codes masked: the user code 1234 is 31 32 33 34 on the wire.
  EXPECT_NE(now.err.find("trace "), std::string::npos) << now.err;
  EXPECT_NE(now.err.find("**"), std::string::npos);
  EXPECT_EQ(now.err.find("31 32 33 34"), std::string::npos);
  journal = ReadJournal(JournalPath(dir_));
  ASSERT_EQ(journal.size(), 2u);
  EXPECT_EQ(journal[1].outcome, JournalOutcome::kRestored);
  EXPECT_EQ(LineState(), calcbox::kStateNormal);

  Outcome show = RunCli({"--json", "journal", "show", "2"});
  ASSERT_EQ(show.status, 0) << show.err;
  EXPECT_EQ(json::parse(show.out)["outcome"], "restored");
  const std::string csv = dir_ + "/journal.csv";
  Outcome exported = RunCli({"journal", "export", "--output", csv});
  ASSERT_EQ(exported.status, 0) << exported.err;
  std::ifstream file(csv, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << text;

  // Readable: what stood, what went back and whether it read back.
  Outcome readable = RunCli({"journal", "show", "2"});
  ASSERT_EQ(readable.status, 0) << readable.err;
  for (const char* line : {"record 2: ", "outcome: restored", "as found: offset ",
                           "written: offset 0.0000000, slope 1.0000000",
                           "read back: offset 0.0000000, slope 1.0000000", "matches bit for bit"})
    EXPECT_NE(readable.out.find(line), std::string::npos) << line << "\n" << readable.out;

  // A decimal comma; the list shows what each record found and left.
  Outcome comma = RunCli({"write", "--offset", "0,5", "--yes"});
  ASSERT_EQ(comma.status, 0) << comma.err;
  journal = ReadJournal(JournalPath(dir_));
  ASSERT_EQ(journal.size(), 3u);
  EXPECT_EQ(journal[2].written->offset, 0.5f);
  Outcome list = RunCli({"journal", "list"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("\tfound 0 1\tleft 0.5 1\n"), std::string::npos) << list.out;
  Outcome list_json = RunCli({"--json", "journal", "list"});
  ASSERT_EQ(list_json.status, 0) << list_json.err;
  EXPECT_EQ(json::parse(list_json.out)["records"][2]["as_left"],
            json({{"offset", 0.5}, {"slope", 1.0}}));
}

TEST_F(CliSimTest, ATypoInAnAppliedValueIsAskedAgainAndNoPointIsLost) {
  std::ofstream(ini_) << "[CALIBRATION]\nSlopeMin=0.001\nSlopeMax=1000\nOffsetSpanShare=1000\n";
  StartSim({"--service-delay", "100", "--drift", "1"});
  // The engineer's terminal: a pseudo-terminal on the program's standard input.
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(grantpt(terminal), 0);
  ASSERT_EQ(unlockpt(terminal), 0);
  const std::string typed_on = ptsname(terminal);
  ChildProcess cli;
  const std::vector<std::string> args = Args({"--decimals", "0", "--interval", "50", "calibrate"});
  ASSERT_TRUE(cli.Fork([&] {
    const int tty = open(typed_on.c_str(), O_RDWR);
    if (tty < 0 || dup2(tty, STDIN_FILENO) < 0)
      return 126;
    setenv("VORLIX_USER_CODE", "1234", 1);
    setenv("VORLIX_WRITE_PASSWORD", "secret", 1);
    std::vector<char*> argv;
    for (const std::string& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    return 127;
  }));
  // A typo at each point, then the value; then yes to the write.
  const std::string typing = "1O1\n0\n1,O\n1\ny\n";
  ASSERT_EQ(write(terminal, typing.data(), typing.size()), static_cast<ssize_t>(typing.size()));
  const Outcome run = Finish(cli);
  close(terminal);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("not a number: '1O1'; type it again"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("not a number: '1,O'; type it again"), std::string::npos) << run.err;

  const std::vector<JournalRecord> journal = ReadJournal(JournalPath(dir_));
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].outcome, JournalOutcome::kWritten);
  ASSERT_EQ(journal[0].points.size(), 2u);
  EXPECT_EQ(journal[0].points[0].applied, 0.0);
  EXPECT_EQ(journal[0].points[1].applied, 1.0);
  EXPECT_EQ(journal[0].points[0].readings, 10);
}

TEST_F(CliSimTest, AWriteTheSensorAltersOrNobodyConfirmsEndsWithItsOwnCode) {
  StartSim({"--service-delay", "100", "--alter-writes"});
  // No terminal and no --yes: nobody can say yes, which is said before anything is sent.
  Outcome unconfirmed = RunCli({"write", "--slope", "1.01"});
  EXPECT_EQ(unconfirmed.status, 2) << unconfirmed.err;
  EXPECT_NE(unconfirmed.err.find("cannot ask"), std::string::npos) << unconfirmed.err;
  Outcome altered = RunCli({"--json", "write", "--slope", "1,01", "--yes"});
  EXPECT_EQ(altered.status, 6) << altered.err;
  EXPECT_EQ(json::parse(altered.out)["read_back_matches"], false);

  const std::vector<JournalRecord> journal = ReadJournal(JournalPath(dir_));
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].outcome, JournalOutcome::kFailed);
  EXPECT_EQ(journal[0].written->slope, 1.01f);
  EXPECT_FALSE(journal[0].read_back_matches.value_or(true));
}

TEST_F(CliSimTest, StopDuringServiceEntryLeavesTheLineOutOfService) {
  StartSim({"--service-delay", "1500"});
  ChildProcess cli;
  Start(cli, {"read"});
  // Identification takes a few tens of ms; the entry then runs for the service delay.
  std::this_thread::sleep_for(500ms);
  ASSERT_TRUE(cli.Signal(SIGINT));
  const Outcome run = Finish(cli);
  EXPECT_EQ(run.status, 7) << run.err;
  EXPECT_NE(run.err.find("leaving service mode"), std::string::npos) << run.err;
  EXPECT_EQ(LineState(), calcbox::kStateNormal);
}

TEST_F(CliSimTest, BadInputEndsWithOneLineAndItsCode) {
  // None of these reaches the sensor: no simulator runs.
  const struct {
    std::vector<std::string> args;
    int status;
    const char* said;
  } cases[] = {
      {{"read", "--no-such-option"}, 2, "--no-such-option"},
      {{"--sensor-address", "300", "read"}, 2, "--sensor-address"},
      {{"write", "--slope", "1,5,0"}, 2, "--slope"},
      // No terminal to say yes on: told before the port is even opened (none could be here).
      {{"write", "--offset", "0,5"}, 2, "not a terminal; give --yes"},
      {{"factory"}, 2, "not a terminal; give --yes"},
      {{"calibrate", "--applied1", "0", "--applied2", "1"},
       2,
       "give --yes with --applied1 and --applied2"},
      {{"write", "--slope", "0"}, 5, "not written"},
      {{"write", "--slope", "inf"}, 5, "not written"},
      {{"write", "--offset", "nan"}, 5, "not written"},
      {{"restore", "--record", "3"}, 2, "record 3 does not exist"},
      {{"--port", "251", "read"}, 3, "COM251"},
  };
  for (const auto& c : cases) {
    const Outcome run = RunCli(c.args);
    EXPECT_EQ(run.status, c.status) << c.args[0] << ": " << run.err;
    EXPECT_EQ(run.err.rfind("vorlix-cli: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
  }
}

}  // namespace

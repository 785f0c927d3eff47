// vorlix-sim as a user runs it: started as a process, talked to through its link.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>

#include "sim/child_process.h"
#include "tests/sim/pty_client.h"
#include "tests/sim/sim_frames.h"
#include "tests/support/temp_folder.h"

using namespace simtest;
namespace fs = std::filesystem;

namespace {

using namespace std::chrono_literals;

class SimExecutableTest : public ::testing::Test {
 protected:
  TempFolder folder_;
  const std::string dir_ = folder_.path().string();
};

}  // namespace

TEST_F(SimExecutableTest, ServesUntilTerminatedThenRemovesItsLink) {
  ChildProcess sim;
  ASSERT_TRUE(sim.Start({VORLIX_SIM_EXE, "--ready", "--ini-dir", dir_ + "/INI", "--com", "231"}));
  const std::string link = dir_ + "/INI/ports/COM231";
  ASSERT_EQ(sim.WaitForLine("READY ", 10s), "READY " + link) << sim.output();
  const std::string out = sim.output();
  EXPECT_NE(out.find("corrector: address 1, plate 26, software version 37"), std::string::npos);

  ASSERT_TRUE(fs::is_symlink(link));
  const std::string target = fs::read_symlink(link).string();
  EXPECT_EQ(target.rfind("/dev/pts/", 0), 0u) << target;
  EXPECT_NE(out.find("serving on " + target), std::string::npos);

  const int fd = OpenPort(link);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(isatty(fd));
  Arrival reply = Exchange(fd, Preambled(Identification(255), 3), 165);
  close(fd);
  ASSERT_EQ(reply.bytes.size(), 165u);
  EXPECT_EQ(reply.bytes[1], 1);
  EXPECT_TRUE(ChecksumOk(reply.bytes));

  EXPECT_EQ(sim.Stop(SIGTERM, 10s), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(SimExecutableTest, BadOptionValueExitsWith2AndSaysWhy) {
  ChildProcess sim;
  ASSERT_TRUE(sim.Start({VORLIX_SIM_EXE, "--com", "0", "--ini-dir", dir_}));
  EXPECT_EQ(sim.WaitExit(10s), 2);
  EXPECT_NE(sim.error_text().find("--com"), std::string::npos) << sim.error_text();
  EXPECT_FALSE(fs::exists(dir_ + "/ports"));
}

TEST_F(SimExecutableTest, LeavesAnExistingPortEntryAlone) {
  fs::create_directories(dir_ + "/ports");
  fs::create_symlink("/dev/null", dir_ + "/ports/COM9");
  ChildProcess sim;
  ASSERT_TRUE(sim.Start({VORLIX_SIM_EXE, "--ini-dir", dir_, "--com", "9"}));
  EXPECT_EQ(sim.WaitExit(10s), 1);
  EXPECT_EQ(fs::read_symlink(dir_ + "/ports/COM9"), "/dev/null");

  // A dangling one, left by a simulator that was killed, is taken over.
  fs::create_symlink(dir_ + "/gone", dir_ + "/ports/COM10");
  ASSERT_TRUE(sim.Start({VORLIX_SIM_EXE, "--ready", "--ini-dir", dir_, "--com", "10"}));
  EXPECT_TRUE(sim.WaitForLine("READY ", 10s));
  EXPECT_EQ(fs::read_symlink(dir_ + "/ports/COM10").string().rfind("/dev/pts/", 0), 0u);
  EXPECT_EQ(sim.Stop(SIGINT, 10s), 0);
}

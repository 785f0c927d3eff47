// vorlix-sim as a user runs it: started as a process, talked to through its link.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "tests/sim/pty_client.h"
#include "tests/sim/sim_frames.h"

using namespace simtest;
namespace fs = std::filesystem;

extern char** environ;

namespace {

struct Process {
  pid_t pid = -1;
  int out = -1;  // its standard output
  int err = -1;  // its standard error
};

Process Spawn(const std::vector<std::string>& args) {
  Process p;
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0)
    return p;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, err[0]);
  std::vector<char*> argv;
  std::string exe = VORLIX_SIM_EXE;
  argv.push_back(exe.data());
  std::vector<std::string> copy = args;
  for (std::string& a : copy)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  if (posix_spawn(&p.pid, exe.c_str(), &actions, nullptr, argv.data(), environ) != 0)
    p.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  p.out = out[0];
  p.err = err[0];
  return p;
}

// Reads `fd` until `marker` has appeared at the start of a line, end of file, or 10 s.
std::string ReadUntil(int fd, const std::string& marker) {
  std::string text;
  for (int waited = 0; waited < 100; ++waited) {
    if (text.find("\n" + marker) != std::string::npos || text.rfind(marker, 0) == 0)
      break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0)
      continue;
    char buffer[1024];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0)
      break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

// Waits up to 10 s for the process to end; its exit code, or -1.
int WaitExit(pid_t pid) {
  for (int i = 0; i < 1000; ++i) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    usleep(10'000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

class SimExecutableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vorlix-sim-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string dir_;
};

}  // namespace

TEST_F(SimExecutableTest, ServesUntilTerminatedThenRemovesItsLink) {
  Process sim = Spawn({"--ready", "--ini-dir", dir_ + "/INI", "--com", "231"});
  ASSERT_GT(sim.pid, 0);
  const std::string out = ReadUntil(sim.out, "READY ");
  const std::string link = dir_ + "/INI/ports/COM231";
  ASSERT_NE(out.find("READY " + link + "\n"), std::string::npos) << out;
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

  ASSERT_EQ(kill(sim.pid, SIGTERM), 0);
  EXPECT_EQ(WaitExit(sim.pid), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  close(sim.out);
  close(sim.err);
}

TEST_F(SimExecutableTest, BadOptionValueExitsWith2AndSaysWhy) {
  Process sim = Spawn({"--com", "0", "--ini-dir", dir_});
  ASSERT_GT(sim.pid, 0);
  EXPECT_EQ(WaitExit(sim.pid), 2);
  const std::string err = ReadUntil(sim.err, "\x01");
  EXPECT_NE(err.find("--com"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(dir_ + "/ports"));
  close(sim.out);
  close(sim.err);
}

TEST_F(SimExecutableTest, LeavesAnExistingPortEntryAlone) {
  fs::create_directories(dir_ + "/ports");
  fs::create_symlink("/dev/null", dir_ + "/ports/COM9");
  Process sim = Spawn({"--ini-dir", dir_, "--com", "9"});
  ASSERT_GT(sim.pid, 0);
  EXPECT_EQ(WaitExit(sim.pid), 1);
  EXPECT_EQ(fs::read_symlink(dir_ + "/ports/COM9"), "/dev/null");
  close(sim.out);
  close(sim.err);

  // A dangling one, left by a simulator that was killed, is taken over.
  fs::create_symlink(dir_ + "/gone", dir_ + "/ports/COM10");
  sim = Spawn({"--ready", "--ini-dir", dir_, "--com", "10"});
  ASSERT_GT(sim.pid, 0);
  EXPECT_NE(ReadUntil(sim.out, "READY ").find("READY "), std::string::npos);
  EXPECT_EQ(fs::read_symlink(dir_ + "/ports/COM10").string().rfind("/dev/pts/", 0), 0u);
  kill(sim.pid, SIGINT);
  EXPECT_EQ(WaitExit(sim.pid), 0);
  close(sim.out);
  close(sim.err);
}

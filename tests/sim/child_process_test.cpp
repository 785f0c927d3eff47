// The launcher of the simulator and peer programs.

#include "sim/child_process.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;

TEST(ChildProcessTest, RunsAProgramInItsEnvironmentAndKeepsWhatItWrote) {
  setenv("VORLIX_CHILD_KEPT", "kept", 1);
  setenv("VORLIX_CHILD_SET", "old", 1);
  ChildProcess child;
  ASSERT_TRUE(child.Start({"/bin/sh", "-c",
                           "echo first; echo \"env $VORLIX_CHILD_KEPT $VORLIX_CHILD_SET\"; "
                           "echo trouble >&2; exit 3"},
                          {"VORLIX_CHILD_SET=new"}));
  EXPECT_EQ(child.WaitForLine("env ", 5s), "env kept new");
  EXPECT_EQ(child.WaitExit(5s), 3);
  EXPECT_EQ(child.output(), "first\nenv kept new\n");
  EXPECT_EQ(child.error_text(), "trouble\n");
  EXPECT_FALSE(child.WaitForLine("", 0ms)) << "the lines are used up";

  EXPECT_FALSE(child.Start({"/nonexistent/program"}));
  EXPECT_FALSE(child.running());
}

TEST(ChildProcessTest, ExitStatusesOfSignalsAndForkedBodies) {
  ChildProcess child;
  ASSERT_TRUE(child.Fork([] { return 7; }));
  EXPECT_EQ(child.WaitExit(5s), 7);

  ASSERT_TRUE(child.Start({"/bin/sh", "-c", "kill -KILL $$"}));
  EXPECT_EQ(child.WaitExit(5s), 128 + SIGKILL);

  // A child deaf to the signal is killed once the limit has passed.
  ASSERT_TRUE(child.Start({"/bin/sh", "-c", "trap '' TERM; echo deaf; exec sleep 30"}));
  ASSERT_TRUE(child.WaitForLine("deaf", 5s));
  EXPECT_EQ(child.Stop(SIGTERM, 100ms), std::nullopt);
  EXPECT_FALSE(child.running());
}

}  // namespace

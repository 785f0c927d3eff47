#include "sim/pty_server.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "sim/sim_corrector.h"
#include "tests/sim/pty_client.h"
#include "tests/sim/sim_frames.h"

using namespace simtest;

namespace {

class PtyServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    timing_.rate = 19200;
    timing_.turnaround_us = 3000;
    config_.service_delay_ms = 0;
    corrector_ = std::make_unique<SimCorrector>(config_, timing_, FaultConfig{});
    server_ = std::make_unique<PtyServer>(*corrector_, timing_.rate);
    std::string error;
    if (!server_->Start(error))
      GTEST_SKIP() << "no pseudo-terminals here: " << error;
    fd_ = OpenPort(server_->slave_path());
    ASSERT_GE(fd_, 0) << server_->slave_path();
  }

  void TearDown() override {
    if (fd_ >= 0)
      close(fd_);
    if (server_)
      server_->Stop();
  }

  CorrectorConfig config_;
  LineTiming timing_;
  std::unique_ptr<SimCorrector> corrector_;
  std::unique_ptr<PtyServer> server_;
  int fd_ = -1;
};

}  // namespace

TEST_F(PtyServerTest, AnswersARequestThroughARealTerminal) {
  struct stat st {};
  ASSERT_EQ(stat(server_->slave_path().c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_TRUE(isatty(fd_));

  Arrival reply = Exchange(fd_, Preambled(Identification(1), 3), 165);
  ASSERT_EQ(reply.bytes.size(), 165u);
  EXPECT_TRUE(ChecksumOk(reply.bytes));
  EXPECT_EQ(reply.bytes[69], 26);
  // Pacing is reported, not asserted: the machine's load decides how close it comes.
  const double byte_ms = 10.0 / 19.2;
  const double request_ms = 9 * byte_ms;
  std::printf(
      "identification reply over the terminal: first byte after %.2f ms, last after "
      "%.2f ms; on a wire at 19200 bit/s: %.2f and %.2f\n",
      reply.ms.front(), reply.ms.back(), request_ms + 3 + byte_ms, request_ms + 3 + 165 * byte_ms);
}

TEST_F(PtyServerTest, RelaysAfterServiceModeAndKeepsServingAcrossReopens) {
  ASSERT_EQ(Exchange(fd_, Preambled(Enter(1, 1, 0), 3), 6).bytes.size(), 6u);
  Arrival reply = Exchange(fd_, Preambled(ReadRegisters(101, 436, 4), 3), 13);
  ASSERT_EQ(reply.bytes.size(), 13u);
  EXPECT_TRUE(ChecksumOk(reply.bytes));

  // A program that closes the port and opens it again finds the device still there.
  close(fd_);
  fd_ = OpenPort(server_->slave_path());
  ASSERT_GE(fd_, 0);
  reply = Exchange(fd_, ReadRegisters(101, 59, 1), 7);
  ASSERT_EQ(reply.bytes.size(), 7u);
  EXPECT_EQ(Word(reply.bytes, 3), 12);

  server_->Stop();
  EXPECT_TRUE(server_->failure().empty()) << server_->failure();
  EXPECT_EQ(corrector_->mode(1, 0), SimCorrector::Mode::kInService);
}

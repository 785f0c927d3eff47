#include "sim/pty_server.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
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

namespace {

// Pulls the simulated adapter (the server stops, as vorlix-sim does when it is unplugged) and
// plugs it back in, then asks for the identification: the reply must come at once.
size_t ReplugAndIdentify(PtyServer& server) {
  server.Stop();
  std::string error;
  EXPECT_TRUE(server.Start(error)) << error;
  const int fd = OpenPort(server.slave_path());
  EXPECT_GE(fd, 0);
  const size_t got = Exchange(fd, Preambled(Identification(1), 3), 165, 2000).bytes.size();
  close(fd);
  return got;
}

}  // namespace

TEST(PtyServerReplug, AnswersAtOnceWhenPluggedBackAtTheStartOrAfterAMinute) {
  // The clock runs as the steady clock does, plus whatever the test skips.
  std::atomic<uint64_t> skipped_us{0};
  const auto epoch = std::chrono::steady_clock::now();
  const PtyServer::Clock clock = [&] {
    return skipped_us.load() +
           static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now() - epoch)
                                     .count());
  };
  LineTiming timing;
  CorrectorConfig config;
  config.service_delay_ms = 0;
  SimCorrector corrector(config, timing, FaultConfig{});
  PtyServer server(corrector, timing.rate, clock);
  std::string error;
  if (!server.Start(error))
    GTEST_SKIP() << "no pseudo-terminals here: " << error;

  int fd = OpenPort(server.slave_path());
  ASSERT_GE(fd, 0);
  ASSERT_EQ(Exchange(fd, Preambled(Identification(1), 3), 165).bytes.size(), 165u);
  close(fd);
  EXPECT_EQ(ReplugAndIdentify(server), 165u) << "pulled at the start";

  // A minute of serving, the last reply near its end.
  skipped_us += 60'000'000u;
  fd = OpenPort(server.slave_path());
  ASSERT_GE(fd, 0);
  ASSERT_EQ(Exchange(fd, Preambled(Identification(1), 3), 165).bytes.size(), 165u);
  close(fd);
  EXPECT_EQ(ReplugAndIdentify(server), 165u) << "pulled after a minute";
  server.Stop();
  EXPECT_TRUE(server.failure().empty()) << server.failure();
}

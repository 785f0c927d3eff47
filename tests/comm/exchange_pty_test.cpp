// The exchange objects over the real serial layer on a pseudo-terminal: what they write arrives
// unchanged, and a port that vanishes in the middle of an exchange ends it with an error.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comm/calcbox.h"
#include "comm/modbusbox.h"
#include "tests/support/com_link.h"
#include "tests/support/scripted_host.h"

namespace {

constexpr int kPort = 241;

class ExchangeOverPty : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
      GTEST_SKIP() << "no pseudo-terminals here";
    std::string error;
    ASSERT_TRUE(link_.MapAndOpen(kPort, ptsname(master_), 19200, error)) << error;
  }

  void TearDown() override {
    link_.Close();
    if (master_ >= 0)
      close(master_);
  }

  // Everything that has reached the far end within `ms`.
  std::vector<uint8_t> DrainMaster(int ms) {
    std::vector<uint8_t> bytes;
    pollfd p{master_, POLLIN, 0};
    while (poll(&p, 1, ms) > 0) {
      uint8_t buffer[512];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0)
        break;
      bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
  }

  void CloseMaster() {
    close(master_);
    master_ = -1;
  }

  int master_ = -1;
  ComLink link_;
  ScriptedHost ui_;
};

}  // namespace

TEST_F(ExchangeOverPty, CorrectorRequestArrivesWithItsPreamblesUnchanged) {
  calcbox box(1);
  box.port_handle = link_.line();
  box.ui = &ui_;
  box.preambles = 3;
  box.baud_rate = 19200;
  box.first_byte_timeout = 50;
  EXPECT_FALSE(box.Exchange(0xAA, 1, nullptr, 0));
  EXPECT_EQ(box.error_code, 6);
  EXPECT_EQ(DrainMaster(50),
            (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xAA, 0x01, 0x06, 0x01, 0xB2, 0x5C}));
}

TEST_F(ExchangeOverPty, ModbusRequestArrivesUnchanged) {
  modbusbox box(1);
  box.port_handle = link_.line();
  box.ui = &ui_;
  box.first_byte_timeout = 50;
  EXPECT_FALSE(box.ReadRegisters(59, 1));
  EXPECT_EQ(box.error_code, 21);
  EXPECT_EQ(DrainMaster(50),
            (std::vector<uint8_t>{0x01, 0x03, 0x00, 0x3B, 0x00, 0x01, 0xF5, 0xC7}));
}

TEST_F(ExchangeOverPty, PortVanishingDuringTheCorrectorWaitEndsAtOnceAsLinkLost) {
  calcbox box(1);
  box.port_handle = link_.line();
  box.ui = &ui_;
  box.baud_rate = 19200;
  box.first_byte_timeout = 300;
  ui_.on_process = [&] {
    if (ui_.process_calls == 3)
      CloseMaster();
  };
  EXPECT_FALSE(box.Exchange(0xAA, 1, nullptr, 0));
  EXPECT_EQ(box.error_code, calcbox::kErrorLinkLost);
  EXPECT_EQ(box.ErrorText(), "Зв'язок втрачено: порт зник (адаптер від'єднано?)");
  // Seen on the first look at the line after it went, not after the time-out.
  EXPECT_LT(ui_.process_calls, 6);
}

TEST_F(ExchangeOverPty, PortVanishingDuringTheModbusWaitEndsAtOnceAsLinkLost) {
  modbusbox box(1);
  box.port_handle = link_.line();
  box.ui = &ui_;
  box.first_byte_timeout = 300;
  ui_.on_process = [&] {
    if (ui_.process_calls == 3)
      CloseMaster();
  };
  EXPECT_FALSE(box.ReadRegisters(400, 2));
  EXPECT_EQ(box.error_code, modbusbox::kErrorLinkLost);
  EXPECT_EQ(box.ErrorText(), "Команда 3. Зв'язок втрачено: порт зник (адаптер від'єднано?)");
  EXPECT_LT(ui_.process_calls, 6);
}

TEST_F(ExchangeOverPty, WriteToAVanishedPortFailsAsLinkLost) {
  CloseMaster();
  modbusbox box(1);
  box.port_handle = link_.line();
  box.ui = &ui_;
  EXPECT_FALSE(box.ReadRegisters(400, 2));
  EXPECT_EQ(box.error_code, modbusbox::kErrorLinkLost);
}

// Our Modbus master against an RTU server nobody here wrote: libmodbus answering from the far
// end of a pair of bridged pseudo-terminals, with the sensor's registers in its own mapping
// and its float helpers doing the encoding. Both the frames on the wire and what libmodbus
// made of them are checked.

#include <gtest/gtest.h>

#ifdef VORLIX_HAVE_LIBMODBUS

#include <modbus.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comm/modbusbox.h"
#include "tests/integration/bridged_master.h"
#include "tests/sim/sim_frames.h"

namespace {

using Bytes = std::vector<uint8_t>;
using simtest::Sealed;

constexpr int kCom = 43;
constexpr int kAddress = 17;
constexpr int kFirstRegister = 59;  // the mapping holds 59 to 439
constexpr int kRegisterCount = 440 - kFirstRegister;

// A libmodbus RTU server on a thread of its own. The mapping is only touched under the lock.
class LibmodbusServer {
 public:
  ~LibmodbusServer() { Stop(); }

  bool Start(const std::string& device, std::string& error) {
    ctx_ = modbus_new_rtu(device.c_str(), 19200, 'N', 8, 1);
    if (ctx_ == nullptr) {
      error = "modbus_new_rtu failed";
      return false;
    }
    modbus_set_slave(ctx_, kAddress);
    if (modbus_connect(ctx_) != 0) {
      error = std::string("modbus_connect: ") + modbus_strerror(errno);
      return false;
    }
    mapping_ = modbus_mapping_new_start_address(0, 0, 0, 0, kFirstRegister, kRegisterCount, 0, 0);
    if (mapping_ == nullptr) {
      error = "modbus_mapping_new_start_address failed";
      return false;
    }
    // Short waits for a request, so Stop() is seen soon.
    modbus_set_indication_timeout(ctx_, 0, 50'000);
    // Before answering a bad count, libmodbus sleeps out its response time-out and flushes the
    // line (half a second by default, longer than our masters wait here).
    modbus_set_response_timeout(ctx_, 0, 50'000);
    thread_ = std::thread([this] { Run(); });
    return true;
  }

  void Stop() {
    stop_ = true;
    if (thread_.joinable())
      thread_.join();
    if (mapping_ != nullptr)
      modbus_mapping_free(mapping_);
    mapping_ = nullptr;
    if (ctx_ != nullptr) {
      modbus_close(ctx_);
      modbus_free(ctx_);
    }
    ctx_ = nullptr;
  }

  // Hands `use` the mapping's holding registers (the first is 59), under the lock.
  void WithRegisters(const std::function<void(uint16_t* at59)>& use) {
    std::lock_guard<std::mutex> lock(mutex_);
    use(mapping_->tab_registers);
  }

  // Requests libmodbus accepted as addressed to it with a good checksum.
  std::vector<Bytes> TakeRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(requests_, {});
  }

 private:
  void Run() {
    uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    while (!stop_) {
      const int n = modbus_receive(ctx_, query);
      if (n <= 0)
        continue;  // nothing yet, or a frame for another address
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.emplace_back(query, query + n);
      modbus_reply(ctx_, query, n, mapping_);
    }
  }

  modbus_t* ctx_ = nullptr;
  modbus_mapping_t* mapping_ = nullptr;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<Bytes> requests_;
};

// Register `reg` in the mapping's table.
uint16_t* Reg(uint16_t* at59, int reg) {
  return at59 + (reg - kFirstRegister);
}

class LibmodbusServerTest : public integration::BridgedMasterTest {
 protected:
  LibmodbusServerTest() : BridgedMasterTest(kAddress) {}

  void SetUp() override {
    std::string error;
    if (!bridge_.Start(error))
      GTEST_SKIP() << "no pseudo-terminals here: " << error;
    ASSERT_TRUE(server_.Start(bridge_.peer_path(), error)) << error;
    // libmodbus's plain float helpers put the low-order word in the lower register, as the
    // sensor does.
    server_.WithRegisters([](uint16_t* r) {
      *Reg(r, 59) = 0x010C;  // only the low byte is the unit code
      modbus_set_float(-12.75f, Reg(r, 400));
      modbus_set_float(0.25f, Reg(r, 436));
      modbus_set_float(1.5f, Reg(r, 438));
    });
    OpenOurEnd(kCom, 300, 300);
  }
  void StopServer() override { server_.Stop(); }

  LibmodbusServer server_;
};

TEST_F(LibmodbusServerTest, ReadsUnitValueAndCalibration) {
  ASSERT_TRUE(box_.ReadUnit(0)) << box_.ErrorText();
  const Bytes request = Sealed({kAddress, 3, 0, 59, 0, 1});
  EXPECT_EQ(bridge_.TakeToPeer(), request);
  EXPECT_EQ(bridge_.TakeFromPeer(), Sealed({kAddress, 3, 2, 0x01, 0x0C}));
  EXPECT_EQ(server_.TakeRequests(), std::vector<Bytes>{request});

  ASSERT_TRUE(box_.ReadRegisters(400, 2)) << box_.ErrorText();
  EXPECT_EQ(RegistersToFloat(box_.values[0], box_.values[1]), -12.75f);

  float offset = 0, slope = 0;
  ASSERT_TRUE(box_.ReadCalibration(offset, slope)) << box_.ErrorText();
  EXPECT_EQ(offset, 0.25f);
  EXPECT_EQ(slope, 1.5f);
  EXPECT_TRUE(ui_.questions.empty());
}

TEST_F(LibmodbusServerTest, WritesACalibrationLibmodbusDecodes) {
  uint16_t words[4];
  FloatToRegisters(-3.5f, words[0], words[1]);
  FloatToRegisters(0.98f, words[2], words[3]);
  ASSERT_TRUE(box_.WriteRegisters(436, 4, words)) << box_.ErrorText();
  const std::vector<Bytes> requests = server_.TakeRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].size(), 17u);
  EXPECT_EQ(bridge_.TakeFromPeer(), Sealed({kAddress, 16, 0x01, 0xB4, 0, 4}));
  server_.WithRegisters([](uint16_t* r) {
    EXPECT_EQ(modbus_get_float(Reg(r, 436)), -3.5f);
    EXPECT_EQ(modbus_get_float(Reg(r, 438)), 0.98f);
  });

  float offset = 0, slope = 0;
  ASSERT_TRUE(box_.ReadCalibration(offset, slope)) << box_.ErrorText();
  EXPECT_EQ(offset, -3.5f);
  EXPECT_EQ(slope, 0.98f);
}

TEST_F(LibmodbusServerTest, ExceptionRepliesAreRepeatedWhileTriesRemainAndKeepTheirTexts) {
  box_.tries = 2;
  EXPECT_FALSE(box_.ReadRegisters(440, 1));
  EXPECT_EQ(box_.error_code, 2);
  EXPECT_EQ(box_.ErrorText(),
            "Команда 3. Адреса даних, вказана в запиті, недоступна\r"
            "(можливо версія ПО вашого пристрою є застарілою)");
  EXPECT_EQ(server_.TakeRequests().size(), 2u);
  const Bytes exception = Sealed({kAddress, 0x83, 2});
  Bytes twice = exception;
  twice.insert(twice.end(), exception.begin(), exception.end());
  EXPECT_EQ(bridge_.TakeFromPeer(), twice);

  box_.tries = 1;
  const uint16_t words[4] = {0, 0x3F80, 0, 0x3F80};
  EXPECT_FALSE(box_.WriteRegisters(438, 4, words));  // runs past the end of the map
  EXPECT_EQ(box_.error_code, 2);
  EXPECT_EQ(box_.ErrorText().rfind("Команда 16. Адреса даних", 0), 0u) << box_.ErrorText();

  EXPECT_FALSE(box_.ReadRegisters(59, 0));
  EXPECT_EQ(box_.error_code, 3);
  EXPECT_EQ(box_.ErrorText(), "Команда 3. Величина в полі даних запиту є недоступною");
}

TEST_F(LibmodbusServerTest, ARequestForAnotherAddressIsNotAnswered) {
  modbusbox other(kAddress + 1);
  other.port_handle = link_.line();
  other.first_byte_timeout = 300;
  EXPECT_FALSE(other.ReadRegisters(59, 1));
  EXPECT_EQ(other.error_code, 21);
  EXPECT_TRUE(server_.TakeRequests().empty());
  EXPECT_TRUE(bridge_.TakeFromPeer().empty());
}

}  // namespace

#else

TEST(LibmodbusServerTest, Skipped) {
  GTEST_SKIP() << "libmodbus is not installed";
}

#endif

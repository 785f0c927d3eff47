// Both exchange objects fed replies of arbitrary bytes: whatever arrives, an exchange ends with
// a known code and a text, and never touches memory outside its buffers (run under the asan
// preset to see the latter).
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

#include "comm/calcbox.h"
#include "comm/checksum.h"
#include "comm/modbusbox.h"
#include "core/suplfunc.h"
#include "sim/virtual_line.h"

namespace {

// Answers every request with bytes drawn from the generator: sometimes pure noise, sometimes
// something that starts like a real reply and then lies about its length or content.
class RandomDevice final : public LineDevice {
 public:
  explicit RandomDevice(uint32_t seed) : random_(seed) {}

  std::vector<TimedByte> Receive(const std::vector<uint8_t>&, uint64_t now_us) override {
    std::vector<uint8_t> bytes(Pick(0, 700));
    for (uint8_t& b : bytes)
      b = static_cast<uint8_t>(Pick(0, 255));
    if (!bytes.empty() && Pick(0, 2) > 0) {
      const uint8_t starts[] = {0x55, 0x66, 0x01, 0x65};
      bytes[0] = starts[Pick(0, 3)];
      if (bytes.size() > 2)
        bytes[1] = Pick(0, 1) ? 1 : static_cast<uint8_t>(Pick(0, 255));
      if (bytes.size() > 3 && Pick(0, 1)) {
        // A length or count byte that matches what is there, with a valid checksum.
        const size_t n = std::min<size_t>(bytes.size(), 255);
        bytes[2] = static_cast<uint8_t>(n);
        const uint16_t crc = FrameChecksum(bytes.data(), static_cast<uint32_t>(n - 2));
        bytes[n - 2] = static_cast<uint8_t>(crc & 0xFF);
        bytes[n - 1] = static_cast<uint8_t>(crc >> 8);
      }
    }
    std::vector<TimedByte> out;
    uint64_t at = now_us + static_cast<uint64_t>(Pick(0, 3000));
    for (uint8_t b : bytes)
      out.push_back({at += static_cast<uint64_t>(Pick(0, 1200)), b});
    return out;
  }

 private:
  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  std::mt19937 random_;
};

}  // namespace

TEST(ExchangeFuzz, CorrectorExchangeSurvivesArbitraryReplies) {
  const std::set<int> known = {0, 6, 7, 8, 9, 10, 11, 12};
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    VirtualClock clock;
    RandomDevice device(seed);
    VirtualLine line(clock, &device);
    calcbox box(seed % 3 == 0 ? 255 : 1);
    box.port_handle = &line;
    box.clock = &clock;
    box.first_byte_timeout = 300;
    box.next_byte_timeout = 55;
    const uint8_t args[3] = {1, 0, 0};
    const uint8_t functions[][2] = {{0xAA, 1}, {0xAA, 5}, {0xBB, 8}, {0xBB, 16}, {0xBB, 17}};
    for (const auto& f : functions) {
      const bool ok = box.Exchange(f[0], f[1], args, 3);
      ASSERT_TRUE(known.count(box.error_code)) << "seed " << seed << " code " << box.error_code;
      EXPECT_EQ(ok, box.error_code == 0);
      if (!ok) {
        EXPECT_FALSE(box.ErrorText().empty()) << "seed " << seed;
      }
    }
  }
}

TEST(ExchangeFuzz, ModbusExchangeSurvivesArbitraryReplies) {
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    VirtualClock clock;
    RandomDevice device(seed);
    VirtualLine line(clock, &device);
    modbusbox box(1);
    box.port_handle = &line;
    box.clock = &clock;
    box.first_byte_timeout = 300;
    box.next_byte_timeout = 55;
    const uint16_t words[4] = {1, 2, 3, 4};
    const bool results[] = {box.ReadRegisters(400, 2), box.ReadRegisters(0, 125),
                            box.WriteRegisters(436, 4, words)};
    for (bool ok : results) {
      (void)ok;
      EXPECT_TRUE(box.error_code == 0 || !box.ErrorText().empty()) << "seed " << seed;
    }
  }
}

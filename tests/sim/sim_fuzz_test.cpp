// The simulated devices fed arbitrary bytes, in arbitrary pieces: they may answer or stay
// silent, but never crash (run under the asan preset for out-of-bounds access).
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "comm/checksum.h"
#include "core/suplfunc.h"
#include "sim/sim_corrector.h"
#include "sim/sim_sensor.h"

namespace {

std::vector<uint8_t> RandomChunk(std::mt19937& random) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<uint8_t> chunk(
      static_cast<size_t>(std::uniform_int_distribution<int>(0, 80)(random)));
  for (uint8_t& b : chunk)
    b = static_cast<uint8_t>(byte(random));
  // Now and then something shaped like a request, with a valid checksum but lying fields.
  if (chunk.size() >= 6 && byte(random) < 96) {
    const uint8_t heads[] = {0xAA, 0xBB, 101, 102, 0};
    chunk[0] = heads[byte(random) % 5];
    if (chunk[0] == 0xAA || chunk[0] == 0xBB) {
      chunk[1] = byte(random) < 128 ? 1 : 255;
      chunk[2] = static_cast<uint8_t>(chunk.size());
    } else {
      chunk[1] = byte(random) < 128 ? 3 : 16;
    }
    const uint16_t crc = FrameChecksum(chunk.data(), static_cast<uint32_t>(chunk.size() - 2));
    chunk[chunk.size() - 2] = static_cast<uint8_t>(crc & 0xFF);
    chunk[chunk.size() - 1] = static_cast<uint8_t>(crc >> 8);
  }
  return chunk;
}

template <typename Device>
void Feed(Device& device, uint32_t seed) {
  std::mt19937 random(seed);
  uint64_t now = 0;
  for (int i = 0; i < 150; ++i) {
    now += static_cast<uint64_t>(std::uniform_int_distribution<int>(0, 5000)(random));
    const std::vector<TimedByte> reply = device.Receive(RandomChunk(random), now);
    for (const TimedByte& b : reply)
      ASSERT_GE(b.at_us, now);
  }
}

}  // namespace

TEST(SimFuzz, CorrectorSurvivesArbitraryBytes) {
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    SimCorrector corrector(CorrectorConfig{}, LineTiming{}, FaultConfig{});
    Feed(corrector, seed);
  }
}

TEST(SimFuzz, DirectSensorSurvivesArbitraryBytes) {
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    SimDirectSensor sensor(SensorConfig{}, LineTiming{}, FaultConfig{});
    Feed(sensor, seed);
  }
}

#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/rd_wr_ini.h"
#include "sim/line_device.h"
#include "sim/reply_shaper.h"
#include "sim/sim_corrector.h"
#include "sim/sim_sensor.h"

// Sits between the line and a simulated device and keeps every block the master wrote, so a
// test can say which requests went out. Without a device nothing ever answers.
class TapDevice final : public LineDevice {
 public:
  explicit TapDevice(LineDevice* inner = nullptr) : inner_(inner) {}

  std::vector<TimedByte> Receive(const std::vector<uint8_t>& bytes, uint64_t now_us) override {
    blocks.push_back(bytes);
    return inner_ != nullptr ? inner_->Receive(bytes, now_us) : std::vector<TimedByte>{};
  }

  // Corrector requests (start 0xBB) of one function, preambles stripped.
  std::vector<std::vector<uint8_t>> CorrectorRequests(uint8_t function) const {
    std::vector<std::vector<uint8_t>> found;
    for (const std::vector<uint8_t>& block : blocks) {
      const auto start =
          std::find_if(block.begin(), block.end(), [](uint8_t b) { return b != 0xFF; });
      if (block.end() - start >= 4 && *start == 0xBB && start[3] == function)
        found.emplace_back(start, block.end());
    }
    return found;
  }

  // Modbus reads (function 3) of the register `first`.
  int ReadsOf(uint16_t first) const {
    int count = 0;
    for (const std::vector<uint8_t>& block : blocks) {
      const auto start =
          std::find_if(block.begin(), block.end(), [](uint8_t b) { return b != 0xFF; });
      if (block.end() - start == 8 && start[1] == 3 && start[2] == (first >> 8) &&
          start[3] == (first & 0xFF)) {
        ++count;
      }
    }
    return count;
  }

  std::vector<std::vector<uint8_t>> blocks;

 private:
  LineDevice* inner_;
};

// Line timing of the simulated devices: a quick 19200 bit/s line.
inline LineTiming SimLineTiming() {
  return {19200, 3000};
}

// The corrector as shipped, with mode changes of 300 ms to keep the polls short.
inline CorrectorConfig QuickCorrector() {
  CorrectorConfig config;
  config.service_delay_ms = 300;
  return config;
}

// Settings that reach the simulator's devices as they are made by default: corrector 1, line
// 1, sensors 101 (pressure) and 102 (temperature), no preambles.
inline TConnectSettings SimLinkSettings(uint8_t conn_type) {
  TConnectSettings settings;
  settings.conn_type = conn_type;
  settings.rate = 19200;
  settings.wait_time = 1000;
  settings.time_out = 300;
  settings.repeat = 1;
  settings.adr = 1;
  settings.corr_pream = 0;
  settings.line_num = 1;
  settings.adr_P = 101;
  settings.adr_T = 102;
  settings.sens_pream = 0;
  return settings;
}

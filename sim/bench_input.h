#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "sim/line_device.h"

// The bench in front of the simulated sensors: lines typed at the simulator (or written to its
// standard input by a test) that apply a new value at the sensors' input, as a pressure
// calibrator or a temperature bath would:
//   pressure VALUE      kPa at every pressure sensor
//   temperature VALUE   °C at every temperature sensor
// The device is served on another thread; every exchange and every change passes one lock.
class BenchDevice final : public LineDevice {
 public:
  // `direct_channel`: which sensor a lone sensor on the line is (0 pressure, 1 temperature).
  BenchDevice(LineDevice& inner, int direct_channel)
      : inner_(inner), direct_channel_(direct_channel) {}

  std::vector<TimedByte> Receive(const std::vector<uint8_t>& bytes, uint64_t now_us) override;

  // Carries out one line; what to tell the operator ("pressure 250 applied (rising)"), or why
  // the line was not understood.
  std::string Command(const std::string& line);

 private:
  LineDevice& inner_;
  int direct_channel_;
  std::mutex mutex_;
};

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/line_device.h"
#include "sim/sim_input.h"
#include "sim/sim_random.h"

// How the simulated reference instrument is spoken to, by command style.
enum class SimReferenceStyle { kScpiController, kHandheld, kSimple };

struct SimReferenceConfig {
  SimReferenceStyle style = SimReferenceStyle::kHandheld;
  std::string unit_word;    // written after each reading; empty: none
  double per_input = 1.0;   // reading = input (the sensor's unit) times this
  double noise = 0.0;       // each reading deviates by at most this much, in its own unit
  double in_limits = 0.01;  // band of "in limits", in the sensor's unit
  uint64_t seed = 7;
  uint32_t rate = 9600;  // replies are paced at this many bit/s
  uint32_t turnaround_us = 5000;
  // Faults.
  bool silence = false;
  bool garbage = false;     // control bytes instead of a reading
  std::string wrong_unit;   // a unit word it was not told to send, after each reading
  std::string fault_reply;  // answered instead of a reading, when not empty
};

// A reference gauge, or a pressure controller, on a line of its own: answers one text line per
// query line, reads the input the sensor is given (plus its own small noise) and, as a
// controller, moves that input to its set points and vents it on command.
class SimReference final : public LineDevice {
 public:
  SimReference(const SimReferenceConfig& config, std::shared_ptr<SimInput> input)
      : config_(config), input_(std::move(input)), random_(config.seed) {}

  std::vector<TimedByte> Receive(const std::vector<uint8_t>& bytes, uint64_t now_us) override;

  // What the last command lines were, for tests: every line received.
  const std::vector<std::string>& commands() const { return commands_; }
  // Told of each command line that is not a query (a set point, output on or off), on the
  // thread that serves the line.
  void set_on_command(std::function<void(const std::string&)> on_command) {
    on_command_ = std::move(on_command);
  }
  SimReferenceConfig& config() { return config_; }

 private:
  std::string Answer(const std::string& line, uint64_t now_us);
  std::vector<TimedByte> Paced(const std::string& text, uint64_t now_us) const;

  SimReferenceConfig config_;
  std::shared_ptr<SimInput> input_;
  SimRandom random_;
  std::string pending_;
  std::vector<std::string> commands_;
  std::function<void(const std::string&)> on_command_;
};

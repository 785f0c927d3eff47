#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/sim_input.h"
#include "sim/sim_reference.h"

struct SimOptions;

// What vorlix-sim is told of the reference instrument it serves on a second pseudo-terminal.
struct SimReferenceOptions {
  int com = 0;      // the port number of its link; 0: no reference
  int channel = 0;  // the sensor whose input it reads: 0 pressure, 1 temperature
  SimReferenceConfig device;
  double slew_per_s = 20.0;
  double overshoot = 0.02;
  // Its port pulled out after this many answered requests (0: never), back after
  // `unplugged_ms`, like the main link's.
  uint32_t unplug_after = 0;
  uint32_t unplugged_ms = 3000;
};

// Takes the "--reference-..." arguments out of `args` into `options`, leaving the others in
// `rest`. False with the reason in `error` for a bad one.
bool TakeReferenceOptions(const std::vector<std::string>& args, SimReferenceOptions& options,
                          std::vector<std::string>& rest, std::string& error);
std::string ReferenceUsage();
std::string DescribeReferenceOptions(const SimReferenceOptions& options);

// The input of the sensor the reference reads, attached to that sensor in `options`, so both
// see the same pressure (or temperature). Null when no reference is wanted.
std::shared_ptr<SimInput> AttachReferenceInput(SimOptions& options);

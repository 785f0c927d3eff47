#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/line_device.h"
#include "sim/reply_shaper.h"
#include "sim/sim_corrector.h"
#include "sim/sim_reference_options.h"

enum class SimConnection { kCorrector, kDirect };

// Everything vorlix-sim can be told on its command line.
struct SimOptions {
  SimConnection connection = SimConnection::kCorrector;
  int com = 200;              // the port number the link is named after (COMn)
  std::string ini_dir;        // settings folder; empty: the INI folder beside the executable
  bool ready = false;         // print "READY <link>" once serving
  int direct_channel = 0;     // straight to a sensor: 0 the pressure sensor, 1 the temperature one
  CorrectorConfig corrector;  // with the settings of both sensors
  LineTiming timing;
  FaultConfig faults;
  // Pulled out: after this many answered requests the pseudo-terminal closes and its link goes
  // away, and after `unplugged_ms` they come back at the same link. 0: never.
  uint32_t unplug_after = 0;
  uint32_t unplugged_ms = 3000;
  SimReferenceOptions reference;
};

enum class ParseOutcome { kRun, kHelp, kBad };

// Reads the arguments after the program name. kBad comes with the reason in `error`.
ParseOutcome ParseSimOptions(const std::vector<std::string>& args, SimOptions& options,
                             std::string& error);
std::string SimUsage();
// What is being simulated, a few lines for the operator.
std::string DescribeSimOptions(const SimOptions& options);
// The device the options describe.
std::unique_ptr<LineDevice> MakeSimDevice(const SimOptions& options);

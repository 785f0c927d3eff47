#pragma once

#include <cstdint>
#include <string>

#include "cli/cli_host.h"
#include "core/instrument_run.h"

// vorlix-cli verify --instrument: the applied values read from the reference instrument of the
// settings file beside the sensor's readings. A controller sets each point unattended; with a
// gauge the engineer applies each point and presses Enter.
struct InstrumentVerifyOptions {
  bool json = false;
  uint32_t interval_ms = 1000;
  uint32_t point_limit_ms = 100'000;
  int p_unit = 0;
  double stability_share = 0.0005;
};

struct InstrumentVerifyEnd {
  InstrumentStop stop = InstrumentStop::kNone;
  std::string message;  // why it stopped, or that the output was not vented
};

// Carries `run` through with the reference open in `state`, printing its progress: events as
// JSON lines on standard output with `json`, the readings of each poll on standard error.
// A stop request cancels the run and vents. A vent lost with the reference's port is waited
// for until the port is back, or until the next stop request.
InstrumentVerifyEnd VerifyWithInstrument(AppState& state, CliHost& host, VerificationRun& run,
                                         const ReadSensorSample& sensor,
                                         const InstrumentVerifyOptions& options);

#pragma once

#include <functional>
#include <optional>
#include <string>

#include "core/calibration_write.h"
#include "core/verification_run.h"

// A verification run carried through its plan, whoever asks for the applied values and
// collects the readings: the command line, the window, or an unattended bench.

// The value applied at a point, and where it came from.
struct AppliedValue {
  double value = 0.0;  // display unit
  AppliedSource source = AppliedSource::kTyped;
  std::string source_id;
};

struct VerificationSteps {
  // The value applied at the point `sequence_index` of RunSequence (nominal value in the
  // display unit); none cancels the run.
  std::function<std::optional<AppliedValue>(const PlanPoint& point, size_t sequence_index)> applied;
  // The sensor's readings at the point until they settled; none cancels the run.
  CollectSettled collect;
  // Told of each point once it is evaluated.
  std::function<void(const VerificationPoint&)> measured;
};

// Measures every point of the plan not yet measured, in order. A cancelled run keeps what was
// measured and is marked so.
void CarryOut(VerificationRun& run, const VerificationSteps& steps);

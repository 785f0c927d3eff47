#pragma once

#include <functional>

#include "core/app_state.h"

// The steps that make a link usable, on the exchange objects of `state`: through the corrector,
// identify it, free the sensor line and put it into service; then check the sensor's unit and
// read its calibration. The main window shows them one by one in its connection dialog; the
// command line runs them as they are.

inline constexpr int kConnectSteps = 5;
// Steps before this one talk to the corrector; a direct link skips them.
inline constexpr int kFirstSensorStep = 3;

// What a step may need to ask whoever runs it.
struct ConnectHooks {
  // The line is in service already (left so by an earlier session): true to take it out. Unset,
  // the host of the state is asked.
  std::function<bool()> leave_busy_line;
  // The corrector demands its constants password: puts it into the box's const_password, or
  // false when the user gave up. Unset, a demand ends the step as failed.
  std::function<bool(calcbox&)> const_password;
};

// Runs step `step` (0 .. kConnectSteps - 1). True when it succeeded.
bool RunConnectStep(AppState& state, int step, const ConnectHooks& hooks);

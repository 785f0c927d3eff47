#pragma once

#include <cstdint>
#include <memory>

#include "comm/clock.h"
#include "comm/exchange_host.h"
#include "comm/modbusbox.h"
#include "core/app_state.h"
#include "sim/virtual_line.h"

// Links `state` straight to `device` (a sensor at `address`) over a virtual line on `clock`,
// its exchanges asking `ui`: what the connection leaves behind for a direct link. The line is
// the state's; the pointer handed back is for tests that look at it.
inline VirtualLine* LinkStraightTo(AppState& state, LineDevice* device, uint8_t address,
                                   VirtualClock& clock, ExchangeHost& ui) {
  state.clock = &clock;
  auto line = std::make_unique<VirtualLine>(clock, device);
  VirtualLine* const held = line.get();
  state.Line = std::move(line);
  auto box = std::make_unique<modbusbox>(address);
  box->port_handle = held;
  box->clock = &clock;
  box->ui = &ui;
  state.ActiveModbusBox = std::move(box);
  return held;
}

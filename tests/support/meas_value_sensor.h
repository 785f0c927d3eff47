#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "comm/clock.h"
#include "comm/modbusbox.h"
#include "core/app_state.h"
#include "sim/virtual_line.h"
#include "tests/support/direct_link.h"
#include "tests/support/scripted_device.h"
#include "tests/support/scripted_host.h"
#include "tests/support/sealed_frame.h"

// A sensor that answers reads of its measured value (function 3, registers 400-401) with the
// next scripted reading: a float (NaN and infinities included), silence, or an exception.
// Any other request, and every request once the script has run out, gets no answer.
class MeasValueSensor final : public ScriptedDevice {
 public:
  // Replies 3 ms after the request, at ten bit times a byte at 19200 bit/s.
  explicit MeasValueSensor(uint8_t sensor_address = 101)
      : ScriptedDevice(Pace{3'000, 521}), address(sensor_address) {
    accepts = [request = ValueRequest()](const std::vector<uint8_t>& r) { return r == request; };
  }

  MeasValueSensor& Value(float value) {
    uint16_t low = 0;
    uint16_t high = 0;
    FloatToRegisters(value, low, high);
    Then(Reply(
        Sealed({address, 3, 4, static_cast<uint8_t>(low >> 8), static_cast<uint8_t>(low & 0xFFu),
                static_cast<uint8_t>(high >> 8), static_cast<uint8_t>(high & 0xFFu)})));
    return *this;
  }
  MeasValueSensor& NotANumber() { return Value(std::numeric_limits<float>::quiet_NaN()); }
  MeasValueSensor& Silence() {
    Then(ScriptedDevice::Silence());
    return *this;
  }
  MeasValueSensor& Exception(uint8_t code) {
    Then(Reply(Sealed({address, 0x83, code})));
    return *this;
  }

  // The request the dialogs must send: read two registers from 400.
  std::vector<uint8_t> ValueRequest() const { return Sealed({address, 3, 0x01, 0x90, 0x00, 0x02}); }

  const uint8_t address;
};

// The application state of a link straight to one simulated device, on a virtual clock, with
// the scripted user interface: what the measuring dialogs are opened with.
struct MeasBench {
  explicit MeasBench(LineDevice* device, uint8_t channel = 0, uint8_t address = 101) {
    state.ui = &ui;
    line = LinkStraightTo(state, device, address, clock, ui);
    state.Channel = channel;
    state.SensorOffset = 0.0f;
    state.SensorSlope = 1.0f;
    // Long enough that the dialogs' own timer never fires in a test: ticks are driven by hand.
    state.ConnectSettings.interval = 5000;
  }

  modbusbox& box() { return *state.ActiveModbusBox; }

  VirtualClock clock;
  ScriptedHost ui;
  AppState state;
  VirtualLine* line = nullptr;
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <vector>

#include "comm/checksum.h"
#include "comm/clock.h"
#include "comm/modbusbox.h"
#include "core/app_state.h"
#include "core/suplfunc.h"
#include "sim/line_device.h"
#include "sim/virtual_line.h"
#include "tests/support/scripted_host.h"

// A sensor that answers reads of its measured value (function 3, registers 400-401) with the
// next scripted reading: a float (NaN and infinities included), silence, or an exception.
// Any other request, and every request once the script has run out, gets no answer.
class MeasValueSensor final : public LineDevice {
 public:
  struct Reading {
    enum class Kind { kValue, kSilence, kException } kind;
    float value = 0.0f;
    uint8_t exception = 0;
  };

  MeasValueSensor& Value(float value) {
    script.push_back({Reading::Kind::kValue, value, 0});
    return *this;
  }
  MeasValueSensor& NotANumber() { return Value(std::numeric_limits<float>::quiet_NaN()); }
  MeasValueSensor& Silence() {
    script.push_back({Reading::Kind::kSilence, 0.0f, 0});
    return *this;
  }
  MeasValueSensor& Exception(uint8_t code) {
    script.push_back({Reading::Kind::kException, 0.0f, code});
    return *this;
  }

  std::vector<TimedByte> Receive(const std::vector<uint8_t>& bytes, uint64_t now_us) override {
    requests.push_back(bytes);
    if (bytes != ValueRequest() || script.empty())
      return {};
    const Reading reading = script.front();
    script.pop_front();
    std::vector<uint8_t> frame;
    switch (reading.kind) {
      case Reading::Kind::kSilence:
        return {};
      case Reading::Kind::kException:
        frame = {address, 0x83, reading.exception};
        break;
      case Reading::Kind::kValue: {
        uint16_t low = 0;
        uint16_t high = 0;
        FloatToRegisters(reading.value, low, high);
        frame = {address,
                 3,
                 4,
                 static_cast<uint8_t>(low >> 8),
                 static_cast<uint8_t>(low & 0xFFu),
                 static_cast<uint8_t>(high >> 8),
                 static_cast<uint8_t>(high & 0xFFu)};
        break;
      }
    }
    AppendChecksum(frame);
    std::vector<TimedByte> out;
    uint64_t at = now_us + kTurnaroundUs;
    for (uint8_t b : frame) {
      out.push_back({at, b});
      at += kByteUs;
    }
    return out;
  }

  // The request the dialogs must send: read two registers from 400.
  std::vector<uint8_t> ValueRequest() const {
    std::vector<uint8_t> frame = {address, 3, 0x01, 0x90, 0x00, 0x02};
    AppendChecksum(frame);
    return frame;
  }

  uint8_t address = 101;
  std::deque<Reading> script;
  std::vector<std::vector<uint8_t>> requests;

 private:
  static constexpr uint64_t kTurnaroundUs = 3'000;
  static constexpr uint64_t kByteUs = 521;  // ten bit times at 19200 bit/s

  static void AppendChecksum(std::vector<uint8_t>& frame) {
    const uint16_t crc = FrameChecksum(frame.data(), static_cast<uint32_t>(frame.size()));
    frame.push_back(static_cast<uint8_t>(crc & 0xFFu));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
  }
};

// The application state of a link straight to one simulated device, on a virtual clock, with
// the scripted user interface: what the measuring dialogs are opened with.
struct MeasBench {
  explicit MeasBench(LineDevice* device, uint8_t channel = 0, uint8_t address = 101) {
    state.clock = &clock;
    state.ui = &ui;
    auto virtual_line = std::make_unique<VirtualLine>(clock, device);
    line = virtual_line.get();
    state.Line = std::move(virtual_line);
    auto box = std::make_unique<modbusbox>(address);
    box->port_handle = line;
    box->clock = &clock;
    box->ui = &ui;
    state.ActiveModbusBox = std::move(box);
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

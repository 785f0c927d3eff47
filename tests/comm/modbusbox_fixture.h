#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "comm/modbusbox.h"
#include "sim/virtual_line.h"
#include "tests/support/scripted_device.h"
#include "tests/support/scripted_host.h"
#include "tests/support/sealed_frame.h"

// A Modbus master on a virtual line to a sensor stand-in that answers each request with the
// next scripted reply (none left, or an empty one: silence).
class ModbusboxFixture : public ::testing::Test {
 protected:
  // The last byte of the request to the end of the first reply byte, and between the ends of
  // two reply bytes.
  static constexpr uint64_t kTurnaroundUs = 10'000;
  static constexpr uint64_t kByteUs = 500;

  ModbusboxFixture() {
    box.port_handle = &line;
    box.clock = &clock;
    box.ui = &ui;
  }

  void Answer(std::vector<uint8_t> bytes) { device.Then(ScriptedDevice::Reply(std::move(bytes))); }
  void Silence() { device.Then(ScriptedDevice::Silence()); }

  VirtualClock clock;
  ScriptedDevice device{{kTurnaroundUs, kByteUs}};
  VirtualLine line{clock, &device};
  ScriptedHost ui;
  modbusbox box{1};
};

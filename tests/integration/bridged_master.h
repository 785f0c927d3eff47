#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "comm/modbusbox.h"
#include "tests/integration/pty_bridge.h"
#include "tests/support/com_link.h"
#include "tests/support/scripted_host.h"

namespace integration {

// Our Modbus master against a server written by others: the server opens the bridge's
// peer_path(), our end is opened as the application opens its port.
class BridgedMasterTest : public ::testing::Test {
 protected:
  explicit BridgedMasterTest(uint8_t address) : box_(address) {}

  // Opens our end of the started bridge as COM<com> and puts the master on it.
  void OpenOurEnd(int com, int32_t first_byte_timeout, int32_t next_byte_timeout) {
    std::string error;
    ASSERT_TRUE(link_.MapAndOpen(com, bridge_.port_path(), 19200, error)) << error;
    box_.port_handle = link_.line();
    box_.first_byte_timeout = first_byte_timeout;
    box_.next_byte_timeout = next_byte_timeout;
    box_.ui = &ui_;
  }

  // Our end goes first, then the server, then the bridge between them.
  virtual void StopServer() = 0;
  void TearDown() override {
    link_.Close();
    StopServer();
    bridge_.Stop();
  }

  PtyBridge bridge_;
  ComLink link_;
  ScriptedHost ui_;
  modbusbox box_;
};

}  // namespace integration

#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "comm/calcbox.h"
#include "comm/clock.h"
#include "comm/comportfunctions.h"
#include "comm/exchange_host.h"
#include "comm/line_tap.h"
#include "comm/modbusbox.h"
#include "comm/serial_line.h"
#include "core/rd_wr_ini.h"
#include "core/reference_link.h"

// Everything the main window owns for the whole run, in one place. Dialogs get a reference to
// it; nothing here is global.
struct AppState {
  TConnectSettings ConnectSettings;
  TConnectSettings SavedSettings;
  std::string SettingsFolder;
  std::string IniPath;
  // The file the settings were read from when it is not IniPath (a read-only file beside the
  // executable); the first save copies it into IniPath and clears this.
  std::string IniBasePath;

  // The open port (kNoComHandle when closed) and the line the exchange objects talk through.
  ::ComHandle ComHandle = kNoComHandle;
  std::unique_ptr<SerialLine> Line;
  std::unique_ptr<calcbox> ActiveCalcBox;
  std::unique_ptr<modbusbox> ActiveModbusBox;
  // What went over the line in this run, across links; made with the first line opened.
  std::unique_ptr<LineTap> Tap;

  // The corrector's codes as typed for this link (UTF-8), offered again when it refuses them.
  std::string TypedUserCode;
  std::string TypedWritePassword;

  // The connection sequence succeeded on the present exchange objects.
  bool Connected = false;
  // The last measured value read on this link, in the unit of the channel as shown.
  std::optional<float> LastValue;
  // The constants password as accepted for this link: a reconnection sends it again without
  // asking. Memory only, never written anywhere.
  std::optional<std::array<uint8_t, 16>> HeldConstPassword;

  // The reference instrument on a port of its own, while one is open; the way its line is made
  // when not by opening its port (tests).
  std::unique_ptr<ReferenceLink> Reference;
  ReferenceLink::LineMaker make_reference_line;

  // The corrector line (and channel) this program put into service and has not taken out or
  // left so on purpose: a reconnection after a lost port finds it still in service and goes
  // straight back to it instead of asking whether to take it out.
  struct ServedLine {
    uint8_t line = 0;
    uint8_t channel = 0;
    bool operator==(const ServedLine&) const = default;
  };
  std::optional<ServedLine> LineInOurService;

  // The folder the last values log of this run went to (UTF-8); the next one is offered there.
  std::string LastLogFolder;

  // Runs the connection sequence again on the port of the settings once a lost port is back;
  // the main window puts its own here. True when the link is up again.
  std::function<bool()> reconnect;

  uint8_t Channel = 0;  // 0 pressure, 1 temperature
  float SensorOffset = 0.0f;
  float SensorSlope = 0.0f;

  // Seams: the clock and user interface handed to every exchange object, and how a line is
  // made for an opened port (tests put a simulated line there).
  Clock* clock = &SystemClock::Instance();
  ExchangeHost* ui = &NullExchangeHost::Instance();
  std::function<std::unique_ptr<SerialLine>(::ComHandle)> make_line;

  // Opens the line for ComHandle with make_line, or with the real port layer by default, with
  // the tap on it.
  SerialLine* OpenLine();
  // Closes the port and forgets its line; the exchange objects must be gone already.
  void ClosePort();
};

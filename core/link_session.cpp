#include "core/link_session.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "comm/comportfunctions.h"

namespace {

// What both protocols take from the link settings.
template <typename Box>
void ApplyLineSettings(const TConnectSettings& settings, SerialLine* line, Box& box) {
  box.port_handle = line;
  box.baud_rate = settings.rate;
  box.first_byte_timeout = settings.wait_time;
  box.next_byte_timeout = settings.time_out;
  box.tries = settings.repeat;
  box.echo = EchoModeOf(settings);
}

template <typename Box>
void AttachTo(const AppState& state, StatusPanel* panel, Box& box) {
  box.status_panel = panel;
  box.clock = state.clock;
  box.ui = state.ui;
  box.tap = state.Tap.get();
}

}  // namespace

std::unique_ptr<modbusbox> MakeSensorBox(const TConnectSettings& settings, uint8_t channel,
                                         SerialLine* line) {
  auto box = std::make_unique<modbusbox>(channel == 1 ? settings.adr_T : settings.adr_P);
  ApplyLineSettings(settings, line, *box);
  box->preambles = settings.sens_pream;
  return box;
}

// Byte by byte: a std::copy from char to uint8_t of the very same size makes the optimiser warn
// of an overflow that cannot happen.
template <size_t N>
void CopyCode(const std::array<char, N>& from, std::array<uint8_t, N>& to) {
  for (size_t i = 0; i < N; ++i)
    to[i] = static_cast<uint8_t>(from[i]);
}

std::unique_ptr<calcbox> MakeCorrectorBox(const TConnectSettings& settings, SerialLine* line) {
  auto box = std::make_unique<calcbox>(settings.adr);
  ApplyLineSettings(settings, line, *box);
  box->preambles = settings.corr_pream;
  CopyCode(settings.write_password, box->write_password);
  CopyCode(settings.user_code, box->user_code);
  return box;
}

void CreateExchangeObjects(AppState& state, StatusPanel* panel) {
  const TConnectSettings& settings = state.ConnectSettings;
  SerialLine* line = state.OpenLine();
  if (settings.conn_type == 1) {
    state.ActiveCalcBox = MakeCorrectorBox(settings, line);
    AttachTo(state, panel, *state.ActiveCalcBox);
  }
  state.ActiveModbusBox = MakeSensorBox(settings, state.Channel, line);
  AttachTo(state, panel, *state.ActiveModbusBox);
}

bool ReopenPort(AppState& state, std::string& error) {
  constexpr int kDataBits = 8;
  constexpr int kNoParity = 0;
  constexpr int kOneStopBit = 0;
  constexpr uint32_t kQueueSize = 1000;
  const TConnectSettings& s = state.ConnectSettings;
  state.ClosePort();
  state.ComHandle = OpenComPort(s.port, s.rate, kDataBits, kNoParity, kOneStopBit, kQueueSize,
                                kQueueSize, true, false);
  if (state.ComHandle == kNoComHandle) {
    error = "COM" + std::to_string(s.port) + ": " + LastComPortError();
    return false;
  }
  SetComTimeouts(state.ComHandle, kComMaxDword, 0, 0);
  SetComDtr(state.ComHandle, true);
  return true;
}

void RequestAbort(AppState& state) {
  if (state.ActiveCalcBox)
    state.ActiveCalcBox->abort_requested = true;
  if (state.ActiveModbusBox)
    state.ActiveModbusBox->abort_requested = true;
}

bool LineInService(const AppState& state) {
  return state.ActiveCalcBox && state.ActiveCalcBox->service_state == calcbox::kStateService;
}

bool LeaveService(AppState& state) {
  calcbox& box = *state.ActiveCalcBox;
  box.abort_requested = false;
  const bool left = box.LeaveService(state.ConnectSettings.line_num);
  if (left)
    state.LineInOurService.reset();
  return left;
}

void CloseExchangeObjects(AppState& state, uint32_t settle_ms) {
  if (state.ActiveCalcBox || state.ActiveModbusBox) {
    RequestAbort(state);
    state.clock->Pause(settle_ms);
    state.ActiveCalcBox.reset();
    state.ActiveModbusBox.reset();
  }
  state.Connected = false;
  state.ClosePort();
}

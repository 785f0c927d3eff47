#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "comm/calcbox.h"
#include "comm/modbusbox.h"
#include "core/app_state.h"

// The exchange objects of a link, made from the settings and taken down again: the same for the
// main window, the benchmarks and the tests.

// The sensor's exchange object for `channel` (0 pressure, 1 temperature) on `line`.
std::unique_ptr<modbusbox> MakeSensorBox(const TConnectSettings& settings, uint8_t channel,
                                         SerialLine* line);

// The corrector's exchange object on `line`, with the codes of `settings`.
std::unique_ptr<calcbox> MakeCorrectorBox(const TConnectSettings& settings, SerialLine* line);

// Opens the line for state.ComHandle and makes the link's exchange objects on it: the
// corrector's for a link through the corrector, the sensor's of state.Channel always. Both get
// the state's clock and host and write their activity into `panel`.
void CreateExchangeObjects(AppState& state, StatusPanel* panel);

// Asks the running exchange, or the next one, to stop as aborted.
void RequestAbort(AppState& state);

// True when the corrector of the link reports the line in service.
bool LineInService(const AppState& state);

// Takes the line of the settings out of service. A stale abort request (a cancel that came
// while the object was idle) is dropped first: this request is wanted.
bool LeaveService(AppState& state);

// Opens the port of the settings again as the connection dialog opens it (8 data bits, no
// parity, one stop bit, reads that return at once, DTR on). False with the reason in `error`.
bool ReopenPort(AppState& state, std::string& error);

// Stops what may still run, gives it `settle_ms` to see the abort, then destroys the exchange
// objects and closes the port.
void CloseExchangeObjects(AppState& state, uint32_t settle_ms);

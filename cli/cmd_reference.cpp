#include "cli/cmd_reference.h"

#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/exit_codes.h"
#include "cli/terminal.h"
#include "core/calibration.h"
#include "core/number_format.h"
#include "core/reference_session.h"

namespace {

int ExitOf(ReferenceLink::Result result) {
  switch (result) {
    case ReferenceLink::Result::kOk:
      return kExitDone;
    case ReferenceLink::Result::kAborted:
      return kExitAborted;
    default:
      return kExitDevice;
  }
}

}  // namespace

int ReferenceCommand(AppState& state, CliHost& host, bool trace, bool json, int count) {
  if (trace)
    host.Trace(state.Tap ? state.Tap.get()
                         : (state.Tap = std::make_unique<LineTap>(*state.clock)).get());
  std::string error;
  if (!ReferenceConfigured(state)) {
    std::cerr << "vorlix-cli: no reference instrument: set its port in section REFERENCE of "
              << state.IniPath << '\n';
    return kExitUsage;
  }
  if (!OpenReference(state, error)) {
    std::cerr << "vorlix-cli: " << error << '\n';
    return kExitPort;
  }
  ReferenceLink& link = *state.Reference;
  host.on_stop = [&link] { link.RequestAbort(); };
  const TConnectSettings& s = state.ConnectSettings;
  const int digits = state.Channel == 1 ? s.T_format : s.P_format;
  const std::string unit = ChannelUnitName(state.Channel, s.P_unit);

  std::string id;
  const bool identified =
      !link.settings().identify.empty() && link.Identify(id, error) == ReferenceLink::Result::kOk;
  host.PrintTrace();
  if (json) {
    std::cout << nlohmann::json{{"reference", link.Title()},
                                {"identification", identified ? nlohmann::json(id) : nullptr}}
                     .dump()
              << '\n';
  } else {
    std::cout << link.Title() << ": " << (identified ? id : "(no identification)") << '\n';
  }
  for (int n = 0; n < count && !StopRequested(); ++n) {
    const uint32_t tick = state.clock->TickCount();
    double value = 0.0;
    bool in_limits = true;
    ReferenceLink::Result result = link.InLimits(in_limits, error);
    if (result == ReferenceLink::Result::kOk)
      result = link.Read(state.Channel, s.P_unit, value, error);
    host.PrintTrace();
    if (result != ReferenceLink::Result::kOk) {
      std::cerr << "vorlix-cli: " << error << '\n';
      return ExitOf(result);
    }
    if (json) {
      std::cout << nlohmann::json{{"value", value}, {"unit", unit}, {"in_limits", in_limits}}.dump()
                << '\n';
    } else {
      std::cout << FormatFixed(value, digits) << ' ' << unit
                << (in_limits ? "" : " (not in limits)") << '\n';
    }
    const uint32_t elapsed = state.clock->TickCount() - tick;
    if (n + 1 < count && elapsed < s.interval && !StopRequested())
      state.clock->Pause(s.interval - elapsed);
  }
  return StopRequested() ? kExitAborted : kExitDone;
}

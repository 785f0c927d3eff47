#include "cli/cmd_verify_instrument.h"

#include <cmath>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/terminal.h"
#include "core/link_session.h"
#include "core/number_format.h"

using nlohmann::json;

namespace {

const char* Direction(const PlanPoint& point) {
  return point.falling ? "falling" : "rising";
}

void PrintEvent(const json& event) {
  std::cout << event.dump(-1, ' ', false, json::error_handler_t::replace) << '\n';
  std::cout.flush();
}

std::string PointName(const VerificationRun& run, const InstrumentProgress& p) {
  return "point " + std::to_string(p.index + 1) + " of " + std::to_string(p.count) + " (" +
         FormatFixed(p.point.nominal, run.digits) + " " + run.unit + ", " + Direction(p.point) +
         ")";
}

// One line of what the last poll read and what the point waits for.
std::string PollLine(const VerificationRun& run, const InstrumentProgress& p) {
  const auto shown = [&run](const std::optional<double>& v) {
    return v ? FormatFixed(*v, run.digits) : std::string("-");
  };
  std::string line = PointName(run, p) + ": reference " + shown(p.reference) + ", sensor " +
                     shown(p.sensor) + (p.in_limits ? "" : ", not in limits");
  if (p.sensor_spread.count > 0)
    line += " (" + std::to_string(p.sensor_spread.count) + " readings)";
  if (!p.note.empty())
    line += "; sensor: " + p.note;
  return line;
}

}  // namespace

InstrumentVerifyEnd VerifyWithInstrument(AppState& state, CliHost& host, VerificationRun& run,
                                         const ReadSensorSample& sensor,
                                         const InstrumentVerifyOptions& o) {
  Clock& clock = *state.clock;
  InstrumentRunConfig config;
  config.p_unit = o.p_unit;
  config.display_step = std::pow(10.0, -run.digits);
  config.stability_share = o.stability_share;
  config.point_limit_ms = o.point_limit_ms;
  config.abort_sensor = [&state] { RequestAbort(state); };
  InstrumentRun engine(run, *state.Reference, sensor, config);
  engine.set_listener([&](const InstrumentEvent& e) {
    const json point = {{"index", e.index + 1},
                        {"of", engine.progress().count},
                        {"nominal", e.point.nominal},
                        {"direction", Direction(e.point)}};
    switch (e.kind) {
      case InstrumentEvent::Kind::kPointStarted:
        Progress(PointName(run, engine.progress()) + ": started");
        if (o.json)
          PrintEvent({{"point_started", point}});
        break;
      case InstrumentEvent::Kind::kSettled:
        if (o.json) {
          json settled = point;
          settled["reference"] = engine.progress().reference_spread.mean;
          settled["sensor"] = engine.progress().sensor_spread.mean;
          PrintEvent({{"settled", settled}});
        }
        break;
      case InstrumentEvent::Kind::kPointDone: {
        const VerificationPoint& p = run.points.back();
        Progress(PointName(run, engine.progress()) + ": applied " +
                 FormatFixed(p.applied, run.digits) + ", mean " + FormatFixed(p.mean, run.digits) +
                 ", error " + FormatFixed(p.error, run.digits + 1) + " " + run.unit + ": " +
                 VerdictKey(p.verdict) + " in " + std::to_string(e.point_ms) + " ms");
        if (o.json) {
          json done = point;
          done["ms"] = e.point_ms;
          done["verdict"] = VerdictKey(p.verdict);
          PrintEvent({{"point_done", done}});
        }
        break;
      }
      case InstrumentEvent::Kind::kStopped:
        break;
    }
  });

  const auto previous_stop = host.on_stop;
  host.on_stop = [&] {
    if (previous_stop)
      previous_stop();
    engine.Cancel();
  };
  while (!engine.ended()) {
    if (StopRequested()) {
      engine.Cancel();
      break;
    }
    if (engine.phase() == InstrumentPhase::kAwaitingProceed) {
      const InstrumentProgress& p = engine.progress();
      Progress("apply " + FormatFixed(p.point.nominal, run.digits) + " " + run.unit + " at " +
               PointName(run, p) + ", then press Enter");
      if (!ReadInputLine(true) || StopRequested())
        engine.Cancel();
      else
        engine.Proceed(clock.TickCount());
      continue;
    }
    const uint32_t tick = clock.TickCount();
    const InstrumentPhase phase = engine.Tick(tick);
    host.PrintTrace();
    if (phase == InstrumentPhase::kSettling)
      Progress(PollLine(run, engine.progress()));
    const uint32_t elapsed = clock.TickCount() - tick;
    if (phase == InstrumentPhase::kSettling && elapsed < o.interval_ms && !StopRequested())
      clock.Pause(o.interval_ms - elapsed);
  }
  host.on_stop = previous_stop;

  if (engine.vent_pending()) {
    const int stops = StopRequests();
    Progress(engine.message());
    Progress(state.Reference->Title() +
             ": waiting for its port to come back to vent the output (Ctrl+C leaves it on)");
    while (engine.vent_pending() && StopRequests() == stops) {
      clock.Pause(o.interval_ms);
      engine.Tick(clock.TickCount());
    }
    if (!engine.vent_pending())
      Progress(state.Reference->Title() + ": output vented");
  }
  InstrumentVerifyEnd end;
  end.stop = engine.stop();
  end.message = engine.message();
  if (engine.vent_pending())
    end.message += (end.message.empty() ? "" : "; ") + state.Reference->Title() +
                   ": the output was not vented: vent it by hand";
  return end;
}

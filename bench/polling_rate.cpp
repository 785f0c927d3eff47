// How fast the current values monitor really polls, and what it costs. Starts vorlix-sim with a
// pressure sensor wired straight to the port, opens the port through the real serial layer as
// the connection dialog does, and runs the real monitor dialog for a while at each polling
// interval, on the Qt user-interface services the application uses. Prints the readings the
// monitor counted per second against the nominal 1000 / interval, and the process's CPU time
// (user + system) as a share of the wall time. The simulator's own CPU time is not counted.
// At 1200 bit/s it also prints the longest time the window went without handling its events
// (the gaps between the firings of a 1 ms timer).
//
//   QT_QPA_PLATFORM=offscreen build/release/bin/bench_polling_rate [rate ...]
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "comm/comportfunctions.h"
#include "comm/modbusbox.h"
#include "core/app_state.h"
#include "core/link_session.h"
#include "gui/form_main.h"
#include "gui/measurement/check_val.h"
#include "gui/qt_exchange_host.h"
#include "sim/child_process.h"

namespace {

constexpr int kPort = 201;

struct Run {
  int interval_ms;
  int seconds;
  bool probe_stalls = false;
};
struct Rate {
  int32_t rate;
  std::vector<Run> runs;
};
const std::vector<Rate> kRates = {
    {19200, {{50, 5}, {200, 5}, {1000, 10}}},
    {115200, {{50, 5}, {200, 5}}},
    {1200, {{200, 5, true}}},
};

// One monitor session: the dialog shown for `run.seconds`, then closed as by its button.
void Measure(AppState& state, int32_t rate, const Run& run) {
  state.ConnectSettings.interval = static_cast<uint16_t>(run.interval_ms);
  TFormCheck_Val monitor(state);
  // Precise: a coarse timer of this length may fire a twentieth early.
  QTimer::singleShot(run.seconds * 1000, Qt::PreciseTimer, &monitor,
                     [&monitor] { monitor.BitBtn5->click(); });

  // Fires every millisecond whenever the window handles its events; a longer gap is a stall.
  QTimer probe;
  probe.setTimerType(Qt::PreciseTimer);
  std::vector<double> gaps_ms;
  auto last_fired = std::chrono::steady_clock::now();
  QObject::connect(&probe, &QTimer::timeout, [&] {
    const auto now = std::chrono::steady_clock::now();
    gaps_ms.push_back(std::chrono::duration<double, std::milli>(now - last_fired).count());
    last_fired = now;
  });
  if (run.probe_stalls)
    probe.start(1);

  const double cpu_before = CpuSeconds();
  const auto wall_before = std::chrono::steady_clock::now();
  monitor.exec();
  probe.stop();
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
  const double cpu = CpuSeconds() - cpu_before;

  // The counter as the engineer sees it.
  const int readings = monitor.StatusBar1Panel1->text().trimmed().toInt();
  const QString last_error = monitor.StatusBar1Panel0->text();
  std::printf(
      "%6d bit/s  interval %4d ms  %5.2f s  readings %4d  %6.2f /s (nominal %6.2f)  "
      "cpu %6.1f ms  cpu/wall %5.2f %%%s%s\n",
      rate, run.interval_ms, wall, readings, readings / wall, 1000.0 / run.interval_ms, cpu * 1e3,
      100.0 * cpu / wall,
      last_error.isEmpty() ? "" : "  last error: ", last_error.toStdString().c_str());
  if (run.probe_stalls) {
    const auto stalls =
        std::count_if(gaps_ms.begin(), gaps_ms.end(), [](double g) { return g > 20; });
    std::printf(
        "    window without its events: p99 %.1f ms, longest %.1f ms, %ld gaps over 20 ms "
        "(CPU above includes the 1 ms probe)\n",
        Percentile(gaps_ms, 0.99), Percentile(gaps_ms, 1.0), static_cast<long>(stalls));
  }
  std::fflush(stdout);
}

bool MeasureAt(const Rate& at, const QTemporaryDir& folder, QtExchangeHost& ui) {
  const int32_t rate = at.rate;
  const std::string ini = folder.path().toStdString();
  ChildProcess sim;
  if (!StartSimulator(sim, VORLIX_SIM_EXE,
                      {"--connection", "direct", "--ini-dir", ini, "--com", std::to_string(kPort),
                       "--rate", std::to_string(rate)})) {
    std::fprintf(stderr, "vorlix-sim did not start:\n%s\n", sim.error_text().c_str());
    return false;
  }

  // The link as the connection command leaves it, with the stored defaults otherwise.
  AppState state;
  state.ui = &ui;
  state.Channel = 0;
  state.SensorSlope = 1.0f;
  state.SensorOffset = 0.0f;
  TConnectSettings& settings = state.ConnectSettings;
  settings.conn_type = 0;
  settings.port = kPort;
  settings.rate = rate;
  settings.P_unit = 1;

  SetComPortsFolder(ini + "/ports");
  state.ComHandle = OpenComPort(kPort, rate, 8, 0, 0, 1000, 1000, true, false);
  if (state.ComHandle == kNoComHandle) {
    std::fprintf(stderr, "cannot open COM%d: %s\n", kPort, LastComPortError().c_str());
    return false;
  }
  SetComTimeouts(state.ComHandle, kComMaxDword, 0, 0);

  // Where the main window's status bar shows the exchange activity.
  QLabel activity;
  QtStatusPanel panel(&activity);
  CreateExchangeObjects(state, &panel);

  for (const Run& run : at.runs)
    Measure(state, rate, run);
  // Without the RTS hold (the send time of 11 bytes with the preambles) the same polling shows
  // what the rest of the exchange costs.
  std::printf("  without the RTS hold:\n");
  state.ActiveModbusBox->rts_switching = false;
  Measure(state, rate, at.runs.front());

  state.ActiveModbusBox.reset();
  state.ClosePort();
  sim.Stop();
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  UseFullStopDecimalSeparator();
  QtExchangeHost ui;

  QTemporaryDir folder;
  if (!folder.isValid()) {
    std::fprintf(stderr, "no temporary folder\n");
    return 1;
  }
  std::printf(
      "current values monitor against vorlix-sim (direct, %d preambles, replies after "
      "3 ms), real serial layer\n",
      TConnectSettings{}.sens_pream);
  // Optional arguments: the rates to run (default all).
  std::vector<int32_t> only;
  for (int i = 1; i < argc; ++i)
    only.push_back(std::atoi(argv[i]));
  for (const Rate& rate : kRates) {
    if (!only.empty() && std::find(only.begin(), only.end(), rate.rate) == only.end())
      continue;
    if (!MeasureAt(rate, folder, ui))
      return 1;
  }
  return 0;
}

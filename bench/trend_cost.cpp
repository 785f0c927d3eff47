// What the trend of the values monitor costs. First, side by side, the process's CPU share
// while the real monitor polls vorlix-sim every 50 ms through the real serial layer, with the
// trend hidden and shown (and both again without the RTS hold, a busy wait of the send time
// that otherwise dominates). Then the resident memory after an hour of readings at 50 ms:
// once fed straight into the series on a virtual time, once through the monitor itself
// against a simulated sensor on a virtual clock, trend drawn as it goes.
//
//   QT_QPA_PLATFORM=offscreen build/release/bin/bench_trend_cost [seconds per run, 0: memory only]
#include <sys/resource.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "comm/comportfunctions.h"
#include "comm/modbusbox.h"
#include "core/app_state.h"
#include "core/link_session.h"
#include "core/reading_series.h"
#include "gui/form_main.h"
#include "gui/measurement/check_val.h"
#include "gui/qt_exchange_host.h"
#include "sim/child_process.h"
#include "sim/sim_sensor.h"
#include "sim/virtual_line.h"

namespace {

constexpr int kPort = 202;
constexpr int kIntervalMs = 50;
constexpr int kHourOfReadings = 3600 * 1000 / kIntervalMs;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Resident memory of this process in MB.
double ResidentMb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      double kb = 0;
      status >> kb;
      return kb / 1024.0;
    }
    status.ignore(1 << 12, '\n');
  }
  return 0.0;
}

struct Share {
  double cpu_percent = 0.0;
  double readings_per_second = 0.0;
};

// The monitor shown for `seconds` at 50 ms, its trend shown or hidden.
Share Measure(AppState& state, bool trend, int seconds) {
  state.ConnectSettings.interval = kIntervalMs;
  TFormCheck_Val monitor(state);
  monitor.CheckBox1->setChecked(trend);
  QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &monitor,
                     [&monitor] { monitor.BitBtn5->click(); });
  const double cpu_before = CpuSeconds();
  const auto wall_before = std::chrono::steady_clock::now();
  monitor.exec();
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
  return {100.0 * (CpuSeconds() - cpu_before) / wall, monitor.count() / wall};
}

bool CpuAt(int32_t rate, const QTemporaryDir& folder, QtExchangeHost& ui, int seconds) {
  const std::string ini = folder.path().toStdString();
  ChildProcess sim;
  if (!StartSimulator(sim, VORLIX_SIM_EXE,
                      {"--connection", "direct", "--ini-dir", ini, "--com", std::to_string(kPort),
                       "--rate", std::to_string(rate), "--noise", "0.02"})) {
    std::fprintf(stderr, "vorlix-sim did not start:\n%s\n", sim.error_text().c_str());
    return false;
  }
  AppState state;
  state.ui = &ui;
  state.SensorSlope = 1.0f;
  TConnectSettings& settings = state.ConnectSettings;
  settings.conn_type = 0;
  settings.port = kPort;
  settings.rate = rate;
  settings.P_unit = 1;
  settings.P_format = 3;
  SetComPortsFolder(ini + "/ports");
  state.ComHandle = OpenComPort(kPort, rate, 8, 0, 0, 1000, 1000, true, false);
  if (state.ComHandle == kNoComHandle) {
    std::fprintf(stderr, "cannot open COM%d: %s\n", kPort, LastComPortError().c_str());
    return false;
  }
  SetComTimeouts(state.ComHandle, kComMaxDword, 0, 0);
  QLabel activity;
  QtStatusPanel panel(&activity);
  CreateExchangeObjects(state, &panel);

  for (const bool rts : {true, false}) {
    state.ActiveModbusBox->rts_switching = rts;
    const Share without = Measure(state, false, seconds);
    const Share with = Measure(state, true, seconds);
    std::printf(
        "%6d bit/s  RTS hold %-3s  without trend %5.2f %% (%5.2f /s)  with trend %5.2f %% "
        "(%5.2f /s)  ratio %4.2f\n",
        rate, rts ? "on" : "off", without.cpu_percent, without.readings_per_second,
        with.cpu_percent, with.readings_per_second,
        with.cpu_percent / std::max(without.cpu_percent, 1e-9));
    std::fflush(stdout);
  }
  state.ActiveModbusBox.reset();
  state.ClosePort();
  sim.Stop();
  return true;
}

void MemoryOfAnHour(QtExchangeHost& ui, int hour_readings) {
  const double start = ResidentMb();
  {
    ReadingSeries series;
    for (int i = 0; i < kHourOfReadings; ++i)
      series.Add({i * kIntervalMs / 1000.0, 101.325 + 0.01 * std::sin(i * 0.01), 101.3});
    std::printf("series fed an hour at 50 ms: %zu points kept, resident %+.2f MB\n", series.size(),
                ResidentMb() - start);
  }

  // The monitor itself against a simulated sensor on a virtual clock: each tick one real
  // exchange over the simulated line, the trend redrawn as often as it would be.
  VirtualClock clock;
  SensorConfig config = SensorConfig::Pressure();
  config.noise = 0.02;
  SimDirectSensor device(config, LineTiming{}, FaultConfig{});
  AppState state;
  state.clock = &clock;
  state.ui = &ui;
  state.Line = std::make_unique<VirtualLine>(clock, &device);
  auto box = std::make_unique<modbusbox>(config.address);
  box->port_handle = state.Line.get();
  box->clock = &clock;
  box->ui = &ui;
  state.ActiveModbusBox = std::move(box);
  state.SensorSlope = 1.0f;
  state.ConnectSettings.P_unit = 1;
  state.ConnectSettings.P_format = 3;
  state.ConnectSettings.interval = 5000;  // ticks driven below
  TFormCheck_Val monitor(state);
  monitor.show();
  QCoreApplication::processEvents();
  monitor.Timer1->stop();
  // Ticks at the virtual pace; the CPU they take against the virtual time they cover is the
  // share of a core the monitor would take polling at that pace, the waits on the line aside.
  auto feed = [&](int readings) {
    const double cpu_before = CpuSeconds();
    for (int i = 0; i < readings; ++i) {
      clock.Advance(kIntervalMs * 1000);
      monitor.Timer1Timer();
      if (i % 5 == 0)
        QCoreApplication::processEvents();  // lets the trend paint as it would
    }
    QCoreApplication::processEvents();
    return 100.0 * (CpuSeconds() - cpu_before) / (readings * kIntervalMs / 1000.0);
  };
  const double shown = ResidentMb();
  const double hour_share = feed(hour_readings);
  std::printf(
      "monitor fed an hour at 50 ms (%d readings, %zu kept, trend of 5 min drawn): "
      "resident %+.2f MB since it was shown (%.1f MB in all); CPU %.2f %% of the "
      "virtual hour\n",
      monitor.count(), monitor.series().size(), ResidentMb() - shown, ResidentMb(), hour_share);
  // With a full series behind it: the trend's steady cost, hidden against shown, per window.
  constexpr int kTenMinutes = 10 * 60 * 1000 / kIntervalMs;
  for (const int window : {0, 1, 3}) {
    monitor.ComboBox1->setCurrentIndex(window);
    monitor.CheckBox1->setChecked(false);
    const double hidden = feed(kTenMinutes / 5);
    monitor.CheckBox1->setChecked(true);
    const double drawn = feed(kTenMinutes / 5);
    std::printf(
        "  after the hour, window %s: CPU without trend %5.2f %%, with trend %5.2f %% of "
        "the virtual time (ratio %.2f)\n",
        monitor.ComboBox1->currentText().toStdString().c_str(), hidden, drawn,
        drawn / std::max(hidden, 1e-9));
  }
  monitor.close();
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  UseFullStopDecimalSeparator();
  QtExchangeHost ui;
  // 0 seconds: the memory and steady-cost part alone.
  const int seconds = argc > 1 ? std::max(0, std::atoi(argv[1])) : 8;

  QTemporaryDir folder;
  if (!folder.isValid()) {
    std::fprintf(stderr, "no temporary folder\n");
    return 1;
  }
  std::printf(
      "values monitor at 50 ms against vorlix-sim, %d s a run, CPU of this process as "
      "a share of wall time\n",
      seconds);
  for (const int32_t rate : {19200, 115200}) {
    if (seconds > 0 && !CpuAt(rate, folder, ui, seconds))
      return 1;
  }
  // A shorter "hour" in minutes, for a quick look.
  const int minutes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 60;
  MemoryOfAnHour(ui, minutes * 60 * 1000 / kIntervalMs);
  return 0;
}

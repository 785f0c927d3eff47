// The statistics window polling the sensor and the reference instrument side by side, each on
// its own port through the real serial layer against vorlix-sim. Prints the readings per second
// of each against the nominal 1000 / interval, and the process's CPU time (user + system) as a
// share of the wall time; the same window without a reference for comparison. The simulator's
// own CPU time is not counted.
//
//   QT_QPA_PLATFORM=offscreen build/release/bin/bench_reference_polling
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <string>

#include "bench/bench_support.h"
#include "comm/comportfunctions.h"
#include "core/app_state.h"
#include "core/link_session.h"
#include "core/reference_settings.h"
#include "gui/form_main.h"
#include "gui/measurement/ask_val.h"
#include "gui/qt_exchange_host.h"
#include "sim/child_process.h"

namespace {

constexpr int kSensorPort = 203;
constexpr int kReferencePort = 204;
constexpr int kSeconds = 5;

void Measure(AppState& state, int interval_ms, bool with_reference) {
  ReferenceSettings reference;
  ApplyReferencePreset(ReferencePresets()[1], reference);
  reference.port = with_reference ? kReferencePort : 0;
  reference.rate = 115200;
  std::string reason;
  SaveReferenceSettings(state.IniPath, reference, reason);
  state.Tap->ClearStats();

  state.ConnectSettings.interval = static_cast<uint16_t>(interval_ms);
  CalibrationRecord record;
  record.factor = 1.0;
  record.digits = 3;
  TFormAsk_Val dialog(state);
  dialog.record = &record;
  QTimer::singleShot(kSeconds * 1000, Qt::PreciseTimer, &dialog,
                     [&dialog] { dialog.BitBtn2->click(); });
  const double cpu_before = CpuSeconds();
  const auto wall_before = std::chrono::steady_clock::now();
  dialog.exec();
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
  const double cpu = CpuSeconds() - cpu_before;
  const double sensor = static_cast<double>(state.Tap->stats(TapProtocol::kModbus).answered);
  const double ref = static_cast<double>(state.Tap->stats(TapProtocol::kReference).answered);
  std::printf(
      "interval %4d ms  %s  %5.2f s  sensor %6.2f /s  reference %6.2f /s  (nominal %6.2f)  "
      "cpu %6.1f ms  cpu/wall %5.2f %%\n",
      interval_ms, with_reference ? "with reference   " : "without reference", wall, sensor / wall,
      ref / wall, 1000.0 / interval_ms, cpu * 1e3, 100.0 * cpu / wall);
  std::fflush(stdout);
  state.Reference.reset();
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  UseFullStopDecimalSeparator();
  QtExchangeHost ui;
  QTemporaryDir folder;
  const std::string ini = folder.path().toStdString();
  ChildProcess sim;
  if (!StartSimulator(
          sim, VORLIX_SIM_EXE,
          {"--connection", "direct", "--ini-dir", ini, "--com", std::to_string(kSensorPort),
           "--rate", "115200", "--reference-com", std::to_string(kReferencePort),
           "--reference-rate", "115200", "--reference-noise", "0.001"})) {
    std::fprintf(stderr, "vorlix-sim did not start:\n%s\n", sim.error_text().c_str());
    return 1;
  }
  AppState state;
  state.ui = &ui;
  state.IniPath = ini + "/vorlix.ini";
  state.SensorSlope = 1.0f;
  TConnectSettings& settings = state.ConnectSettings;
  settings.conn_type = 0;
  settings.port = kSensorPort;
  settings.rate = 115200;
  SetComPortsFolder(ini + "/ports");
  state.ComHandle = OpenComPort(kSensorPort, settings.rate, 8, 0, 0, 1000, 1000, true, false);
  if (state.ComHandle == kNoComHandle) {
    std::fprintf(stderr, "cannot open COM%d: %s\n", kSensorPort, LastComPortError().c_str());
    return 1;
  }
  SetComTimeouts(state.ComHandle, kComMaxDword, 0, 0);
  CreateExchangeObjects(state, nullptr);
  std::printf("statistics window against vorlix-sim: sensor and reference at 115200 bit/s\n");
  for (int interval : {50, 200}) {
    Measure(state, interval, true);
    Measure(state, interval, false);
  }
  state.ActiveModbusBox.reset();
  state.ClosePort();
  sim.Stop();
  return 0;
}

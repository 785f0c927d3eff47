// Round trip of reads of registers 400-401 over a pseudo-terminal against vorlix-sim: our
// Modbus master beside an independent one (libmodbus), the same simulator, the same run.
// Prints wall time and processor time per transaction and the ratio ours/independent; built
// with the GUI, also ours with the line tap recording and the exchange monitor open beside
// ours without them, both pumping the window's events between the reply bytes as the
// application does (run with QT_QPA_PLATFORM=offscreen where there is no display).
//
//   bench_modbus_roundtrip [reads] [rate]       (defaults 1000 and 115200)
#include <modbus.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "comm/comport_line.h"
#include "comm/comportfunctions.h"
#include "comm/line_tap.h"
#include "comm/line_tap_format.h"
#include "comm/modbusbox.h"
#include "sim/child_process.h"

#ifdef VORLIX_BENCH_MONITOR
#include <QApplication>

#include "core/app_state.h"
#include "gui/qt_exchange_host.h"
#include "gui/service/exchange_monitor.h"
#endif

namespace {

constexpr int kPort = 201;
constexpr int kSensorAddress = 101;

struct Figures {
  int failures = 0;
  double wall_ms = 0;
  double cpu_ms = 0;
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

Figures Run(int reads, const std::function<bool()>& read_once) {
  Figures f;
  const double cpu0 = CpuSeconds();
  const auto wall0 = std::chrono::steady_clock::now();
  for (int i = 0; i < reads; ++i)
    f.failures += read_once() ? 0 : 1;
  f.wall_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall0).count() /
      reads;
  f.cpu_ms = (CpuSeconds() - cpu0) * 1e3 / reads;
  return f;
}

// Starts vorlix-sim (beside this program) with one pressure sensor wired straight to the port
// and waits for its READY line; the path of its port link.
std::optional<std::string> StartSim(ChildProcess& sim, const std::filesystem::path& ini_dir,
                                    int rate) {
  const std::filesystem::path exe =
      std::filesystem::canonical("/proc/self/exe").parent_path() / "vorlix-sim";
  return StartSimulator(
      sim, exe.string(),
      {"--connection", "direct", "--turnaround", "1", "--com", std::to_string(kPort), "--rate",
       std::to_string(rate), "--ini-dir", ini_dir.string()});
}

void Print(const char* who, const Figures& f) {
  std::printf("%-22s %8.3f ms/read  %8.4f ms CPU/read  %d failed\n", who, f.wall_ms, f.cpu_ms,
              f.failures);
}

}  // namespace

int main(int argc, char** argv) {
  const int reads = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int rate = argc > 2 ? std::atoi(argv[2]) : 115200;
#ifdef VORLIX_BENCH_MONITOR
  QApplication application(argc, argv);
#endif
  char folder_template[] = "/tmp/vorlix-rtt-XXXXXX";
  const std::filesystem::path ini_dir = mkdtemp(folder_template);
  ChildProcess simulator;
  const std::optional<std::string> started = StartSim(simulator, ini_dir, rate);
  if (!started) {
    std::fprintf(stderr, "vorlix-sim did not start\n%s", simulator.error_text().c_str());
    return 1;
  }
  const std::string& link = *started;
  std::printf("%d reads of registers 400-401 at %d bit/s through %s\n", reads, rate, link.c_str());

  SetComPortsFolder((ini_dir / "ports").string());
  const ComHandle handle = OpenComPort(kPort, rate, 8, 0, 0, 1000, 1000, true, false);
  if (handle == kNoComHandle) {
    std::fprintf(stderr, "cannot open COM%d: %s\n", kPort, LastComPortError().c_str());
    return 1;
  }
  SetComTimeouts(handle, kComMaxDword, 0, 0);
  Figures ours;
  Figures ours_no_rts;
  {
    ComPortLine line(handle);
    modbusbox box(kSensorAddress);
    box.port_handle = &line;
    box.baud_rate = rate;
    box.first_byte_timeout = 1000;
    box.next_byte_timeout = 55;
    ours = Run(reads, [&] { return box.ReadRegisters(400, 2); });
    // RTS held for the send time is a deliberate busy wait (10 bit times a byte); without it
    // the figures show what the reply wait itself costs.
    box.rts_switching = false;
    ours_no_rts = Run(reads, [&] { return box.ReadRegisters(400, 2); });
  }
#ifdef VORLIX_BENCH_MONITOR
  // The same reads with the window's events pumped, without and then with the tap and the
  // monitor, twice in turn so that a drift of the machine falls on both.
  Figures plain_sum;
  Figures tapped_sum;
  size_t frames = 0;
  {
    QtExchangeHost host;
    AppState state;
    state.Tap = std::make_unique<LineTap>(SystemClock::Instance());
    ExchangeMonitorWindow monitor(state);
    monitor.show();
    ComPortLine plain_line(handle);
    TappedLine tapped_line(std::make_unique<ComPortLine>(handle), *state.Tap);
    modbusbox box(kSensorAddress);
    box.baud_rate = rate;
    box.first_byte_timeout = 1000;
    box.next_byte_timeout = 55;
    box.ui = &host;
    const auto add = [](Figures& sum, const Figures& f) {
      sum.failures += f.failures;
      sum.wall_ms += f.wall_ms / 2;
      sum.cpu_ms += f.cpu_ms / 2;
    };
    for (int round = 0; round < 2; ++round) {
      box.port_handle = &plain_line;
      box.tap = nullptr;
      add(plain_sum, Run(reads, [&] { return box.ReadRegisters(400, 2); }));
      box.port_handle = &tapped_line;
      box.tap = state.Tap.get();
      add(tapped_sum, Run(reads, [&] { return box.ReadRegisters(400, 2); }));
    }
    monitor.Refresh();
    frames = static_cast<size_t>(monitor.model().rowCount());
    std::printf(
        "%s\n",
        FormatLinkStats(TapProtocol::kModbus, state.Tap->stats(TapProtocol::kModbus)).c_str());
  }
#endif
  CloseComPort(handle);

  modbus_t* context = modbus_new_rtu(link.c_str(), rate, 'N', 8, 1);
  Figures theirs;
  if (context == nullptr || modbus_set_slave(context, kSensorAddress) != 0 ||
      modbus_connect(context) != 0) {
    std::fprintf(stderr, "libmodbus could not open %s\n", link.c_str());
  } else {
    modbus_set_response_timeout(context, 1, 0);
    uint16_t registers[2];
    theirs = Run(reads, [&] { return modbus_read_registers(context, 400, 2, registers) == 2; });
    modbus_close(context);
  }
  if (context != nullptr)
    modbus_free(context);

  Print("vorlix modbusbox", ours);
  Print("  without RTS hold", ours_no_rts);
  Print("libmodbus", theirs);
#ifdef VORLIX_BENCH_MONITOR
  std::printf("\nwith the window's events pumped (two rounds each, mean):\n");
  Print("  without tap/monitor", plain_sum);
  Print("  tap + open monitor", tapped_sum);
  if (plain_sum.wall_ms > 0 && plain_sum.cpu_ms > 0)
    std::printf("  tap + monitor / without: %.3f wall, %.3f CPU (%zu rows in the monitor)\n",
                tapped_sum.wall_ms / plain_sum.wall_ms, tapped_sum.cpu_ms / plain_sum.cpu_ms,
                frames);
#endif
  if (theirs.wall_ms > 0 && theirs.cpu_ms > 0) {
    std::printf("ratio ours/libmodbus: %.3f wall, %.3f CPU\n", ours.wall_ms / theirs.wall_ms,
                ours.cpu_ms / theirs.cpu_ms);
    std::printf("without the RTS hold:  %.3f wall, %.3f CPU\n",
                ours_no_rts.wall_ms / theirs.wall_ms, ours_no_rts.cpu_ms / theirs.cpu_ms);
  }

  simulator.Stop();
  std::filesystem::remove_all(ini_dir);
  return 0;
}

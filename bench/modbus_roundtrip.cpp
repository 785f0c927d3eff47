// Round trip of reads of registers 400-401 over a pseudo-terminal against vorlix-sim: our
// Modbus master beside an independent one (libmodbus), the same simulator, the same run, at
// 19200 and 115200 bit/s. Each side with RTS switched around the request and without, the four
// taking turns read by read. Prints the median wall time and the processor time per read, the
// ratios, and how late RTS dropped after the end of the hold it was computed for (p50, p99).
// Built with the GUI, also ours with the window's events pumped between the reply bytes as the
// application does, without and with the line tap recording and the exchange monitor open
// (run with QT_QPA_PLATFORM=offscreen where there is no display).
//
//   bench_modbus_roundtrip [reads]       (default 500 per side and rate)
#include <modbus.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_support.h"
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
constexpr size_t kRequestBytes = 8;  // address, function, first, count, checksum

// One contestant: a read, and what the reads have cost so far.
struct Side {
  Side(const char* n, std::function<bool()> r) : name(n), read(std::move(r)) {}

  const char* name;
  std::function<bool()> read;
  int failures = 0;
  double cpu_s = 0;
  std::vector<double> wall_ms;

  double cpu_ms_per_read() const { return wall_ms.empty() ? 0 : cpu_s * 1e3 / wall_ms.size(); }
  double median_wall_ms() const { return Percentile(wall_ms, 0.5); }
};

// Takes turns read by read, so that a machine whose load changes during the run weighs on
// every side alike.
void RunInTurns(int reads, std::vector<Side*> sides) {
  for (int i = 0; i < reads; ++i) {
    for (Side* side : sides) {
      const double cpu0 = CpuSeconds();
      const auto wall0 = std::chrono::steady_clock::now();
      side->failures += side->read() ? 0 : 1;
      side->wall_ms.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall0)
              .count());
      side->cpu_s += CpuSeconds() - cpu0;
    }
  }
}

void Print(const Side& side) {
  std::printf("  %-28s %8.3f ms/read (median)  %8.4f ms CPU/read  %d failed\n", side.name,
              side.median_wall_ms(), side.cpu_ms_per_read(), side.failures);
}

modbus_t* OpenLibmodbus(const std::string& link, int rate, bool rts) {
  modbus_t* context = modbus_new_rtu(link.c_str(), rate, 'N', 8, 1);
  if (context == nullptr)
    return nullptr;
  if (modbus_set_slave(context, kSensorAddress) != 0 || modbus_connect(context) != 0) {
    modbus_free(context);
    return nullptr;
  }
  modbus_set_response_timeout(context, 1, 0);
  if (rts)
    modbus_rtu_set_rts(context, MODBUS_RTU_RTS_UP);
  return context;
}

bool MeasureAt(int rate, int reads) {
  char folder_template[] = "/tmp/vorlix-rtt-XXXXXX";
  const std::filesystem::path ini_dir = mkdtemp(folder_template);
  ChildProcess simulator;
  const std::filesystem::path exe =
      std::filesystem::canonical("/proc/self/exe").parent_path() / "vorlix-sim";
  const std::optional<std::string> started =
      StartSimulator(simulator, exe.string(),
                     {"--connection", "direct", "--turnaround", "1", "--com", std::to_string(kPort),
                      "--rate", std::to_string(rate), "--ini-dir", ini_dir.string()});
  if (!started) {
    std::fprintf(stderr, "vorlix-sim did not start\n%s", simulator.error_text().c_str());
    return false;
  }
  const std::string& link = *started;
  std::printf("%d reads of registers 400-401 at %d bit/s through %s, each side in turn\n", reads,
              rate, link.c_str());

  SetComPortsFolder((ini_dir / "ports").string());
  const ComHandle handle = OpenComPort(kPort, rate, 8, 0, 0, 1000, 1000, true, false);
  if (handle == kNoComHandle) {
    std::fprintf(stderr, "cannot open COM%d: %s\n", kPort, LastComPortError().c_str());
    return false;
  }
  SetComTimeouts(handle, kComMaxDword, 0, 0);
  modbus_t* context_rts = OpenLibmodbus(link, rate, true);
  modbus_t* context_plain = OpenLibmodbus(link, rate, false);
  if (context_rts == nullptr || context_plain == nullptr) {
    std::fprintf(stderr, "libmodbus could not open %s\n", link.c_str());
    return false;
  }

  ComPortLine port(handle);
  TimedLine line(port);
  modbusbox box(kSensorAddress);
  box.port_handle = &line;
  box.baud_rate = rate;
  box.first_byte_timeout = 1000;
  box.next_byte_timeout = 55;
  const uint64_t hold = RtsHoldNs(rate, kRequestBytes);
  std::vector<double> drop_late_ms;
  uint16_t registers[2];

  Side ours{"vorlix, RTS switched", [&] {
              box.rts_switching = true;
              const bool ok = box.ReadRegisters(400, 2);
              drop_late_ms.push_back((static_cast<double>(line.rts_dropped) -
                                      static_cast<double>(line.rts_raised + hold)) /
                                     1e6);
              return ok;
            }};
  Side theirs{"libmodbus, its RTS mode",
              [&] { return modbus_read_registers(context_rts, 400, 2, registers) == 2; }};
  Side ours_plain{"vorlix, RTS left alone", [&] {
                    box.rts_switching = false;
                    return box.ReadRegisters(400, 2);
                  }};
  Side theirs_plain{"libmodbus, no RTS",
                    [&] { return modbus_read_registers(context_plain, 400, 2, registers) == 2; }};
  std::vector<Side*> sides{&ours, &theirs, &ours_plain, &theirs_plain};
#ifdef VORLIX_BENCH_MONITOR
  // The application's way: the window's events pumped while a reply is awaited; without, then
  // with the tap recording and the exchange monitor open.
  QtExchangeHost host;
  AppState state;
  state.Tap = std::make_unique<LineTap>(SystemClock::Instance());
  ExchangeMonitorWindow monitor(state);
  monitor.show();
  TappedLine tapped_line(std::make_unique<ComPortLine>(handle), *state.Tap);
  modbusbox pumped(kSensorAddress);
  pumped.baud_rate = rate;
  pumped.first_byte_timeout = 1000;
  pumped.next_byte_timeout = 55;
  pumped.ui = &host;
  Side untapped{"vorlix, pumped, no tap", [&] {
                  pumped.port_handle = &line;
                  pumped.tap = nullptr;
                  return pumped.ReadRegisters(400, 2);
                }};
  Side tapped{"vorlix, tap + open monitor", [&] {
                pumped.port_handle = &tapped_line;
                pumped.tap = state.Tap.get();
                return pumped.ReadRegisters(400, 2);
              }};
  sides.push_back(&untapped);
  sides.push_back(&tapped);
#endif
  RunInTurns(reads, sides);

  for (const Side* side : sides)
    Print(*side);
#ifdef VORLIX_BENCH_MONITOR
  monitor.Refresh();
  std::printf("  tap + monitor / without: %.3f wall, %.3f CPU (target: at most 1.05; %d rows)\n",
              tapped.median_wall_ms() / untapped.median_wall_ms(),
              tapped.cpu_ms_per_read() / untapped.cpu_ms_per_read(), monitor.model().rowCount());
  std::printf(
      "  %s\n",
      FormatLinkStats(TapProtocol::kModbus, state.Tap->stats(TapProtocol::kModbus)).c_str());
#endif
  std::printf("  ratio with RTS:    %.3f wall, %.3f CPU (targets: wall <= 1.02, CPU <= 1.5)\n",
              ours.median_wall_ms() / theirs.median_wall_ms(),
              ours.cpu_ms_per_read() / theirs.cpu_ms_per_read());
  std::printf("  ratio without RTS: %.3f wall, %.3f CPU\n",
              ours_plain.median_wall_ms() / theirs_plain.median_wall_ms(),
              ours_plain.cpu_ms_per_read() / theirs_plain.cpu_ms_per_read());
  std::printf(
      "  RTS dropped after the end of the hold: p50 %.3f ms, p99 %.3f ms, max %.3f ms "
      "(target: p99 <= 0.2)\n",
      Percentile(drop_late_ms, 0.5), Percentile(drop_late_ms, 0.99), Percentile(drop_late_ms, 1.0));
  std::fflush(stdout);

  for (modbus_t* context : {context_rts, context_plain}) {
    modbus_close(context);
    modbus_free(context);
  }
  CloseComPort(handle);
  simulator.Stop();
  std::filesystem::remove_all(ini_dir);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int reads = argc > 1 ? std::atoi(argv[1]) : 500;
#ifdef VORLIX_BENCH_MONITOR
  QApplication application(argc, argv);
#endif
  for (const int rate : {19200, 115200}) {
    if (!MeasureAt(rate, reads))
      return 1;
  }
  return 0;
}

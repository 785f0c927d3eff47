// What an exchange costs while it waits for a reply that never comes, and how late it gives up.
// Opens a pseudo-terminal through the real serial layer (mapped as a COM number) with nobody at
// the other end, at 19200 bit/s with RTS switched around each request:
//  - the corrector and the Modbus exchange each wait out a 2 s first-byte time-out, beside
//    libmodbus waiting out the same on the same line; printed is the process's CPU time as a
//    share of the wall time;
//  - then many short waits (50 ms) of each, and how long after its time-out each one ended
//    (p50 and p99): ours from the moment its wait began (RTS dropped), libmodbus's from the
//    call less the send time it sleeps for.
//
// On Windows the line is a COM port whose far end stays silent (under wine a link to a
// pseudo-terminal nobody answers on, as scripts/windows-gui-tests.sh makes it).
//
//   bench_exchange_wait_cpu [--repeat R] [short waits]              (default 1, 60)
//   bench_exchange_wait_cpu.exe --com N [--repeat R] [short waits]  (Windows)
//
// R: how many times each long wait is made, its figures those of all R.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#ifdef VORLIX_BENCH_LIBMODBUS
#include <modbus.h>
#endif

#include "bench/bench_support.h"
#include "bench/silent_port.h"
#include "comm/calcbox.h"
#include "comm/comport_line.h"
#include "comm/comportfunctions.h"
#include "comm/modbusbox.h"

namespace {

constexpr int32_t kRate = 19200;
constexpr int32_t kLongTimeoutMs = 2000;
constexpr int32_t kShortTimeoutMs = 50;

// How many times each long wait is repeated; the figures are of them all. Wine counts processor
// time in 10 ms ticks, a share of 0.5 % of one 2 s wait.
int long_repeats = 1;

void Measure(const char* what, const std::function<bool()>& exchange) {
  const double cpu_before = CpuSeconds();
  const auto wall_before = std::chrono::steady_clock::now();
  bool ok = true;
  for (int i = 0; i < long_repeats; ++i)
    ok = exchange() && ok;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
  const double cpu = CpuSeconds() - cpu_before;
  std::printf("  %-36s result %-5s wall %7.1f ms  cpu %6.2f ms  cpu/wall %6.3f %%\n", what,
              ok ? "ok" : "fail", wall * 1e3, cpu * 1e3, 100.0 * cpu / wall);
  std::fflush(stdout);
}

void PrintLateness(const char* what, const std::vector<double>& late_ms) {
  std::printf("  %-36s p50 %6.3f ms  p99 %6.3f ms  max %6.3f ms\n", what, Percentile(late_ms, 0.5),
              Percentile(late_ms, 0.99), Percentile(late_ms, 1.0));
  std::fflush(stdout);
}

// How late each of `count` exchanges ended after its time-out: ours measured from the moment
// its wait began, the end of the RTS hold.
std::vector<double> OurLateness(int count, TimedLine& line, const std::function<bool()>& exchange) {
  std::vector<double> late_ms;
  SystemClock& clock = SystemClock::Instance();
  for (int i = 0; i < count; ++i) {
    exchange();
    const uint64_t end = clock.Counter();
    const uint64_t wait_began = line.rts_dropped != 0 ? line.rts_dropped : line.written;
    const double waited_ms =
        static_cast<double>(end - wait_began) * 1e3 / static_cast<double>(clock.Frequency());
    late_ms.push_back(waited_ms - kShortTimeoutMs);
  }
  return late_ms;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  SilentPort silent;
  if (!OpenSilentPort(args, kRate, silent)) {
    std::fprintf(stderr, "%s\n", silent.error.c_str());
    CloseSilentPort(silent);
    return 1;
  }
  if (const auto it = std::find(args.begin(), args.end(), "--repeat");
      it != args.end() && it + 1 != args.end()) {
    long_repeats = std::max(1, std::atoi((it + 1)->c_str()));
    args.erase(it, it + 2);
  }
  const int short_waits = args.empty() ? 60 : std::atoi(args[0].c_str());
  const std::string slave = silent.device;
  ComPortLine port(silent.handle);
  TimedLine line(port);

  calcbox corrector(1);
  corrector.port_handle = &line;
  corrector.baud_rate = kRate;
  modbusbox sensor(101);
  sensor.port_handle = &line;
  sensor.baud_rate = kRate;

  std::printf(
      "A silent line at %d bit/s, RTS switched, first-byte time-out %d ms, one try, %d "
      "time(s):\n",
      kRate, kLongTimeoutMs, long_repeats);
  corrector.first_byte_timeout = kLongTimeoutMs;
  sensor.first_byte_timeout = kLongTimeoutMs;
  Measure("vorlix, corrector identification", [&] { return corrector.ReadIdentification(); });
  Measure("vorlix, Modbus read of 400-401", [&] { return sensor.ReadRegisters(400, 2); });

#ifdef VORLIX_BENCH_LIBMODBUS
  modbus_t* context = modbus_new_rtu(slave.c_str(), kRate, 'N', 8, 1);
  const bool have_libmodbus =
      context != nullptr && modbus_set_slave(context, 101) == 0 && modbus_connect(context) == 0;
  uint16_t registers[2];
  const auto libmodbus_read = [&] {
    return modbus_read_registers(context, 400, 2, registers) == 2;
  };
  if (have_libmodbus) {
    modbus_rtu_set_rts(context, MODBUS_RTU_RTS_UP);
    modbus_set_response_timeout(context, kLongTimeoutMs / 1000, 0);
    Measure("libmodbus (RTS mode), read of 400-401", libmodbus_read);
  }
#endif

  std::printf("How late a %d ms first-byte time-out ends, %d waits each:\n", kShortTimeoutMs,
              short_waits);
  corrector.first_byte_timeout = kShortTimeoutMs;
  sensor.first_byte_timeout = kShortTimeoutMs;
  PrintLateness("vorlix corrector, RTS switched",
                OurLateness(short_waits, line, [&] { return corrector.ReadIdentification(); }));
  PrintLateness("vorlix Modbus, RTS switched",
                OurLateness(short_waits, line, [&] { return sensor.ReadRegisters(400, 2); }));
  sensor.rts_switching = false;
  line.rts_dropped = 0;
  PrintLateness("vorlix Modbus, RTS left alone",
                OurLateness(short_waits, line, [&] { return sensor.ReadRegisters(400, 2); }));

#ifdef VORLIX_BENCH_LIBMODBUS
  if (have_libmodbus) {
    modbus_set_response_timeout(context, 0, kShortTimeoutMs * 1000);
    for (const bool rts : {true, false}) {
      modbus_rtu_set_rts(context, rts ? MODBUS_RTU_RTS_UP : MODBUS_RTU_RTS_NONE);
      // In its RTS mode it sleeps a byte time, the request's send time and a byte time again
      // before it starts to wait.
      const double send_ms =
          rts ? (2 + 8) * static_cast<double>(modbus_rtu_get_rts_delay(context)) / 1e3 : 0.0;
      std::vector<double> late_ms;
      for (int i = 0; i < short_waits; ++i) {
        const auto start = std::chrono::steady_clock::now();
        libmodbus_read();
        late_ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count() -
            send_ms - kShortTimeoutMs);
      }
      PrintLateness(rts ? "libmodbus, its RTS mode" : "libmodbus, no RTS", late_ms);
    }
  }
  if (context != nullptr) {
    modbus_close(context);
    modbus_free(context);
  }
#endif

  CloseSilentPort(silent);
  return 0;
}

// How much processor time an exchange burns while it waits for a reply that never comes.
// Opens a pseudo-terminal through the real serial layer (mapped as a COM number), lets the
// corrector and the Modbus exchange each wait out a 2 s time-out on the silent line, and prints
// the process's CPU time as a share of the wall time.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "comm/calcbox.h"
#include "comm/comport_line.h"
#include "comm/comportfunctions.h"
#include "comm/modbusbox.h"

namespace {

constexpr int kPort = 250;
constexpr int32_t kTimeoutMs = 2000;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void Measure(const char* what, const std::function<bool()>& exchange) {
  const double cpu_before = CpuSeconds();
  const auto wall_before = std::chrono::steady_clock::now();
  const bool ok = exchange();
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
  const double cpu = CpuSeconds() - cpu_before;
  std::printf("%-34s result %-5s wall %7.1f ms  cpu %6.1f ms  cpu/wall %5.2f %%\n", what,
              ok ? "ok" : "fail", wall * 1e3, cpu * 1e3, 100.0 * cpu / wall);
}

}  // namespace

int main() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::fprintf(stderr, "no pseudo-terminal available\n");
    return 1;
  }
  char folder_template[] = "/tmp/vorlix-bench-XXXXXX";
  const std::filesystem::path folder = mkdtemp(folder_template);
  std::filesystem::create_symlink(ptsname(master), folder / ("COM" + std::to_string(kPort)));
  SetComPortsFolder(folder.string());

  const ComHandle handle = OpenComPort(kPort, 19200, 8, 0, 0, 1000, 1000, true, false);
  if (handle == kNoComHandle) {
    std::fprintf(stderr, "cannot open the pseudo-terminal: %s\n", LastComPortError().c_str());
    return 1;
  }
  SetComTimeouts(handle, kComMaxDword, 0, 0);
  ComPortLine line(handle);

  std::printf("A silent line, first-byte time-out %d ms, one try:\n", kTimeoutMs);
  calcbox corrector(1);
  corrector.port_handle = &line;
  corrector.first_byte_timeout = kTimeoutMs;
  corrector.baud_rate = 19200;  // the RTS hold is a deliberate busy wait of 10 bit times a byte
  Measure("corrector identification request", [&] { return corrector.ReadIdentification(); });

  modbusbox sensor(101);
  sensor.port_handle = &line;
  sensor.first_byte_timeout = kTimeoutMs;
  sensor.baud_rate = 19200;
  Measure("Modbus read of registers 400-401", [&] { return sensor.ReadRegisters(400, 2); });

  CloseComPort(handle);
  close(master);
  std::filesystem::remove_all(folder);
  return 0;
}

#include <algorithm>

#include "bench/silent_port.h"

bool OpenSilentPort(std::vector<std::string>& args, int32_t rate, SilentPort& port) {
  const auto it = std::find(args.begin(), args.end(), "--com");
  if (it == args.end() || it + 1 == args.end()) {
    port.error = "give the silent port as --com N";
    return false;
  }
  const int number = std::atoi((it + 1)->c_str());
  args.erase(it, it + 2);
  port.handle = OpenComPort(number, rate, 8, 0, 0, 1000, 1000, true, false);
  if (port.handle == kNoComHandle) {
    port.error = "cannot open COM" + std::to_string(number) + ": " + LastComPortError();
    return false;
  }
  SetComTimeouts(port.handle, kComMaxDword, 0, 0);
  return true;
}

void CloseSilentPort(SilentPort& port) {
  CloseComPort(port.handle);
  port.handle = kNoComHandle;
}

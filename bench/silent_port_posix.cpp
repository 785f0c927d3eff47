#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "bench/silent_port.h"

namespace {

constexpr int kPort = 250;

struct PtyState {
  int master = -1;
  std::filesystem::path folder;
};

}  // namespace

bool OpenSilentPort(std::vector<std::string>& /*args*/, int32_t rate, SilentPort& port) {
  auto* state = new PtyState;
  port.platform = state;
  state->master = posix_openpt(O_RDWR | O_NOCTTY);
  if (state->master < 0 || grantpt(state->master) != 0 || unlockpt(state->master) != 0) {
    port.error = "no pseudo-terminal available";
    return false;
  }
  port.device = ptsname(state->master);
  char folder_template[] = "/tmp/vorlix-bench-XXXXXX";
  state->folder = mkdtemp(folder_template);
  std::filesystem::create_symlink(port.device, state->folder / ("COM" + std::to_string(kPort)));
  SetComPortsFolder(state->folder.string());
  port.handle = OpenComPort(kPort, rate, 8, 0, 0, 1000, 1000, true, false);
  if (port.handle == kNoComHandle) {
    port.error = "cannot open the pseudo-terminal: " + LastComPortError();
    return false;
  }
  SetComTimeouts(port.handle, kComMaxDword, 0, 0);
  return true;
}

void CloseSilentPort(SilentPort& port) {
  CloseComPort(port.handle);
  port.handle = kNoComHandle;
  auto* state = static_cast<PtyState*>(port.platform);
  if (state == nullptr)
    return;
  if (state->master >= 0)
    close(state->master);
  if (!state->folder.empty())
    std::filesystem::remove_all(state->folder);
  delete state;
  port.platform = nullptr;
}

#pragma once

// A port with nobody answering at its far end, opened through the real serial layer as the
// application opens it (8N1, DTR on, reads that return at once).

#include <cstdint>
#include <string>
#include <vector>

#include "comm/comportfunctions.h"

struct SilentPort {
  ComHandle handle = kNoComHandle;
  std::string device;  // the device path another program can open too (POSIX), else empty
  std::string error;
  void* platform = nullptr;  // what the platform keeps for CloseSilentPort
};

// POSIX: a new pseudo-terminal, mapped as a COM number in a scratch ports folder. Windows: the
// port given as "--com N" in `args` (taken out of them), whose far end must stay silent.
bool OpenSilentPort(std::vector<std::string>& args, int32_t rate, SilentPort& port);
void CloseSilentPort(SilentPort& port);

#include "core/app_state.h"

#include "comm/comport_line.h"

SerialLine* AppState::OpenLine() {
  Line = make_line ? make_line(ComHandle) : std::make_unique<ComPortLine>(ComHandle);
  return Line.get();
}

void AppState::ClosePort() {
  Line.reset();
  if (ComHandle != kNoComHandle) {
    CloseComPort(ComHandle);
    ComHandle = kNoComHandle;
  }
}

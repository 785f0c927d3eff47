#include "core/app_state.h"

#include "comm/comport_line.h"

SerialLine* AppState::OpenLine() {
  std::unique_ptr<SerialLine> line =
      make_line ? make_line(ComHandle) : std::make_unique<ComPortLine>(ComHandle);
  if (!Tap)
    Tap = std::make_unique<LineTap>(*clock);
  Line = std::make_unique<TappedLine>(std::move(line), *Tap);
  return Line.get();
}

void AppState::ClosePort() {
  Line.reset();
  if (ComHandle != kNoComHandle) {
    CloseComPort(ComHandle);
    ComHandle = kNoComHandle;
  }
}

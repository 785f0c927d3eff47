#include "cli/cli_host.h"

#include <iostream>

#include "cli/terminal.h"
#include "comm/comportfunctions.h"
#include "comm/line_tap_format.h"
#include "core/connection_steps.h"
#include "core/link_session.h"

namespace {

// The port is opened 8N1, DTR on and RTS off, as the connection dialog opens it; the exchanges
// raise RTS themselves while they send.
constexpr uint32_t kQueueSize = 1000;
// How long a line whose service mode is changing is waited for before it is left, and the
// pause between two looks at it.
constexpr uint32_t kSettleLimitMs = 30000;
constexpr uint32_t kSettlePollMs = 200;
// How often a long step says it is still running.
constexpr uint32_t kLongStepReportMs = 5000;
// What a stopped exchange is given to see the abort before its objects go.
constexpr uint32_t kCloseWaitMs = 50;

const char* const kStepNames[kConnectSteps] = {
    "identifying the corrector",  "freeing the line",        "entering service mode (up to 60 s)",
    "checking the sensor's unit", "reading the calibration",
};

}  // namespace

namespace {
CliHost* tracing_host = nullptr;
}  // namespace

void CliHost::Trace(LineTap* tap) {
  tap_ = tap;
  traced_ = tap ? tap->settled_seq() : 0;
  tracing_host = tap ? this : nullptr;
}

void CliHost::PrintTrace() {
  if (tap_ == nullptr)
    return;
  tap_->ForEachSettled(traced_, [](const TapFrame& frame) {
    std::cerr << "trace " << FormatTapLine(frame) << '\n';
  });
  traced_ = tap_->settled_seq();
  std::cerr.flush();
}

void CliHost::ProcessMessages() {
  PrintTrace();
  if (StopRequested() && on_stop)
    on_stop();
  if (long_step_.empty())
    return;
  const uint32_t now = clock_->TickCount();
  if (now - last_said_ >= kLongStepReportMs) {
    last_said_ = now;
    Progress(long_step_ + ": " + std::to_string((now - step_start_) / 1000) + " s");
  }
}

void CliHost::LongStep(const std::string& name, Clock& clock) {
  long_step_ = name;
  clock_ = &clock;
  step_start_ = last_said_ = clock.TickCount();
}

bool CliHost::AskQuestion(const std::string& line1, const std::optional<std::string>& line2,
                          const std::optional<std::string>& line3) {
  std::string question = line1;
  for (const auto& line : {line2, line3}) {
    if (line && !line->empty())
      question += " " + *line;
  }
  if (!interactive || StopRequested()) {
    Progress(MessageLines(question) + " -> no");
    return false;
  }
  return AskYesNo(MessageLines(question));
}

void CliHost::ShowMessage(const std::string& text, const std::string&) {
  Progress(MessageLines(text));
}

bool AskYesNo(const std::string& question) {
  std::cerr << question << " [y/N] " << std::flush;
  const std::optional<std::string> answer = ReadInputLine(true);
  if (!answer) {
    std::cerr << '\n';
    return false;
  }
  return *answer == "y" || *answer == "Y" || *answer == "yes" || *answer == "т" ||
         *answer == "так" || *answer == "Так";
}

void Progress(const std::string& text) {
  if (tracing_host != nullptr)
    tracing_host->PrintTrace();
  std::cerr << text << '\n' << std::flush;
}

std::string MessageLines(const std::string& text) {
  std::string lines;
  for (char c : text)
    lines += c == '\r' ? '\n' : c;
  return lines;
}

bool CliLink::Open(bool trace, std::string& error) {
  const TConnectSettings& s = state_.ConnectSettings;
  state_.ComHandle = OpenComPort(s.port, s.rate, 8, 0, 0, kQueueSize, kQueueSize, true, false);
  if (state_.ComHandle == kNoComHandle) {
    error = "port COM" + std::to_string(s.port) + " cannot be opened";
    if (const std::string why = LastComPortError(); !why.empty())
      error += ": " + why;
    return false;
  }
  SetComTimeouts(state_.ComHandle, kComMaxDword, 0, 0);
  CreateExchangeObjects(state_, nullptr);
  if (trace)
    host_.Trace(state_.Tap.get());
  host_.on_stop = [this] { RequestAbort(state_); };
  return true;
}

bool CliLink::Connect(const std::function<bool(calcbox&)>& const_password, bool leave_busy_line,
                      std::string& error) {
  ConnectHooks hooks;
  hooks.const_password = const_password;
  hooks.leave_busy_line = [this, leave_busy_line] {
    if (leave_busy_line)
      return true;
    return host_.interactive &&
           AskYesNo("The corrector's line is in service already. Take it out of service?");
  };
  const int first = state_.ConnectSettings.conn_type == 1 ? 0 : kFirstSensorStep;
  for (int step = first; step < kConnectSteps; ++step) {
    Progress(std::string(kStepNames[step]) + "...");
    if (step == 2) {
      service_requested_ = true;
      host_.LongStep("entering service mode", *state_.clock);
    }
    const bool done = RunConnectStep(state_, step, hooks);
    host_.LongStep("", *state_.clock);
    if (!done) {
      error = std::string(kStepNames[step]) + " failed";
      const calcbox* corrector = state_.ActiveCalcBox.get();
      const modbusbox* sensor = state_.ActiveModbusBox.get();
      const std::string why = step < kFirstSensorStep && corrector ? corrector->ErrorText()
                              : sensor                             ? sensor->ErrorText()
                                                                   : std::string();
      if (!why.empty())
        error += ": " + MessageLines(why);
      return false;
    }
  }
  return true;
}

void CliLink::LeaveServiceOnExit() {
  calcbox* box = state_.ActiveCalcBox.get();
  if (box == nullptr || !service_requested_)
    return;
  // Nothing may stop this and nobody is asked anything: the line must not stay in service.
  host_.on_stop = nullptr;
  host_.interactive = false;
  const uint8_t line = state_.ConnectSettings.line_num;
  const uint32_t start = state_.clock->TickCount();
  bool said = false;
  for (;;) {
    box->abort_requested = false;
    if (!box->ReadImitation(line))
      return;
    if (box->service_state == calcbox::kStateNormal)
      return;
    if (box->service_state == calcbox::kStateService) {
      Progress("leaving service mode...");
      host_.LongStep("leaving service mode", *state_.clock);
      LeaveService(state_);
      host_.LongStep("", *state_.clock);
      return;
    }
    // An entry (or a leave) still under way: the corrector refuses another change until it
    // has finished.
    if (!said) {
      Progress("waiting for the corrector to finish changing the line's mode...");
      said = true;
    }
    if (state_.clock->TickCount() - start >= kSettleLimitMs) {
      Progress("the corrector's line is still changing its mode; it may stay in service");
      return;
    }
    state_.clock->Pause(kSettlePollMs);
  }
}

void CliLink::Close() {
  if (state_.ComHandle == kNoComHandle)
    return;
  LeaveServiceOnExit();
  service_requested_ = false;
  host_.on_stop = nullptr;
  host_.PrintTrace();
  CloseExchangeObjects(state_, kCloseWaitMs);
}

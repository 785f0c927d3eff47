#pragma once

#include <functional>
#include <optional>
#include <string>

#include "comm/exchange_host.h"
#include "core/app_state.h"

// The exchanges' host on a terminal: messages go to standard error, questions are asked on the
// terminal (or answered "no" where nobody can answer them), and a stop request aborts the
// running exchange.
class CliHost final : public ExchangeHost {
 public:
  // Questions are typed answers on the terminal; otherwise each is answered "no", so a failed
  // request is not repeated.
  bool interactive = false;
  // Called on every pass of a waiting exchange once a stop has been requested.
  std::function<void()> on_stop;

  // With a tap, ProcessMessages and Progress print the traffic that has settled since they last
  // did, on standard error (the tap keeps no secret byte).
  void Trace(LineTap* tap);
  void PrintTrace();

  // A step that may take long (service mode: up to a minute) says every few seconds how long it
  // has been running; an empty name ends that.
  void LongStep(const std::string& name, Clock& clock);

  void ProcessMessages() override;
  bool AskQuestion(const std::string& line1, const std::optional<std::string>& line2,
                   const std::optional<std::string>& line3) override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  void SetBusyCursor(bool) override {}

 private:
  LineTap* tap_ = nullptr;
  uint64_t traced_ = 0;
  std::string long_step_;
  Clock* clock_ = nullptr;
  uint32_t step_start_ = 0;
  uint32_t last_said_ = 0;
};

// Asks `question` on standard error and reads "y"/"yes" (or "т"/"так") from standard input. No
// at the end of input.
bool AskYesNo(const std::string& question);

// A line of progress or a notice on standard error.
void Progress(const std::string& text);

// A message of the exchanges as one line per text line ("\r" breaks a line there).
std::string MessageLines(const std::string& text);

// The link of one command: the port opened from the settings, the exchange objects on it and,
// through the corrector, the line put into service and always taken out again.
class CliLink {
 public:
  CliLink(AppState& state, CliHost& host) : state_(state), host_(host) {}
  ~CliLink() { Close(); }
  CliLink(const CliLink&) = delete;
  CliLink& operator=(const CliLink&) = delete;

  // Opens the port of the settings and makes the exchange objects, with `trace` printing the
  // traffic through the host. False with `error`.
  bool Open(bool trace, std::string& error);
  // The connection steps from identification (or, on a direct link, the sensor's unit) to the
  // calibration read. False with `error` naming the step that failed.
  bool Connect(const std::function<bool(calcbox&)>& const_password, bool leave_busy_line,
               std::string& error);
  // Takes the line out of service if this link asked for it, even after a stop request: an
  // entry still under way is waited for, then left, all within the leave-service time-out.
  // Then closes the port.
  void Close();

 private:
  void LeaveServiceOnExit();

  AppState& state_;
  CliHost& host_;
  bool service_requested_ = false;
};

#pragma once

#include <functional>
#include <memory>
#include <string>

#include "comm/clock.h"
#include "comm/comportfunctions.h"
#include "comm/exchange_host.h"
#include "comm/line_tap.h"
#include "comm/reference_box.h"
#include "core/reference_settings.h"

// The reference instrument's port and what is asked of it, in the units of the channel. Every
// failure comes with one message naming the instrument and what it answered; a reading is
// handed back only when it is a number in the unit the settings expect.
class ReferenceLink {
 public:
  enum class Result { kOk, kFailed, kLinkLost, kAborted };
  // Makes the line instead of opening the port of the settings (tests).
  using LineMaker = std::function<std::unique_ptr<SerialLine>()>;

  ReferenceLink(const ReferenceSettings& settings, Clock& clock, ExchangeHost& ui, LineTap* tap);
  ~ReferenceLink();
  ReferenceLink(const ReferenceLink&) = delete;
  ReferenceLink& operator=(const ReferenceLink&) = delete;

  void set_line_maker(LineMaker maker) { line_maker_ = std::move(maker); }

  // Opens the port with the settings' rate, parity and stop bits (8 data bits, reads that return
  // at once). False with the reason in `error`.
  bool Open(std::string& error);
  void Close();
  bool is_open() const { return line_ != nullptr; }
  // The last exchange found the port gone; it stays closed until opened again.
  bool lost() const { return lost_; }
  // The device of a lost port is there again.
  bool DeviceBack() const;

  const ReferenceSettings& settings() const { return settings_; }
  std::string Title() const { return ReferenceTitle(settings_); }
  ReferenceBox& box() { return box_; }
  void RequestAbort() { box_.abort_requested = true; }

  // The identification query's answer as it came.
  Result Identify(std::string& id, std::string& error);
  // One reading in the display unit of `channel` (0 pressure in the listed unit `p_unit`, 1 °C).
  Result Read(int channel, int p_unit, double& display, std::string& error);
  // Whether the instrument says it has settled; true when no such query is set.
  Result InLimits(bool& in_limits, std::string& error);
  // A controller's set point, given in the display unit.
  Result SetPoint(double display, int channel, int p_unit, std::string& error);
  // A controller's output on, or off (vented).
  Result Output(bool on, std::string& error);

 private:
  Result Ask(const std::string& query, std::string& reply, std::string& error);
  Result Send(const std::string& command, std::string& error);
  Result Failed(const std::string& what, std::string& error);
  std::string Quoted(const std::string& text) const { return "«" + text + "»"; }

  ReferenceSettings settings_;
  ReferenceBox box_;
  LineMaker line_maker_;
  ComHandle handle_ = kNoComHandle;
  std::unique_ptr<SerialLine> line_;
  LineTap* tap_;
  bool lost_ = false;
};

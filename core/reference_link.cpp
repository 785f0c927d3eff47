#include "core/reference_link.h"

#include "comm/comport_line.h"
#include "core/reference_reading.h"

namespace {

constexpr int kDataBits = 8;
constexpr uint32_t kQueueSize = 1000;

}  // namespace

ReferenceLink::ReferenceLink(const ReferenceSettings& settings, Clock& clock, ExchangeHost& ui,
                             LineTap* tap)
    : settings_(settings), tap_(tap) {
  box_.clock = &clock;
  box_.ui = &ui;
  box_.tap = tap;
  box_.line_end = ReferenceLineEnd(settings);
  box_.first_byte_timeout = settings.timeout;
}

ReferenceLink::~ReferenceLink() {
  Close();
}

bool ReferenceLink::Open(std::string& error) {
  Close();
  std::unique_ptr<SerialLine> line;
  if (line_maker_) {
    line = line_maker_();
  } else {
    if (settings_.port == 0) {
      error = "Еталонний прилад не налаштовано: не вибрано порт";
      return false;
    }
    handle_ = OpenComPort(settings_.port, settings_.rate, kDataBits, settings_.parity,
                          settings_.stop_bits, kQueueSize, kQueueSize, true, false);
    if (handle_ == kNoComHandle) {
      error = Title() + ": " + LastComPortError();
      return false;
    }
    SetComTimeouts(handle_, kComMaxDword, 0, 0);
    line = std::make_unique<ComPortLine>(handle_);
  }
  if (line == nullptr) {
    error = Title() + ": порт не відкрився";
    return false;
  }
  line_ = tap_ ? std::make_unique<TappedLine>(std::move(line), *tap_) : std::move(line);
  box_.port_handle = line_.get();
  box_.abort_requested = false;
  lost_ = false;
  return true;
}

void ReferenceLink::Close() {
  box_.port_handle = nullptr;
  line_.reset();
  if (handle_ != kNoComHandle) {
    CloseComPort(handle_);
    handle_ = kNoComHandle;
  }
}

bool ReferenceLink::DeviceBack() const {
  return line_maker_ ? true : ComPortPresent(settings_.port);
}

ReferenceLink::Result ReferenceLink::Failed(const std::string& what, std::string& error) {
  error = Title() + ": " + what;
  return Result::kFailed;
}

ReferenceLink::Result ReferenceLink::Ask(const std::string& query, std::string& reply,
                                         std::string& error) {
  if (!line_)
    return Failed("порт не відкрито", error);
  if (box_.Query(query, reply))
    return Result::kOk;
  switch (box_.error_code) {
    case ReferenceBox::kErrorAborted:
      error = box_.ErrorText();
      return Result::kAborted;
    case ReferenceBox::kErrorLinkLost:
      lost_ = true;
      Close();
      error = Title() + ": " + box_.ErrorText();
      return Result::kLinkLost;
    case ReferenceBox::kErrorNoReply:
      return Failed("не відповідає на " + Quoted(query), error);
    default: {
      std::string text = box_.ErrorText() + " (на " + Quoted(query);
      if (!box_.received().empty())
        text += " прийшло " + Quoted(box_.received());
      return Failed(text + ")", error);
    }
  }
}

ReferenceLink::Result ReferenceLink::Send(const std::string& command, std::string& error) {
  if (!line_)
    return Failed("порт не відкрито", error);
  if (command.empty())
    return Failed("команду не задано в налаштуваннях", error);
  if (box_.Command(command))
    return Result::kOk;
  if (box_.error_code == ReferenceBox::kErrorAborted) {
    error = box_.ErrorText();
    return Result::kAborted;
  }
  if (box_.error_code == ReferenceBox::kErrorLinkLost) {
    lost_ = true;
    Close();
    error = Title() + ": " + box_.ErrorText();
    return Result::kLinkLost;
  }
  return Failed(box_.ErrorText() + " (команда " + Quoted(command) + ")", error);
}

ReferenceLink::Result ReferenceLink::Identify(std::string& id, std::string& error) {
  if (settings_.identify.empty())
    return Failed("запит ідентифікації не задано в налаштуваннях", error);
  return Ask(settings_.identify, id, error);
}

ReferenceLink::Result ReferenceLink::Read(int channel, int p_unit, double& display,
                                          std::string& error) {
  const ReferenceUnit* unit = FindReferenceUnit(settings_.unit);
  if (unit == nullptr)
    return Failed("невідома одиниця показу " + Quoted(settings_.unit), error);
  std::string reply;
  if (const Result r = Ask(settings_.read, reply, error); r != Result::kOk)
    return r;
  const ReferenceReply parsed = ParseReferenceReply(reply, *unit, settings_.check_unit);
  const std::string answered = "на " + Quoted(settings_.read) + " відповів " + Quoted(reply);
  if (parsed.kind == ReferenceReply::Kind::kNoNumber)
    return Failed(answered + ": у відповіді немає числа", error);
  if (parsed.kind == ReferenceReply::Kind::kOtherUnit) {
    return Failed(
        answered + ": показ в одиницях " + parsed.unit_word + ", а очікується " + unit->word,
        error);
  }
  const auto value = ReferenceToDisplay(parsed.value, *unit, channel, p_unit);
  if (!value) {
    return Failed(std::string("показ в одиницях ") + unit->word + " не підходить для каналу " +
                      (channel == 1 ? "температури" : "тиску"),
                  error);
  }
  display = *value;
  return Result::kOk;
}

ReferenceLink::Result ReferenceLink::InLimits(bool& in_limits, std::string& error) {
  in_limits = true;
  if (settings_.in_limits.empty())
    return Result::kOk;
  std::string reply;
  if (const Result r = Ask(settings_.in_limits, reply, error); r != Result::kOk)
    return r;
  static const ReferenceUnit kAnyWord{"", {}, 1.0};
  const ReferenceReply parsed = ParseReferenceReply(reply, kAnyWord, false);
  if (parsed.kind != ReferenceReply::Kind::kNumber) {
    return Failed("на " + Quoted(settings_.in_limits) + " відповів " + Quoted(reply) +
                      ": у відповіді немає числа",
                  error);
  }
  in_limits = parsed.value != 0.0;
  return Result::kOk;
}

ReferenceLink::Result ReferenceLink::SetPoint(double display, int channel, int p_unit,
                                              std::string& error) {
  const ReferenceUnit* unit = FindReferenceUnit(settings_.unit);
  if (unit == nullptr)
    return Failed("невідома одиниця показу " + Quoted(settings_.unit), error);
  if (!settings_.controller || settings_.set_point.empty())
    return Failed("це не контролер: команду задання не налаштовано", error);
  const auto value = DisplayToReference(display, *unit, channel, p_unit);
  if (!value) {
    return Failed(std::string("задання в одиницях ") + unit->word + " не підходить для каналу " +
                      (channel == 1 ? "температури" : "тиску"),
                  error);
  }
  return Send(FillSetPoint(settings_.set_point, *value), error);
}

ReferenceLink::Result ReferenceLink::Output(bool on, std::string& error) {
  return Send(on ? settings_.output_on : settings_.output_off, error);
}

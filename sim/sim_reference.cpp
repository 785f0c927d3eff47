#include "sim/sim_reference.h"

#include <charconv>

namespace {

struct Commands {
  const char* read;
  const char* in_limits;  // empty: not understood
  const char* set_point;  // the prefix before the number; empty: not a controller
  const char* output_on;
  const char* output_off;
};

Commands CommandsOf(SimReferenceStyle style) {
  switch (style) {
    case SimReferenceStyle::kScpiController:
      return {":SENS:PRES?", ":SENS:PRES:INL?", ":SOUR:PRES ", ":OUTP:STAT ON", ":OUTP:STAT OFF"};
    case SimReferenceStyle::kSimple:
      return {"A?", "Stable?", "", "", ""};
    default:
      return {"VAL?", "", "", "", ""};
  }
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos)
    return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::vector<TimedByte> SimReference::Receive(const std::vector<uint8_t>& bytes, uint64_t now_us) {
  std::vector<TimedByte> out;
  for (uint8_t b : bytes) {
    if (b != '\r' && b != '\n') {
      if (pending_.size() < 256)
        pending_ += static_cast<char>(b);
      continue;
    }
    const std::string line = Trimmed(pending_);
    pending_.clear();
    if (line.empty())
      continue;
    commands_.push_back(line);
    if (on_command_ && line.back() != '?')
      on_command_(line);
    const std::string reply = Answer(line, now_us);
    if (reply.empty() || config_.silence)
      continue;
    const uint64_t from = out.empty() ? now_us : out.back().at_us;
    std::vector<TimedByte> paced = Paced(reply, from);
    out.insert(out.end(), paced.begin(), paced.end());
  }
  return out;
}

std::string SimReference::Answer(const std::string& line, uint64_t now_us) {
  const Commands c = CommandsOf(config_.style);
  if (line == "*IDN?")
    return "VORLIX-SIM,REFERENCE,0001,1.0";
  if (line == c.read) {
    if (!config_.fault_reply.empty())
      return config_.fault_reply;
    if (config_.garbage)
      return "\x02\x15"
             "7\x7F#";
    double reading = input_->At(now_us) * config_.per_input;
    if (config_.noise != 0.0)
      reading += config_.noise * random_.Symmetric();
    char text[400];
    const auto printed =
        std::to_chars(text, text + sizeof text, reading, std::chars_format::fixed, 5);
    std::string reply(text, printed.ptr);
    if (!config_.wrong_unit.empty())
      reply += " " + config_.wrong_unit;
    else if (!config_.unit_word.empty())
      reply += " " + config_.unit_word;
    return reply;
  }
  if (*c.in_limits != '\0' && line == c.in_limits)
    return input_->Settled(now_us, config_.in_limits) ? "1" : "0";
  const std::string prefix = c.set_point;
  if (!prefix.empty() && line.rfind(prefix, 0) == 0) {
    double target = 0.0;
    const std::string number = Trimmed(line.substr(prefix.size()));
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), target);
    if (ec == std::errc() && end == number.data() + number.size() && config_.per_input != 0.0)
      input_->MoveTo(target / config_.per_input, now_us);
    return {};
  }
  if (*c.output_off != '\0' && line == c.output_off)
    input_->Vent(now_us);
  return {};
}

std::vector<TimedByte> SimReference::Paced(const std::string& text, uint64_t now_us) const {
  std::vector<TimedByte> out;
  const std::string line = text + "\r\n";
  const uint64_t start = now_us + config_.turnaround_us;
  for (size_t i = 0; i < line.size(); ++i) {
    const uint64_t wire =
        config_.rate ? ((i + 1) * 10'000'000u + config_.rate / 2) / config_.rate : 0;
    out.push_back({start + wire, static_cast<uint8_t>(line[i])});
  }
  return out;
}

#include "sim/bench_input.h"

#include <sstream>

#include "sim/sim_corrector.h"
#include "sim/sim_sensor.h"

std::vector<TimedByte> BenchDevice::Receive(const std::vector<uint8_t>& bytes, uint64_t now_us) {
  std::lock_guard<std::mutex> lock(mutex_);
  return inner_.Receive(bytes, now_us);
}

std::string BenchDevice::Command(const std::string& line) {
  std::istringstream in(line);
  in.imbue(std::locale::classic());
  std::string what;
  double value = 0;
  if (!(in >> what >> value) || (what != "pressure" && what != "temperature"))
    return "not understood: '" + line + "' (pressure VALUE or temperature VALUE)";
  const int channel = what == "pressure" ? 0 : 1;
  std::vector<SimSensor*> sensors;
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto* direct = dynamic_cast<SimDirectSensor*>(&inner_)) {
    if (direct_channel_ == channel)
      sensors.push_back(&direct->sensor());
  } else if (auto* corrector = dynamic_cast<SimCorrector*>(&inner_)) {
    for (int line_number = 1; line_number <= kCorrectorLines; ++line_number)
      sensors.push_back(&corrector->sensor(line_number, channel));
  }
  if (sensors.empty())
    return "no " + what + " sensor on this line";
  for (SimSensor* s : sensors)
    s->Apply(value);
  std::ostringstream reply;
  reply.imbue(std::locale::classic());
  reply << what << ' ' << value << " applied ("
        << (sensors.front()->falling() ? "falling" : "rising") << ')';
  return reply.str();
}

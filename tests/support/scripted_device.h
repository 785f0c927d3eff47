#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "sim/line_device.h"

// A device that knows no protocol: it answers each block the master writes with the next
// scripted answer (bytes at chosen times, silence, noise ahead of a frame), and records what
// it was sent. Any protocol's tests can use it; frames are built by the test.
class ScriptedDevice : public LineDevice {
 public:
  // When the bytes of an answer have arrived, on the line's clock: the first `delay_us` after
  // the request, each further one `spacing_us` after the one before.
  struct Pace {
    uint64_t delay_us = 0;
    uint64_t spacing_us = 0;
  };
  struct Answer {
    std::vector<uint8_t> noise;  // sent ahead of the frame, with the same timing
    std::vector<uint8_t> frame;
    std::optional<uint64_t> delay_us;    // the device's own when not given
    std::optional<uint64_t> spacing_us;  // likewise
  };

  ScriptedDevice() = default;
  explicit ScriptedDevice(Pace default_pace) : pace(default_pace) {}

  static Answer Silence() { return {}; }
  static Answer Reply(std::vector<uint8_t> frame, std::optional<uint64_t> delay_us = {},
                      std::optional<uint64_t> spacing_us = {}) {
    return {{}, std::move(frame), delay_us, spacing_us};
  }
  static Answer NoiseThen(std::vector<uint8_t> noise, std::vector<uint8_t> frame,
                          std::optional<uint64_t> delay_us = {},
                          std::optional<uint64_t> spacing_us = {}) {
    return {std::move(noise), std::move(frame), delay_us, spacing_us};
  }

  // Queues the answer to the next request not yet answered.
  ScriptedDevice& Then(Answer answer) {
    script.push_back(std::move(answer));
    return *this;
  }

  std::vector<TimedByte> Receive(const std::vector<uint8_t>& bytes, uint64_t now_us) override {
    requests.push_back(bytes);
    request_times.push_back(now_us);
    if (accepts && !accepts(bytes))
      return {};
    Answer answer;
    if (!script.empty()) {
      answer = std::move(script.front());
      script.pop_front();
    } else if (responder) {
      answer = responder(bytes, requests.size() - 1);
    }
    const uint64_t spacing_us = answer.spacing_us.value_or(pace.spacing_us);
    std::vector<TimedByte> out;
    uint64_t at = now_us + answer.delay_us.value_or(pace.delay_us);
    for (const std::vector<uint8_t>* part : {&answer.noise, &answer.frame}) {
      for (uint8_t b : *part) {
        if (!out.empty())
          at += spacing_us;
        out.push_back({at, b});
      }
    }
    if (!out.empty())
      last_answer_end = out.back().at_us;
    return out;
  }

  // The timing of the answers that do not give their own.
  Pace pace;
  // Answers in order, one per request. Once they are used up `responder` answers (it gets the
  // request and its number, counted from 0); without one the device stays silent.
  std::deque<Answer> script;
  std::function<Answer(const std::vector<uint8_t>& request, size_t index)> responder;
  // When set, a request it refuses gets no answer and uses up none of the script.
  std::function<bool(const std::vector<uint8_t>& request)> accepts;

  std::vector<std::vector<uint8_t>> requests;
  std::vector<uint64_t> request_times;
  uint64_t last_answer_end = 0;  // arrival of the last byte of the latest answer with any
};

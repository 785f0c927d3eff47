#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "sim/line_device.h"

// A device that knows no protocol: it answers each block the master writes with the next
// scripted answer (bytes at chosen times, silence, noise ahead of a frame), and records what
// it was sent. Any protocol's tests can use it; frames are built by the test.
class ScriptedDevice final : public LineDevice {
 public:
  struct Answer {
    std::vector<uint8_t> noise;  // sent ahead of the frame, with the same timing
    std::vector<uint8_t> frame;
    uint64_t delay_us = 0;    // from the end of the request to the first byte
    uint64_t spacing_us = 0;  // from one byte to the next
  };

  static Answer Silence() { return {}; }
  static Answer Reply(std::vector<uint8_t> frame, uint64_t delay_us = 0, uint64_t spacing_us = 0) {
    return {{}, std::move(frame), delay_us, spacing_us};
  }
  static Answer NoiseThen(std::vector<uint8_t> noise, std::vector<uint8_t> frame,
                          uint64_t delay_us = 0, uint64_t spacing_us = 0) {
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
    Answer answer;
    if (!script.empty()) {
      answer = std::move(script.front());
      script.pop_front();
    } else if (responder) {
      answer = responder(bytes, requests.size() - 1);
    }
    std::vector<TimedByte> out;
    uint64_t at = now_us + answer.delay_us;
    bool first = true;
    for (const std::vector<uint8_t>* part : {&answer.noise, &answer.frame}) {
      for (uint8_t b : *part) {
        if (!first)
          at += answer.spacing_us;
        first = false;
        out.push_back({at, b});
      }
    }
    return out;
  }

  // Answers in order, one per request. Once they are used up `responder` answers (it gets the
  // request and its number, counted from 0); without one the device stays silent.
  std::deque<Answer> script;
  std::function<Answer(const std::vector<uint8_t>& request, size_t index)> responder;

  std::vector<std::vector<uint8_t>> requests;
  std::vector<uint64_t> request_times;
};

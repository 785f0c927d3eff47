#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "comm/exchange_host.h"

// User interface for tests: records every question and message and answers questions from a
// script (no when the script has run out). A hook runs on every ProcessMessages, which is how
// a test presses a cancel button in the middle of an exchange; another while a question stands.
class ScriptedHost final : public ExchangeHost {
 public:
  struct Question {
    std::string line1;
    std::optional<std::string> line2;
    std::optional<std::string> line3;
    bool cautious = false;  // "Ні" was the default answer
  };
  struct Message {
    std::string text;
    std::string caption;
  };

  void ProcessMessages() override {
    ++process_calls;
    if (on_process)
      on_process();
  }
  bool AskQuestion(const std::string& line1, const std::optional<std::string>& line2,
                   const std::optional<std::string>& line3) override {
    questions.push_back({line1, line2, line3});
    if (on_ask)
      on_ask();
    if (answers.empty())
      return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  bool AskCautiously(const std::string& line1, const std::optional<std::string>& line2,
                     const std::optional<std::string>& line3) override {
    const bool answer = AskQuestion(line1, line2, line3);
    questions.back().cautious = true;
    return answer;
  }
  void ShowMessage(const std::string& text, const std::string& caption) override {
    messages.push_back({text, caption});
  }
  void SetBusyCursor(bool busy) override { cursor_changes.push_back(busy); }

  std::deque<bool> answers;
  std::function<void()> on_process;
  // Runs while a question stands, before it is answered (a user taking their time).
  std::function<void()> on_ask;
  std::vector<Question> questions;
  std::vector<Message> messages;
  std::vector<bool> cursor_changes;
  int process_calls = 0;
};

// A status panel that remembers every text it was given.
class RecordingPanel final : public StatusPanel {
 public:
  void SetText(const std::string& text) override { texts.push_back(text); }
  std::vector<std::string> texts;
};

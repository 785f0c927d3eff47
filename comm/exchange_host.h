#pragma once

#include <optional>
#include <string>

// One panel of a status bar that an exchange writes its activity into.
class StatusPanel {
 public:
  virtual ~StatusPanel() = default;
  virtual void SetText(const std::string& text) = 0;
};

// What an exchange needs of whoever runs it (the GUI, a terminal, a test): a chance to handle
// pending events, a yes/no question, a message, the busy cursor. Texts are UTF-8; a line break
// inside a message is a carriage return ("\r"), which the GUI shows as a new line.
class ExchangeHost {
 public:
  virtual ~ExchangeHost() = default;

  // Lets the user interface handle what is pending (repaints, a cancel button) and returns.
  virtual void ProcessMessages() = 0;
  // The modal yes/no question; true for "Так". An absent line is shown empty.
  virtual bool AskQuestion(const std::string& line1, const std::optional<std::string>& line2,
                           const std::optional<std::string>& line3) = 0;
  // The same question where a hasty Enter must not say yes: "Ні" is its default answer.
  virtual bool AskCautiously(const std::string& line1, const std::optional<std::string>& line2,
                             const std::optional<std::string>& line3) {
    return AskQuestion(line1, line2, line3);
  }
  // A message box with an OK button.
  virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
  // The hourglass cursor on or off.
  virtual void SetBusyCursor(bool busy) = 0;
};

// Does nothing and answers every question with no. The default of an exchange object that
// nobody has given a host.
class NullExchangeHost final : public ExchangeHost {
 public:
  void ProcessMessages() override {}
  bool AskQuestion(const std::string&, const std::optional<std::string>&,
                   const std::optional<std::string>&) override {
    return false;
  }
  void ShowMessage(const std::string&, const std::string&) override {}
  void SetBusyCursor(bool) override {}

  static NullExchangeHost& Instance() {
    static NullExchangeHost ui;
    return ui;
  }
};

#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <string>

#include "comm/exchange_host.h"

class QLabel;

// The user-interface services on Qt widgets: questions in the question dialog, messages in a
// message box, the hourglass as the application's override cursor.
class QtExchangeHost final : public ExchangeHost {
 public:
  explicit QtExchangeHost(QWidget* dialog_parent = nullptr);
  ~QtExchangeHost() override;
  QtExchangeHost(const QtExchangeHost&) = delete;
  QtExchangeHost& operator=(const QtExchangeHost&) = delete;

  // The window the questions and messages stand over (the main window).
  void SetDialogParent(QWidget* parent) { parent_ = parent; }

  void ProcessMessages() override;
  bool AskQuestion(const std::string& line1, const std::optional<std::string>& line2,
                   const std::optional<std::string>& line3) override;
  bool AskCautiously(const std::string& line1, const std::optional<std::string>& line2,
                     const std::optional<std::string>& line3) override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  // On and off, not counted: one "off" restores the normal cursor however many "on" came
  // before, and an "off" while it is not on leaves others' cursors alone.
  void SetBusyCursor(bool busy) override;

  bool busy() const { return busy_; }

 private:
  // A question or message is answered with the normal cursor even inside a long operation.
  class NormalCursorWhileAsking;
  // Puts the hourglass on the cursor stack or takes it off so that it is there exactly when
  // busy and no question or message is open.
  void SyncCursor();

  QPointer<QWidget> parent_;
  bool busy_ = false;
  bool cursor_pushed_ = false;
  int open_dialogs_ = 0;
};

// The text of a message as the message box shows it: a carriage return is a line break.
QString MessageBoxText(const std::string& text);

// One panel of a status bar, a label, written by the exchanges.
class QtStatusPanel final : public StatusPanel {
 public:
  explicit QtStatusPanel(QLabel* label);
  void SetText(const std::string& text) override;

 private:
  QPointer<QLabel> label_;
};

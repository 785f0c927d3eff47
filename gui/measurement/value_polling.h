#pragma once

#include <QDialog>

struct AppState;
class QLabel;
class QPushButton;
class QStatusBar;
class QTimer;

// What the two dialogs that poll the sensor's measured value share: the polling timer at the
// interval setting, the status bar (exchange error text; a counter), one exchange at a time,
// and a close asked for during an exchange carried out once the exchange has returned.
class ValuePollingDialog : public QDialog {
  Q_OBJECT

 public:
  QStatusBar* StatusBar1;
  QLabel* StatusBar1Panel0;  // exchange error text
  QLabel* StatusBar1Panel1;  // the dialog's counter
  QTimer* Timer1;
  // Shown once the port has gone away; enabled when its device is back.
  QPushButton* ReconnectButton;
  QTimer* WatchTimer;  // looks for the device of a lost port
  static constexpr int kWatchMs = 500;

  // An exchange of a tick is running right now.
  bool exchange_running() const { return busy_; }

  // Every way of closing (the buttons, Esc, the close box) ends here: polling stops at once,
  // and while an exchange runs the dialog stays until that exchange has returned.
  void done(int result) override;

 public slots:
  virtual void Timer1Timer() = 0;

 protected:
  enum class ReadOutcome {
    kSkipped,   // a tick's exchange still runs, or the dialog is closing
    kGone,      // the dialog was destroyed during the exchange: touch nothing
    kFailed,    // the exchange failed; its text stands in status panel 0
    kLinkLost,  // the port went away: polling has stopped until the reconnection
    kValue,     // `reading` holds the measured value (possibly not a number)
  };

  ValuePollingDialog(AppState& state, QWidget* parent, const QString& counter_name);

  // Polls at the interval setting; the first reading is taken as soon as the dialog's event
  // loop runs, not inside the show, so a close asked for during it finds a loop to end.
  void StartPolling();
  // One read of the measured value through the link's Modbus exchange.
  ReadOutcome ReadValue(float& reading);
  // The last step of a tick: carries out a close asked for during its exchange.
  void FinishDeferredClose();
  bool closing() const { return closing_; }
  // Greys the values while they are stale, and back.
  virtual void SetValuesStale(bool stale) = 0;

  AppState& state_;

 private:
  void LinkLost();
  void WatchForDevice();
  void ReconnectClick();

  bool busy_ = false;
  bool closing_ = false;
  bool close_pending_ = false;
  int pending_result_ = 0;
};

#pragma once

#include <QDateTime>
#include <QMainWindow>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "core/app_state.h"
#include "core/calibration_journal.h"
#include "gui/qt_exchange_host.h"

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QStatusBar;
class QTimer;
class calcbox;
class ExchangeMonitorWindow;
class LinkSummaryView;
struct AccessCodes;
class ExchangeHost;
class OuterGeometry;

// The date of the executable file as the title shows it: dd.mm.yy, then a blank and hh:mm:ss
// unless the stamp is midnight to the second.
QString FileStampText(const QDateTime& stamp);
// The main window's title for the executable's modification stamp.
QString MainWindowTitle(const QDateTime& exe_stamp);
// Status panel 0: port and line rate.
QString PortStatusText(int port, int rate);
// The full stop as the decimal separator for the whole run, in Qt and in the C library.
// Call after the application object exists: it sets the C library's locale from the
// environment when it is created.
void UseFullStopDecimalSeparator();

// The program's one permanent window: the menu of commands, the status bar and the state of
// the link to the device.
class TFormMain : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kWidth = 890;
  static constexpr int kHeight = 580;
  static constexpr std::array<int, 3> kPanelDesignWidths = {150, 500, 60};
  // Panel 1 leaves this much of the status bar beside panel 0.
  static constexpr int kPanel1Allowance = 95;
  // Taking a link down waits this long after setting the abort flags.
  static constexpr uint32_t kCloseWaitMs = 200;
  // How often a termination request looks again whether the window can close yet.
  static constexpr int kTerminationStepMs = 50;

  // `settings_folder` empty: the INI folder beside the executable, or the per-user fallback.
  explicit TFormMain(ExchangeHost& ui, QWidget* parent = nullptr, std::string settings_folder = {});
  ~TFormMain() override;

  QFrame* Panel1;
  QStatusBar* StatusBar1;
  std::array<QLabel*, 3> status_panels{};  // StatusBar1's panels 0, 1, 2
  QMenu* N4;
  QAction* Nexit;
  QMenu* Nconn;
  QAction* N1;  // data 0: pressure
  QAction* N2;  // data 1: temperature
  QAction* Nval;
  QAction* Nclb;
  QMenu* Nservice;
  QAction* Njournal;
  QAction* Nverify;          // "Перевірка давача..."
  QAction* Nmonitor;         // "Монітор обміну..."
  QAction* Nreference;       // "Еталонний прилад..."
  LinkSummaryView* Summary;  // in Panel1
  QLabel* LinkIndicator;     // the exchange indicator at the right of the status bar
  QTimer* LinkTimer;         // refreshes the summary and the indicator, watches a lost port
  static constexpr int kLinkRefreshMs = 500;

  // Settings, port, exchange objects, channel and the sensor's calibration as last read.
  AppState state;

  // Runs an exchange of the main window's own (outside any modal dialog, so the menu and the
  // close box stay live during it). While it runs, a connection command or a close only sets
  // the abort flags of the exchange objects, and what was asked for happens once the exchange
  // has returned; the measuring commands are ignored. Returns what `exchange` returned.
  bool RunOwnExchange(const std::function<bool()>& exchange);
  bool OwnExchangeRunning() const { return own_exchange_depth_ > 0; }

  // Panel 2, where the exchanges report their activity.
  StatusPanel& ExchangePanel() { return *exchange_panel_; }

  // The two dialogs of the connection command, each shown modally over this window. The
  // first confirms the link settings, saves them and opens the port (true when accepted);
  // the second runs the connection sequence on the exchange objects (true when connected).
  // Tests put their own here.
  std::function<bool()> run_connect_dialog;
  std::function<bool()> run_set_connect_dialog;
  // Opens the exchange monitor, or brings it to the front; it stays for the run.
  ExchangeMonitorWindow* ShowExchangeMonitor();
  ExchangeMonitorWindow* ExchangeMonitor() const { return monitor_; }
  // After the port was lost and its device is back: opens it again and runs the connection
  // sequence with the codes held for this run. True when the link is up again.
  bool Reconnect();
  // The summary, the indicator, and what a lost link allows.
  void RefreshLinkView();

  // Asks for the codes again after the corrector refused them (true with new ones).
  std::function<bool(AccessCodes&)> run_access_codes_dialog;
  // Offers the certificate of a calibration just written and shows it when the user wants it.
  std::function<void(const JournalRecord&)> offer_certificate;

 public slots:
  // The connection command for the channel in the data of the action that sent it.
  void NConnClick();
  // The values command.
  void NvalClick();
  // The two-point calibration command.
  void NclbClick();
  // The calibration journal window.
  void NjournalClick();
  void NexitClick();
  // Takes the current link down; the measuring commands are disabled afterwards.
  void CloseConnection();
  // A request to end the program from outside (a signal): the running exchange is stopped,
  // every open dialog ends as cancelled, a line left in service is taken out of it without
  // asking, then the window closes.
  void RequestTermination();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  void FormClose();
  void StartConnection(uint8_t channel);

  void RequestAbort();
  void RunDeferred();
  void ContinueTermination();
  // Takes the corrector's line out of service as an exchange of this window that nothing
  // interrupts: the commands that would start another exchange do nothing meanwhile.
  void LeaveServiceGuarded();
  void SetLinkCommandsEnabled(bool enabled);
  // Panel 1 takes what panel 0, the allowance and the exchange indicator leave.
  void FitStatusPanels();
  // Makes the exchange objects of the new link on the port the connection dialog opened.
  void CreateExchangeObjects();
  bool ShowConnectDialog();
  bool ShowSetConnectDialog();
  bool AskNewCodes(calcbox& box);

  ExchangeHost& ui_;
  std::string settings_folder_;
  int own_exchange_depth_ = 0;
  std::optional<uint8_t> deferred_connection_;
  bool deferred_close_ = false;
  bool deferred_disconnect_ = false;
  bool leaving_service_ = false;
  bool closing_ = false;
  bool terminating_ = false;
  QTimer* termination_timer_ = nullptr;
  std::unique_ptr<QtStatusPanel> exchange_panel_;
  OuterGeometry* geometry_;
  bool shown_ = false;
  ExchangeMonitorWindow* monitor_ = nullptr;
  bool reconnecting_ = false;
};

// Refers to the main window while it exists.
extern TFormMain* FormMain;

#include "gui/form_main.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <clocale>

#include "comm/comportfunctions.h"
#include "comm/exchange_host.h"
#include "core/ini_file.h"
#include "core/link_session.h"
#include "core/link_summary.h"
#include "core/restore_protocol.h"
#include "core/settings_location.h"
#include "gui/connection/access_codes.h"
#include "gui/connection/connect.h"
#include "gui/connection/reference_setup.h"
#include "gui/connection/set_connect.h"
#include "gui/link_view.h"
#include "gui/measurement/correct_nshp.h"
#include "gui/question.h"
#include "gui/service/certificate_view.h"
#include "gui/service/exchange_monitor.h"
#include "gui/service/journal_window.h"
#include "gui/service/verify_window.h"

TFormMain* FormMain = nullptr;

namespace {

const char kTitleFormat[] = "Прграма обслуговування Р_Т-давачів  (vorlix_modbus.exe від %1)";
const char kCertificateOffer[] = "Калібровку записано в давач.";
const char kCertificateOffer2[] = "Підготувати сертифікат калібровки?";
const char kRestoreProtocolOffer[] = "Калібровку відновлено в давачі.";
const char kRestoreProtocolOffer2[] = "Підготувати протокол відновлення?";

}  // namespace

QString FileStampText(const QDateTime& stamp) {
  if (!stamp.isValid())
    return {};
  QString text = stamp.date().toString(QStringLiteral("dd.MM.yy"));
  const QTime time = stamp.time();
  // File stamps are shown to the second; a stamp within midnight's second counts as midnight.
  if (time.hour() != 0 || time.minute() != 0 || time.second() != 0) {
    text += QLatin1Char(' ') + time.toString(QStringLiteral("hh:mm:ss"));
  }
  return text;
}

QString MainWindowTitle(const QDateTime& exe_stamp) {
  return QString::fromUtf8(kTitleFormat).arg(FileStampText(exe_stamp));
}

QString PortStatusText(int port, int rate) {
  return QStringLiteral(" COM%1 %2 бит/с").arg(port).arg(rate);
}

void UseFullStopDecimalSeparator() {
  QLocale::setDefault(QLocale::c());
  std::setlocale(LC_NUMERIC, "C");
}

TFormMain::TFormMain(ExchangeHost& ui, QWidget* parent, std::string settings_folder)
    : QMainWindow(parent), ui_(ui), settings_folder_(std::move(settings_folder)) {
  state.ui = &ui;
  FormMain = this;
  setObjectName(QStringLiteral("FormMain"));

  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  setCentralWidget(Panel1);
  Summary = new LinkSummaryView(Panel1);
  auto* client = new QVBoxLayout(Panel1);
  client->addWidget(Summary);

  // Every title carries an accelerator (Alt and the underlined letter), and F10 opens the
  // first menu, so the whole menu is reachable from the keyboard.
  QMenuBar* bar = menuBar();
  const auto icon = [this](QStyle::StandardPixmap pixmap) { return style()->standardIcon(pixmap); };
  N4 = bar->addMenu(QStringLiteral("&Файл"));
  N4->setObjectName(QStringLiteral("N4"));
  Nexit = N4->addAction(icon(QStyle::SP_DialogCloseButton), QStringLiteral("&Вихід"));
  Nexit->setObjectName(QStringLiteral("Nexit"));

  Nconn = bar->addMenu(QStringLiteral("&Встановлення зв'яку з давачем"));
  Nconn->setObjectName(QStringLiteral("Nconn"));
  N1 = Nconn->addAction(icon(QStyle::SP_ArrowRight), QStringLiteral("&Тиск"));
  N1->setObjectName(QStringLiteral("N1"));
  N1->setData(0);
  N2 = Nconn->addAction(icon(QStyle::SP_ArrowRight), QStringLiteral("Т&емпература"));
  N2->setObjectName(QStringLiteral("N2"));
  N2->setData(1);

  Nval = bar->addAction(QStringLiteral("&Поточні значення"));
  Nval->setObjectName(QStringLiteral("Nval"));
  Nclb = bar->addAction(QStringLiteral("&Калібровка каналу за двома точками"));
  Nclb->setObjectName(QStringLiteral("Nclb"));

  Nservice = bar->addMenu(QStringLiteral("&Сервіс"));
  Nservice->setObjectName(QStringLiteral("Nservice"));
  Nmonitor = Nservice->addAction(icon(QStyle::SP_FileDialogDetailedView),
                                 QStringLiteral("&Монітор обміну..."));
  Nmonitor->setObjectName(QStringLiteral("Nmonitor"));
  Njournal = Nservice->addAction(icon(QStyle::SP_FileDialogContentsView),
                                 QStringLiteral("&Журнал калібровок..."));
  Njournal->setObjectName(QStringLiteral("Njournal"));
  Nverify = Nservice->addAction(icon(QStyle::SP_DialogApplyButton),
                                QStringLiteral("&Перевірка давача..."));
  Nverify->setObjectName(QStringLiteral("Nverify"));
  Nservice->addSeparator();
  Nreference =
      Nservice->addAction(icon(QStyle::SP_ComputerIcon), QStringLiteral("&Еталонний прилад..."));
  Nreference->setObjectName(QStringLiteral("Nreference"));

  auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
  connect(f10, &QShortcut::activated, this, [this] {
    menuBar()->setFocus(Qt::MenuBarFocusReason);
    menuBar()->setActiveAction(N4->menuAction());
  });

  StatusBar1 = statusBar();
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);
  for (std::size_t i = 0; i < status_panels.size(); ++i) {
    auto* panel = new QLabel(StatusBar1);
    panel->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setTextFormat(Qt::PlainText);
    panel->setMinimumWidth(kPanelDesignWidths[i]);
    // The last panel takes what the others leave.
    StatusBar1->addWidget(panel, i + 1 == status_panels.size() ? 1 : 0);
    status_panels[i] = panel;
  }
  LinkIndicator = new QLabel(StatusBar1);
  LinkIndicator->setObjectName(QStringLiteral("LinkIndicator"));
  LinkIndicator->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  LinkIndicator->setTextFormat(Qt::PlainText);
  LinkIndicator->setAccessibleName(QStringLiteral("Стан обміну"));
  StatusBar1->addPermanentWidget(LinkIndicator);
  exchange_panel_ = std::make_unique<QtStatusPanel>(status_panels[2]);
  geometry_ = new OuterGeometry(this, false);

  connect(N1, &QAction::triggered, this, &TFormMain::NConnClick);
  connect(N2, &QAction::triggered, this, &TFormMain::NConnClick);
  connect(Nval, &QAction::triggered, this, &TFormMain::NvalClick);
  connect(Nclb, &QAction::triggered, this, &TFormMain::NclbClick);
  connect(Nexit, &QAction::triggered, this, &TFormMain::NexitClick);
  connect(Njournal, &QAction::triggered, this, &TFormMain::NjournalClick);
  connect(Nmonitor, &QAction::triggered, this, [this] { ShowExchangeMonitor(); });
  connect(Nverify, &QAction::triggered, this, [this] {
    if (!OwnExchangeRunning() && !leaving_service_ && !closing_)
      ShowVerification(*this);
  });
  connect(Nreference, &QAction::triggered, this, [this] {
    if (!OwnExchangeRunning() && !leaving_service_ && !closing_)
      ShowReferenceSettings(state, this);
  });
  connect(Summary->ReconnectButton, &QPushButton::clicked, this, [this] { Reconnect(); });
  state.reconnect = [this] { return Reconnect(); };

  LinkTimer = new QTimer(this);
  LinkTimer->setInterval(kLinkRefreshMs);
  connect(LinkTimer, &QTimer::timeout, this, &TFormMain::RefreshLinkView);
  LinkTimer->start();

  run_connect_dialog = [this] { return ShowConnectDialog(); };
  run_set_connect_dialog = [this] { return ShowSetConnectDialog(); };
  run_access_codes_dialog = [this](AccessCodes& codes) { return AskAccessCodes(codes, this); };
  offer_certificate = [this](const JournalRecord& record) {
    const bool restore = HasRestoreProtocol(record);
    if (ui_.AskQuestion(restore ? kRestoreProtocolOffer : kCertificateOffer,
                        std::string(restore ? kRestoreProtocolOffer2 : kCertificateOffer2),
                        std::nullopt))
      ShowCertificate(record, this);
  };

  FormCreate();
}

TFormMain::~TFormMain() {
  if (FormMain == this)
    FormMain = nullptr;
}

void TFormMain::FormCreate() {
  const QString exe_path = QCoreApplication::applicationFilePath();
  const QFileInfo exe(exe_path);
  setWindowTitle(MainWindowTitle(exe.lastModified()));

  SettingsLocation location;
  if (settings_folder_.empty()) {
    location = LocateSettings(exe.absolutePath().toStdString());
  } else {
    location.folder = settings_folder_;
    location.save_path = location.read_path = MakeIniPath(settings_folder_);
  }
  state.SettingsFolder = location.folder;
  state.IniPath = location.save_path;
  state.IniBasePath = location.read_path == location.save_path ? "" : location.read_path;
  // A COMn link in this folder maps a port number to any device (a by-id name, the simulator).
  SetComPortsFolder(state.SettingsFolder + "/ports");
  // A save killed half-way leaves its temporary file; nothing else will ever take it.
  RemoveStaleTemporaries(state.IniPath);
  const SettingsLoadReport report = LoadSettings(location.read_path, state.ConnectSettings);
  state.SavedSettings = state.ConnectSettings;
  std::string notice = SettingsLoadNotice(report, location.read_path);
  if (notice.empty() && !state.IniBasePath.empty())
    notice =
        "Налаштування прочитано з " + state.IniBasePath + "; зберігатимуться в " + state.IniPath;
  status_panels[1]->setText(QString::fromStdString(notice));
  status_panels[1]->setToolTip(QString::fromStdString(notice));

  Nclb->setEnabled(false);
  Nval->setEnabled(false);
  RefreshLinkView();
}

void TFormMain::FormShow() {
  // A small screen (1366x768 at 150 % leaves about 910x480) gets a window that fits it.
  QSize outer(kWidth, kHeight);
  if (const QScreen* screen = this->screen())
    outer = outer.boundedTo(screen->availableGeometry().size());
  geometry_->Apply(outer);
  // Room for the longest port and rate there are, so that no choice is cut short.
  const QFontMetrics metrics = status_panels[0]->fontMetrics();
  const int longest = metrics.horizontalAdvance(PortStatusText(255, 115200)) +
                      2 * status_panels[0]->frameWidth() + metrics.averageCharWidth();
  status_panels[0]->setFixedWidth(std::max(kPanelDesignWidths[0], longest));
  RefreshLinkView();
  FitStatusPanels();
  status_panels[0]->setText(PortStatusText(state.ConnectSettings.port, state.ConnectSettings.rate));
}

void TFormMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
}

void TFormMain::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->ignore();  // the first close is still taking the link down
    return;
  }
  if (leaving_service_) {
    // Taking the line out of service is not interrupted; the close follows it.
    event->ignore();
    deferred_close_ = true;
    return;
  }
  if (OwnExchangeRunning()) {
    // The link is in use right now: stop the exchange, close once it has returned.
    event->ignore();
    deferred_close_ = true;
    RequestAbort();
    return;
  }
  closing_ = true;
  FormClose();
  closing_ = false;
  if (termination_timer_)
    termination_timer_->stop();
  event->accept();
}

void TFormMain::FormClose() {
  CloseConnection();
}

void TFormMain::NexitClick() {
  close();
}

void TFormMain::NjournalClick() {
  if (OwnExchangeRunning() || leaving_service_ || closing_)
    return;
  TFormJournal dialog(*this, this);
  dialog.exec();
}

void TFormMain::NConnClick() {
  const auto* item = qobject_cast<const QAction*>(sender());
  if (!item)
    return;
  const auto channel = static_cast<uint8_t>(item->data().toUInt());
  if (leaving_service_ || closing_)
    return;
  if (OwnExchangeRunning()) {
    deferred_connection_ = channel;
    RequestAbort();
    return;
  }
  StartConnection(channel);
}

bool TFormMain::RunOwnExchange(const std::function<bool()>& exchange) {
  ++own_exchange_depth_;
  const bool result = exchange();
  if (--own_exchange_depth_ == 0 &&
      (deferred_close_ || deferred_connection_ || deferred_disconnect_)) {
    // After the handler that ran the exchange has unwound, not inside it.
    QMetaObject::invokeMethod(this, &TFormMain::RunDeferred, Qt::QueuedConnection);
  }
  return result;
}

void TFormMain::RequestAbort() {
  ::RequestAbort(state);
}

void TFormMain::RequestTermination() {
  terminating_ = true;
  if (!termination_timer_) {
    termination_timer_ = new QTimer(this);
    termination_timer_->setInterval(kTerminationStepMs);
    connect(termination_timer_, &QTimer::timeout, this, &TFormMain::ContinueTermination);
  }
  termination_timer_->start();
  ContinueTermination();
}

void TFormMain::ContinueTermination() {
  if (leaving_service_) {
    // Runs to its end, and the close follows; a question or message it raises has nobody to
    // answer it.
    if (QWidget* modal = QApplication::activeModalWidget())
      modal->close();
    return;
  }
  if (closing_)
    return;
  // An exchange either belongs to this window or runs inside a modal dialog; the abort flag
  // is taken by the exchange that sees it, so it is set again on every step.
  RequestAbort();
  if (OwnExchangeRunning())
    return;  // it returns as aborted
  if (QWidget* modal = QApplication::activeModalWidget()) {
    // Nobody is there to say whether the calibration's points may go: its close box would ask
    // again at every step.
    if (auto* calibration = qobject_cast<TFormCorrect_NSHP*>(modal)) {
      calibration->reject();
      return;
    }
    // Nor whether a verification run may be broken off: it is, keeping what it measured.
    if (auto* verification = qobject_cast<TFormVerify*>(modal)) {
      verification->CloseUnasked();
      return;
    }
    // A dialog busy with an exchange refuses or defers the close until that has returned.
    modal->close();
    return;
  }
  termination_timer_->stop();
  close();
}

void TFormMain::RunDeferred() {
  if (OwnExchangeRunning())
    return;  // another exchange started meanwhile; it will run this again when done
  if (deferred_close_) {
    deferred_close_ = false;
    deferred_disconnect_ = false;
    deferred_connection_.reset();
    close();
    return;
  }
  if (deferred_connection_) {
    const uint8_t channel = *deferred_connection_;
    deferred_disconnect_ = false;
    deferred_connection_.reset();
    StartConnection(channel);
    return;
  }
  if (deferred_disconnect_) {
    deferred_disconnect_ = false;
    CloseConnection();
  }
}

void TFormMain::StartConnection(uint8_t channel) {
  CloseConnection();
  if (deferred_close_ || terminating_)
    return;  // asked for while the old link went down: the program ends instead
  state.Channel = 0;
  state.SensorOffset = 0.0f;
  state.SensorSlope = 0.0f;
  state.Channel = channel;

  if (!run_connect_dialog || !run_connect_dialog())
    return;  // cancelled: no link, the measuring commands stay disabled
  CreateExchangeObjects();
  const bool connected = run_set_connect_dialog && run_set_connect_dialog();
  state.Connected = connected;
  if (connected) {
    Nval->setEnabled(true);
    Nclb->setEnabled(true);
  } else {
    CloseConnection();
  }
  RefreshLinkView();
}

void TFormMain::FitStatusPanels() {
  status_panels[1]->setFixedWidth(
      std::max(0, width() - status_panels[0]->width() - kPanel1Allowance - LinkIndicator->width()));
}

void TFormMain::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  // The frame a window manager adds, or the user's hand, narrows the window after the panels
  // were fitted: the exchange indicator must not be pushed past the edge.
  if (shown_)
    FitStatusPanels();
}

ExchangeMonitorWindow* TFormMain::ShowExchangeMonitor() {
  if (!monitor_) {
    monitor_ = new ExchangeMonitorWindow(state, this);
  }
  monitor_->show();
  monitor_->raise();
  monitor_->activateWindow();
  return monitor_;
}

void TFormMain::RefreshLinkView() {
  const LinkState link = CurrentLinkState(state);
  Summary->Show(state, link);
  const QString indicator = LinkIndicatorText(state, link);
  if (LinkIndicator->text() != indicator) {
    LinkIndicator->setText(indicator);
    // The whole text, however the counts grow: panel 1 gives way to it.
    LinkIndicator->setFixedWidth(LinkIndicator->sizeHint().width());
    if (shown_)
      FitStatusPanels();
  }
  const bool back = link == LinkState::kLost && ComPortPresent(state.ConnectSettings.port);
  Summary->ReconnectButton->setEnabled(back && !reconnecting_ && !OwnExchangeRunning());
  if (link == LinkState::kLost) {
    Summary->LostNote->setText(back ? QStringLiteral("Пристрій знову на місці: натисніть "
                                                     "«Перепідключити».")
                                    : QStringLiteral("Порт зник (адаптер від'єднано?). "
                                                     "Очікую, доки він з'явиться знову."));
    // Nothing can be measured on a port that is gone.
    Nval->setEnabled(false);
    Nclb->setEnabled(false);
  } else {
    Summary->LostNote->clear();
  }
}

bool TFormMain::Reconnect() {
  if (reconnecting_ || OwnExchangeRunning() || leaving_service_ || closing_)
    return false;
  reconnecting_ = true;
  ui_.SetBusyCursor(true);
  // The line is gone: there is nothing to take out of service on it.
  CloseExchangeObjects(state, kCloseWaitMs);
  std::string error;
  const bool opened = ReopenPort(state, error);
  ui_.SetBusyCursor(false);
  bool connected = false;
  if (!opened) {
    ui_.ShowMessage("Порт не відкрито\r" + error, "");
  } else {
    CreateExchangeObjects();
    if (state.ActiveCalcBox && !state.TypedUserCode.empty()) {
      // Codes typed again after a refusal live only in memory, not in the settings.
      AccessCodes codes{QString::fromStdString(state.TypedUserCode),
                        QString::fromStdString(state.TypedWritePassword),
                        !state.TypedWritePassword.empty()};
      PutAccessCodes(codes, *state.ActiveCalcBox);
    }
    connected = run_set_connect_dialog && run_set_connect_dialog();
  }
  state.Connected = connected;
  if (!connected)
    CloseExchangeObjects(state, kCloseWaitMs);
  Nval->setEnabled(connected);
  Nclb->setEnabled(connected);
  reconnecting_ = false;
  RefreshLinkView();
  return connected;
}

bool TFormMain::ShowConnectDialog() {
  TFormConnect dialog(state, this);
  dialog.status_bar = status_panels[0];
  dialog.settings_notice = status_panels[1];
  dialog.exec();
  return dialog.accepted;
}

bool TFormMain::ShowSetConnectDialog() {
  TFormSet_Connect dialog(state, this);
  dialog.exec();
  return dialog.connected;
}

void TFormMain::CreateExchangeObjects() {
  ::CreateExchangeObjects(state, &ExchangePanel());
  if (state.ActiveCalcBox)
    state.ActiveCalcBox->request_new_codes = [this](calcbox& refused) {
      return AskNewCodes(refused);
    };
}

void TFormMain::SetLinkCommandsEnabled(bool enabled) {
  for (QAction* action : {N1, N2, Nexit})
    action->setEnabled(enabled);
  if (!enabled) {
    Nval->setEnabled(false);
    Nclb->setEnabled(false);
  }
}

void TFormMain::LeaveServiceGuarded() {
  const bool measuring = Nval->isEnabled();
  leaving_service_ = true;
  SetLinkCommandsEnabled(false);
  RunOwnExchange([&] { return ::LeaveService(state); });
  leaving_service_ = false;
  SetLinkCommandsEnabled(true);
  Nval->setEnabled(measuring);
  Nclb->setEnabled(measuring);
}

bool TFormMain::AskNewCodes(calcbox& box) {
  AccessCodes codes{QString::fromStdString(state.TypedUserCode),
                    QString::fromStdString(state.TypedWritePassword),
                    !state.TypedWritePassword.empty()};
  if (!run_access_codes_dialog || !run_access_codes_dialog(codes))
    return false;
  PutAccessCodes(codes, box);
  state.TypedUserCode = codes.user_code.toStdString();
  state.TypedWritePassword = codes.write_password.toStdString();
  return true;
}

void TFormMain::CloseConnection() {
  if (leaving_service_)
    return;  // this very close is under way
  if (OwnExchangeRunning()) {
    // Reached from inside a running exchange's message processing: the objects and the port
    // are still in use. Stop the exchange; the link goes down once it has returned.
    deferred_disconnect_ = true;
    RequestAbort();
    return;
  }
  ui_.SetBusyCursor(true);
  // On a termination request nobody is there to answer: the line must not stay in service. A
  // termination that comes while the question is open answers it the same way.
  if (LineInService(state)) {
    if (terminating_ ||
        ui_.AskQuestion("Коректор в режимі обслуговування.", std::string("Зняти з обслуговування?"),
                        std::nullopt) ||
        terminating_) {
      LeaveServiceGuarded();
      ui_.SetBusyCursor(true);
    } else {
      // Left in service on purpose: the next link asks about it as about anyone's.
      state.LineInOurService.reset();
    }
  }
  CloseExchangeObjects(state, kCloseWaitMs);
  Nval->setEnabled(false);
  Nclb->setEnabled(false);
  ui_.SetBusyCursor(false);
}

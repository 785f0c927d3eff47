#include "gui/form_main.h"
#include "gui/service/exchange_monitor.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSet>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>
#include <clocale>
#include <cstdio>
#include <functional>
#include <memory>

#ifndef _WIN32
#include <fcntl.h>
#include <cerrno>
#endif

#include "gui/connection/set_connect.h"
#include "sim/virtual_line.h"
#include "tests/support/qt_modal.h"
#include "tests/support/scripted_host.h"
#include "tests/support/set_connect_fixture.h"

namespace {

// A real handle for the connection dialog's stand-in to "open", so a test can see that taking
// the link down closes it.
#ifndef _WIN32
ComHandle OpenSomeHandle() {
  return ::open("/dev/null", O_RDWR | O_CLOEXEC);
}
bool HandleClosed(ComHandle handle) {
  return ::fcntl(handle, F_GETFD) == -1 && errno == EBADF;
}
#else
ComHandle OpenSomeHandle() {
  return kNoComHandle;
}
bool HandleClosed(ComHandle) {
  return true;
}
#endif

const char kServiceLine1[] = "Коректор в режимі обслуговування.";
const char kServiceLine2[] = "Зняти з обслуговування?";

// The main window on a virtual clock with its line going to `device` (nothing answers without
// one). The connection parameters dialog is stood in for: it puts `settings` in force and
// opens a handle, or is cancelled. The connection sequence is the real dialog unless a test
// replaces it.
struct MainBench {
  MainBench(const QTemporaryDir& folder, LineDevice* device, uint8_t conn_type = 1)
      : tap(device), window(ui, nullptr, folder.path().toStdString()) {
    settings = SimLinkSettings(conn_type);
    window.state.clock = &clock;
    window.state.make_line = [this](ComHandle) {
      return std::make_unique<VirtualLine>(clock, &tap);
    };
    window.run_connect_dialog = [this] {
      ++connect_dialogs;
      if (on_connect_dialog)
        on_connect_dialog();
      if (!accept_connection)
        return false;
      window.state.ConnectSettings = settings;
      handle = OpenSomeHandle();
      window.state.ComHandle = handle;
      return true;
    };
  }

  // True when no trace of a link is left: no objects, no line, the port closed, the
  // measuring commands disabled.
  bool LinkDown() const {
    const AppState& s = window.state;
    return !s.ActiveCalcBox && !s.ActiveModbusBox && !s.Line && s.ComHandle == kNoComHandle &&
           HandleClosed(handle) && !window.Nval->isEnabled() && !window.Nclb->isEnabled();
  }

  bool LinkUp() const {
    return window.state.ActiveModbusBox && window.state.Line && window.Nval->isEnabled() &&
           window.Nclb->isEnabled();
  }

  bool AskedServiceQuestion() const {
    for (const auto& q : ui.questions) {
      if (q.line1 == kServiceLine1 && q.line2 == std::optional<std::string>(kServiceLine2) &&
          !q.line3)
        return true;
    }
    return false;
  }

  VirtualClock clock;
  ScriptedHost ui;
  TapDevice tap;
  TFormMain window;
  TConnectSettings settings;
  ComHandle handle = kNoComHandle;
  bool accept_connection = true;
  int connect_dialogs = 0;
  std::function<void()> on_connect_dialog;
};

}  // namespace

class FormMainTest : public QObject {
  Q_OBJECT

  QTemporaryDir settings_;

 private slots:
  void titleEndsInTheFileDateAndTime() {
    const QDateTime stamp(QDate(2024, 3, 5), QTime(14, 7, 9));
    QCOMPARE(MainWindowTitle(stamp), QStringLiteral("Прграма обслуговування Р_Т-давачів  "
                                                    "(vorlix_modbus.exe від 05.03.24 14:07:09)"));
  }

  void titleOfAFileStampedAtMidnightHasOnlyTheDate() {
    QCOMPARE(
        MainWindowTitle(QDateTime(QDate(2009, 12, 31), QTime(0, 0))),
        QStringLiteral("Прграма обслуговування Р_Т-давачів  (vorlix_modbus.exe від 31.12.09)"));
    // Shown to the second: a few milliseconds past midnight still read as midnight.
    QCOMPARE(FileStampText(QDateTime(QDate(2009, 12, 31), QTime(0, 0, 0, 400))),
             QStringLiteral("31.12.09"));
    QCOMPARE(FileStampText(QDateTime(QDate(2009, 12, 31), QTime(0, 0, 1))),
             QStringLiteral("31.12.09 00:00:01"));
    QCOMPARE(FileStampText(QDateTime(QDate(2009, 12, 31), QTime(23, 59, 59))),
             QStringLiteral("31.12.09 23:59:59"));
  }

  void startUpLoadsTheSettingsAndShowsThePortInPanelZero() {
    QFile ini(settings_.filePath(QStringLiteral("vorlix.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[CURR_CONNECT_PAR]\r\nport=12\r\nrate=9600\r\n");
    ini.close();
    ScriptedHost ui;
    TFormMain window(ui, nullptr, settings_.path().toStdString());
    QCOMPARE(window.state.ConnectSettings.port, 12);
    QCOMPARE(window.state.SavedSettings.port, 12);
    QCOMPARE(window.state.ConnectSettings.wait_time, 1000);  // default for the missing key
    window.show();
    QCOMPARE(window.status_panels[0]->text(), QStringLiteral(" COM12 9600 бит/с"));
    QFile::remove(ini.fileName());
  }

  void portStatusText() { QCOMPARE(PortStatusText(3, 9600), QStringLiteral(" COM3 9600 бит/с")); }

  void decimalSeparatorIsTheFullStopInQtAndTheCLibrary() {
    QLocale::setDefault(QLocale(QLocale::Ukrainian, QLocale::Ukraine));
    QCOMPARE(QLocale().decimalPoint(), QStringLiteral(","));
    UseFullStopDecimalSeparator();
    QCOMPARE(QLocale().toString(1.25, 'f', 2), QStringLiteral("1.25"));
    bool ok = false;
    QCOMPARE(QLocale().toDouble(QStringLiteral("2.5"), &ok), 2.5);
    QVERIFY(ok);
    QCOMPARE(std::localeconv()->decimal_point, ".");
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", 0.5);
    QCOMPARE(text, "0.5");
  }

  void menusAndControlsCarryTheirNames() {
    ScriptedHost ui;
    TFormMain window(ui, nullptr, settings_.path().toStdString());
    QCOMPARE(FormMain, &window);
    auto* file = Child<QMenu>(&window, "N4");
    auto* conn = Child<QMenu>(&window, "Nconn");
    QVERIFY(file && conn);
    // The texts as shown; "&" only marks the accelerator letter.
    const auto shown = [](QString text) { return text.remove(QLatin1Char('&')); };
    QCOMPARE(shown(file->title()), QStringLiteral("Файл"));
    QCOMPARE(shown(conn->title()), QStringLiteral("Встановлення зв'яку з давачем"));
    QCOMPARE(shown(Child<QAction>(&window, "Nexit")->text()), QStringLiteral("Вихід"));
    QCOMPARE(shown(Child<QAction>(&window, "N1")->text()), QStringLiteral("Тиск"));
    QCOMPARE(Child<QAction>(&window, "N1")->data().toInt(), 0);
    QCOMPARE(shown(Child<QAction>(&window, "N2")->text()), QStringLiteral("Температура"));
    QCOMPARE(Child<QAction>(&window, "N2")->data().toInt(), 1);
    QCOMPARE(shown(Child<QAction>(&window, "Nval")->text()), QStringLiteral("Поточні значення"));
    QCOMPARE(shown(Child<QAction>(&window, "Nclb")->text()),
             QStringLiteral("Калібровка каналу за двома точками"));
    QCOMPARE(shown(window.Nservice->title()), QStringLiteral("Сервіс"));
    QCOMPARE(shown(window.Nmonitor->text()), QStringLiteral("Монітор обміну..."));
    // Every title has its own accelerator letter, and every item a small icon.
    QSet<QChar> letters;
    for (QAction* title : window.menuBar()->actions()) {
      const int amp = title->text().indexOf(QLatin1Char('&'));
      QVERIFY2(amp >= 0, qPrintable(title->text()));
      letters.insert(title->text().at(amp + 1).toLower());
    }
    QCOMPARE(letters.size(), window.menuBar()->actions().size());
    for (QAction* item : {window.Nexit, window.N1, window.N2, window.Nmonitor})
      QVERIFY2(!item->icon().isNull(), qPrintable(item->text()));
    QVERIFY(Child<QFrame>(&window, "Panel1"));
    QCOMPARE(window.centralWidget(), Child<QFrame>(&window, "Panel1"));
    QVERIFY(Child<QStatusBar>(&window, "StatusBar1"));
    for (const char* name : {"StatusBar1Panel0", "StatusBar1Panel1", "StatusBar1Panel2"}) {
      QVERIFY2(Child<QLabel>(&window, name), name);
    }

    // The menu bar reads: Файл, the connection menu, the two commands themselves, then Сервіс.
    const QList<QAction*> top = window.menuBar()->actions();
    QCOMPARE(top.size(), 5);
    QCOMPARE(top[0], file->menuAction());
    QCOMPARE(top[1], conn->menuAction());
    QCOMPARE(top[2], window.Nval);
    QCOMPARE(top[3], window.Nclb);
    QCOMPARE(top[4], window.Nservice->menuAction());
    QCOMPARE(window.Nservice->title().remove(QLatin1Char('&')), QStringLiteral("Сервіс"));
    QCOMPARE(window.Njournal->text().remove(QLatin1Char('&')),
             QStringLiteral("Журнал калібровок..."));
  }

  void bothMeasuringCommandsAreDisabledAtStart() {
    ScriptedHost ui;
    TFormMain window(ui, nullptr, settings_.path().toStdString());
    QVERIFY(!window.Nval->isEnabled());
    QVERIFY(!window.Nclb->isEnabled());
    QVERIFY(window.N1->isEnabled());
    QVERIFY(window.N2->isEnabled());
  }

  void titleComesFromTheExecutableWhateverTheCurrentFolder() {
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    const QString start_folder = QDir::currentPath();
    QTemporaryDir elsewhere;
    QVERIFY(QDir::setCurrent(elsewhere.path()));
    ScriptedHost ui;
    TFormMain window(ui, nullptr, settings_.path().toStdString());
    QVERIFY(QDir::setCurrent(start_folder));
    QCOMPARE(window.windowTitle(), MainWindowTitle(exe.lastModified()));
  }

  void shownWindowIs890By580AndCentredWithItsStatusPanels() {
    ScriptedHost ui;
    TFormMain window(ui, nullptr, settings_.path().toStdString());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // 890x580, or less on a smaller screen.
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(window.frameGeometry().size(), QSize(890, 580).boundedTo(area.size()));
    const QPoint centre = area.center();
    QVERIFY((window.frameGeometry().center() - centre).manhattanLength() <= 2);
    QVERIFY(window.status_panels[0]->width() >= 150);
    // The longest port and rate stand whole in panel 0.
    QVERIFY(window.status_panels[0]->contentsRect().width() >=
            window.status_panels[0]->fontMetrics().horizontalAdvance(PortStatusText(255, 115200)));
    QCOMPARE(window.status_panels[1]->width(), window.width() - window.status_panels[0]->width() -
                                                   95 - window.LinkIndicator->width());
    QVERIFY(window.status_panels[2]->width() >= 60);
    // The exchange indicator shows its whole text.
    QVERIFY(window.LinkIndicator->width() >= window.LinkIndicator->sizeHint().width());
    QVERIFY(window.LinkIndicator->geometry().right() <= window.StatusBar1->width());
    // 1366x768 at 150 % leaves about 910x480 for a window with its frame.
    QVERIFY(window.minimumSizeHint().width() <= 880);
    QVERIFY(window.minimumSizeHint().height() <= 440);
    QVERIFY(window.status_panels[2]->geometry().right() <= window.StatusBar1->width());

    // A narrower window (a window manager's frame, the user's hand) still shows the indicator
    // whole.
    window.resize(window.width() - 40, window.height());
    QTRY_VERIFY(window.LinkIndicator->geometry().right() <= window.StatusBar1->width());
    QVERIFY(window.LinkIndicator->width() >= window.LinkIndicator->sizeHint().width());

    // Shown again after a hide, the window keeps the size the user gave it.
    window.resize(700, 500);
    window.hide();
    window.show();
    QCOMPARE(window.size(), QSize(700, 500));
  }

  void f10OpensTheMenuFromTheKeyboardAndTheMonitorComesFromIt() {
    ScriptedHost ui;
    TFormMain window(ui, nullptr, settings_.path().toStdString());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    QTest::keyClick(&window, Qt::Key_F10);
    QCOMPARE(window.menuBar()->activeAction(), window.N4->menuAction());
    window.menuBar()->setActiveAction(nullptr);

    window.Nmonitor->trigger();
    ExchangeMonitorWindow* monitor = window.ExchangeMonitor();
    QVERIFY(monitor && monitor->isVisible());
    QCOMPARE(monitor->windowTitle(), QStringLiteral("Монітор обміну"));
    window.Nmonitor->trigger();
    QCOMPARE(window.ExchangeMonitor(), monitor);  // one for the run
  }

  void exchangePanelWritesTheThirdPanel() {
    ScriptedHost ui;
    TFormMain window(ui, nullptr, settings_.path().toStdString());
    window.ExchangePanel().SetText("Запит 1");
    QCOMPARE(window.status_panels[2]->text(), QStringLiteral("Запит 1"));
    QCOMPARE(window.status_panels[0]->text(), QString());
  }

  void closeConnectionDisablesTheCommandsUnderTheHourglass() {
    ScriptedHost ui;
    TFormMain window(ui, nullptr, settings_.path().toStdString());
    window.Nval->setEnabled(true);
    window.Nclb->setEnabled(true);
    window.CloseConnection();
    QVERIFY(!window.Nval->isEnabled());
    QVERIFY(!window.Nclb->isEnabled());
    QCOMPARE(ui.cursor_changes, (std::vector<bool>{true, false}));
    QVERIFY(ui.questions.empty());
  }

  void connectionCommandTakesTheChannelFromTheItemAndClearsTheCalibration() {
    ScriptedHost ui;
    TFormMain window(ui, nullptr, settings_.path().toStdString());
    window.run_connect_dialog = [] { return false; };
    window.state.SensorOffset = 1.5f;
    window.state.SensorSlope = 0.9f;
    window.N2->trigger();
    QCOMPARE(window.state.Channel, 1);
    QCOMPARE(window.state.SensorOffset, 0.0f);
    QCOMPARE(window.state.SensorSlope, 0.0f);
    // The old link is taken down first.
    QCOMPARE(ui.cursor_changes, (std::vector<bool>{true, false}));
    window.N1->trigger();
    QCOMPARE(window.state.Channel, 0);
    QVERIFY(!window.Nval->isEnabled());
  }

  void exitAndTheCloseBoxTakeTheLinkDownAndClose() {
    ScriptedHost ui;
    TFormMain window(ui, nullptr, settings_.path().toStdString());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.Nval->setEnabled(true);
    window.Nexit->trigger();
    QVERIFY(!window.isVisible());
    QVERIFY(!window.Nval->isEnabled());
    QCOMPARE(ui.cursor_changes, (std::vector<bool>{true, false}));

    window.show();
    window.Nclb->setEnabled(true);
    window.close();
    QVERIFY(!window.Nclb->isEnabled());
    QCOMPARE(ui.cursor_changes.size(), 4u);
  }

  void cancelledConnectionDialogLeavesTheCommandsDisabled() {
    MainBench bench(settings_, nullptr);
    bench.accept_connection = false;
    int sequences = 0;
    bench.window.run_set_connect_dialog = [&] {
      ++sequences;
      return true;
    };
    bench.window.N1->trigger();
    QCOMPARE(bench.connect_dialogs, 1);
    QCOMPARE(sequences, 0);
    QVERIFY(bench.LinkDown());
    QVERIFY(bench.ui.questions.empty());
  }

  void exchangeObjectsAreMadeFromTheAcceptedSettings() {
    MainBench bench(settings_, nullptr);
    TConnectSettings& s = bench.settings;
    s.rate = 9600;
    s.wait_time = 1500;
    s.time_out = 120;
    s.repeat = 3;
    s.adr = 7;
    s.corr_pream = 4;
    s.write_password = {'p', 'w', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    s.user_code = {'1', '2', ' ', ' '};
    s.adr_P = 44;
    s.adr_T = 33;
    s.sens_pream = 2;
    int sequences = 0;
    uint8_t sensor_address = 0;
    bench.window.run_set_connect_dialog = [&] {
      ++sequences;
      AppState& state = bench.window.state;
      [&] {
        QVERIFY(state.Line);
        QVERIFY(state.ActiveCalcBox && state.ActiveModbusBox);
        QVERIFY(!bench.window.Nval->isEnabled());  // not before the sequence has succeeded
        const calcbox& box = *state.ActiveCalcBox;
        QCOMPARE(box.address, 7);
        QCOMPARE(box.port_handle, state.Line.get());
        QCOMPARE(box.baud_rate, 9600);
        QCOMPARE(box.first_byte_timeout, 1500);
        QCOMPARE(box.next_byte_timeout, 120);
        QCOMPARE(box.tries, 3);
        QCOMPARE(box.preambles, 4);
        QCOMPARE(box.write_password[0], 'p');
        QCOMPARE(box.write_password[1], 'w');
        QCOMPARE(box.write_password[11], ' ');
        QCOMPARE(box.user_code[1], '2');
        QCOMPARE(box.status_panel, &bench.window.ExchangePanel());
        QCOMPARE(box.clock, static_cast<Clock*>(&bench.clock));
        QCOMPARE(box.ui, static_cast<ExchangeHost*>(&bench.ui));
        const modbusbox& sensor = *state.ActiveModbusBox;
        sensor_address = sensor.address;
        QCOMPARE(sensor.port_handle, state.Line.get());
        QCOMPARE(sensor.baud_rate, 9600);
        QCOMPARE(sensor.first_byte_timeout, 1500);
        QCOMPARE(sensor.next_byte_timeout, 120);
        QCOMPARE(sensor.tries, 3);
        QCOMPARE(sensor.preambles, 2);
        QCOMPARE(sensor.status_panel, &bench.window.ExchangePanel());
        QCOMPARE(sensor.clock, static_cast<Clock*>(&bench.clock));
        QCOMPARE(sensor.ui, static_cast<ExchangeHost*>(&bench.ui));
        QCOMPARE(state.SensorOffset, 0.0f);
      }();
      return true;
    };

    bench.window.state.SensorOffset = 2.5f;
    bench.window.N2->trigger();
    QCOMPARE(sequences, 1);
    QCOMPARE(bench.window.state.Channel, 1);
    QCOMPARE(sensor_address, 33);  // temperature: adr_T
    QVERIFY(bench.LinkUp());

    bench.window.state.SensorOffset = 2.5f;
    bench.window.N1->trigger();
    QCOMPARE(sequences, 2);
    QCOMPARE(bench.window.state.Channel, 0);
    QCOMPARE(sensor_address, 44);  // pressure: adr_P
    QVERIFY(bench.LinkUp());
  }

  void directLinkHasNoCorrectorObjectAndNoServiceQuestion() {
    MainBench bench(settings_, nullptr, 0);
    bool had_calcbox = true;
    bench.window.run_set_connect_dialog = [&] {
      had_calcbox = bench.window.state.ActiveCalcBox != nullptr;
      return true;
    };
    bench.window.N1->trigger();
    QVERIFY(!had_calcbox);
    QVERIFY(bench.LinkUp());
    const uint64_t before = bench.clock.Counter();
    bench.window.CloseConnection();
    QCOMPARE(bench.clock.Counter() - before, 200'000u);  // the 200 ms wait, nothing else
    QVERIFY(bench.LinkDown());
    QVERIFY(bench.ui.questions.empty());
  }

  void failedSequenceTakesTheLinkDown() {
    MainBench bench(settings_, nullptr);
    bool was_up = false;
    bench.window.run_set_connect_dialog = [&] {
      was_up = bench.window.state.Line && bench.window.state.ComHandle != kNoComHandle;
      return false;
    };
    bench.window.Nval->setEnabled(true);
    bench.window.N1->trigger();
    QVERIFY(was_up);
    QVERIFY(bench.LinkDown());
  }

  // Through the real connection sequence against the simulated corrector.
  void closingWithTheLineInServiceAsksToTakeItOut_data() {
    QTest::addColumn<bool>("answer");
    QTest::newRow("Так") << true;
    QTest::newRow("Ні") << false;
  }
  void closingWithTheLineInServiceAsksToTakeItOut() {
    QFETCH(bool, answer);
    SimCorrector corrector(QuickCorrector(), SimLineTiming(), {});
    MainBench bench(settings_, &corrector);
    bench.window.show();
    bench.window.N1->trigger();
    QVERIFY(bench.LinkUp());
    QCOMPARE(corrector.mode(1, bench.clock.Counter()), SimCorrector::Mode::kInService);
    QCOMPARE(bench.window.state.SensorSlope, 1.0f);

    bench.ui.answers = {answer};
    bench.window.close();
    QVERIFY(!bench.window.isVisible());
    QVERIFY(bench.AskedServiceQuestion());
    QCOMPARE(corrector.mode(1, bench.clock.Counter()),
             answer ? SimCorrector::Mode::kNormal : SimCorrector::Mode::kInService);
    QCOMPARE(bench.tap.CorrectorRequests(17).size(), answer ? 1u : 0u);
    QVERIFY(bench.LinkDown());
  }

  void sequenceFailingAfterEnteringServiceOffersToLeaveIt() {
    SimCorrector corrector(QuickCorrector(), SimLineTiming(), {});
    corrector.sensor(1, 0).config().unit_code = kUnitDegreeCelsius;  // not a pressure sensor
    MainBench bench(settings_, &corrector);
    bench.ui.answers = {false};
    bench.window.N1->trigger();
    QVERIFY(bench.AskedServiceQuestion());
    QVERIFY(bench.LinkDown());
    QCOMPARE(corrector.mode(1, bench.clock.Counter()), SimCorrector::Mode::kInService);
    QCOMPARE(bench.ui.messages.back().text, std::string("Зв'язок з давачем не встановлено"));
  }

  void cancelledSequenceStillTakesTheLineOutOfServiceWhenAsked() {
    SimCorrector corrector(QuickCorrector(), SimLineTiming(), {});
    MainBench bench(settings_, &corrector);
    bool pressed = false;
    // Cancel during the calibration read, the sensor's exchange: the corrector's object is
    // idle then and keeps its abort flag.
    bench.ui.on_process = [&] {
      if (!pressed && FormSet_Connect != nullptr && !FormSet_Connect->v5->isHidden()) {
        pressed = true;
        FormSet_Connect->BitBtn2Click();
      }
    };
    bench.ui.answers = {true, true};  // cancel, then take the line out of service
    bench.window.N1->trigger();
    QVERIFY(pressed);
    QVERIFY(bench.AskedServiceQuestion());
    QCOMPARE(corrector.mode(1, bench.clock.Counter()), SimCorrector::Mode::kNormal);
    QCOMPARE(bench.tap.CorrectorRequests(17).size(), 1u);
    QVERIFY(bench.LinkDown());
  }

  void connectingAgainTakesTheOldLinkDownFirst() {
    SimCorrector corrector(QuickCorrector(), SimLineTiming(), {});
    MainBench bench(settings_, &corrector);
    bench.window.N1->trigger();
    QVERIFY(bench.LinkUp());

    bool down_before_dialog = false;
    SimCorrector::Mode mode_before_dialog = SimCorrector::Mode::kInService;
    bench.on_connect_dialog = [&] {
      down_before_dialog = bench.LinkDown() && bench.AskedServiceQuestion();
      mode_before_dialog = corrector.mode(1, bench.clock.Counter());
    };
    bench.accept_connection = false;
    bench.ui.answers = {true};
    bench.window.N2->trigger();
    QCOMPARE(bench.connect_dialogs, 2);
    QVERIFY(down_before_dialog);
    QCOMPARE(mode_before_dialog, SimCorrector::Mode::kNormal);
    QCOMPARE(bench.window.state.Channel, 1);
    QVERIFY(bench.LinkDown());
  }

  // An exchange of the window's own on a line that never answers, with `during` run from its
  // message processing once.
  static bool SilentOwnExchange(MainBench& bench, const std::function<void()>& during,
                                int& error_code) {
    bool done = false;
    bench.ui.on_process = [&] {
      if (!done) {
        done = true;
        during();
      }
    };
    return bench.window.RunOwnExchange([&] {
      modbusbox& sensor = *bench.window.state.ActiveModbusBox;
      const bool ok = sensor.ReadRegisters(400, 2);
      error_code = sensor.error_code;
      return ok;
    });
  }

  void closeDuringAnOwnExchangeWaitsForItToStop() {
    MainBench bench(settings_, nullptr, 0);
    bench.window.run_set_connect_dialog = [] { return true; };
    bench.window.show();
    bench.window.N1->trigger();
    QVERIFY(bench.LinkUp());
    bool intact = false;
    int code = 0;
    const bool ok = SilentOwnExchange(
        bench,
        [&] {
          bench.window.close();
          intact = bench.window.isVisible() && bench.window.state.ActiveModbusBox &&
                   bench.window.state.Line;
        },
        code);
    QVERIFY(!ok);
    QCOMPARE(code, modbusbox::kErrorAborted);
    QVERIFY(intact);
    // Still there right after the exchange returned; the close follows from the event loop.
    QVERIFY(bench.window.state.ActiveModbusBox);
    QTRY_VERIFY(!bench.window.isVisible());
    QVERIFY(bench.LinkDown());
  }

  void connectionOrShutDownDuringAnOwnExchangeWaitsForIt_data() {
    QTest::addColumn<bool>("reconnect");
    QTest::newRow("connection command") << true;
    QTest::newRow("take the link down") << false;
  }
  void connectionOrShutDownDuringAnOwnExchangeWaitsForIt() {
    QFETCH(bool, reconnect);
    MainBench bench(settings_, nullptr, 0);
    bench.window.run_set_connect_dialog = [] { return true; };
    bench.window.N1->trigger();
    bool intact = false;
    int code = 0;
    SilentOwnExchange(
        bench,
        [&] {
          if (reconnect) {
            bench.window.N2->trigger();
          } else {
            bench.window.CloseConnection();
          }
          intact = bench.window.state.ActiveModbusBox && bench.window.state.Line &&
                   bench.connect_dialogs == 1;
        },
        code);
    QCOMPARE(code, modbusbox::kErrorAborted);
    QVERIFY(intact);
    if (reconnect) {
      QTRY_COMPARE(bench.connect_dialogs, 2);
      QCOMPARE(bench.window.state.Channel, 1);
      QVERIFY(bench.LinkUp());
    } else {
      QTRY_VERIFY(!bench.window.state.ActiveModbusBox);
      QVERIFY(bench.LinkDown());
    }
  }

  void altOpensTheMenuBarAndArrowsMoveAlongIt() {
    ScriptedHost ui;
    TFormMain window(ui, nullptr, settings_.path().toStdString());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QMenuBar* bar = window.menuBar();
    QTest::keyClick(&window, Qt::Key_Alt, Qt::AltModifier);
    QTRY_COMPARE(bar->activeAction(), window.N4->menuAction());
    QTest::keyClick(bar, Qt::Key_Right);
    QTRY_COMPARE(bar->activeAction(), window.Nconn->menuAction());
    QTest::keyClick(bar, Qt::Key_Escape);
  }
};

QTEST_MAIN(FormMainTest)
#include "form_main_test.moc"

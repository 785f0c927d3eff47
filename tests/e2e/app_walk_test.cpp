// The whole application against the simulated devices through the real serial layer: the
// simulator serves a pseudo-terminal that the settings folder links in as a COM port, the main
// window is driven through its menu and its real dialogs, on the real clock.

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/rd_wr_ini.h"
#include "core/settings_location.h"
#include "gui/connection/connect.h"
#include "gui/connection/show_par.h"
#include "gui/form_main.h"
#include "gui/measurement/check_val.h"
#include "gui/measurement/correct_nshp.h"
#include "gui/measurement/correct_set.h"
#include "sim/pty_server.h"
#include "sim/sim_corrector.h"
#include "sim/sim_sensor.h"
#include "tests/support/qt_modal.h"
#include "tests/support/scripted_host.h"
#include "tests/support/shared_device.h"

namespace {

constexpr int kPort = 200;
constexpr int32_t kRate = 115200;

// A settings folder whose settings point at port kPort, linked to `device` served on a
// pseudo-terminal, and the main window on it with scripted questions and messages.
struct Walk {
  Walk(LineDevice& device, const TConnectSettings& settings)
      : shared(device), server(shared, static_cast<uint32_t>(kRate)) {
    std::string error;
    started = server.Start(error);
    if (!started) {
      qWarning("no pseudo-terminal: %s", error.c_str());
      return;
    }
    const std::filesystem::path ports =
        std::filesystem::path(folder.path().toStdString()) / "ports";
    std::filesystem::create_directories(ports);
    std::filesystem::create_symlink(server.slave_path(), ports / ("COM" + std::to_string(kPort)));
    // Groups left at their defaults need not be in the file.
    TConnectSettings defaults;
    settings_written =
        SaveSettings(MakeIniPath(folder.path().toStdString()), settings, defaults, error);

    // The exchanges let the window process its events while they wait, as on screen.
    ui.on_process = [] { QCoreApplication::processEvents(); };
    window = std::make_unique<TFormMain>(ui, nullptr, folder.path().toStdString());
    window->show();
  }
  ~Walk() {
    window.reset();
    server.Stop();
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const ScriptedHost::Message& m : ui.messages)
      texts.push_back(m.text);
    return texts;
  }

  QTemporaryDir folder;
  SharedDevice shared;
  PtyServer server;
  bool started = false;
  bool settings_written = false;
  ScriptedHost ui;
  std::unique_ptr<TFormMain> window;
};

// Runs `action` on the next modal T once `ready` holds for it; polls without blocking, since
// the dialog's own exchanges may be running below the poll.
template <typename T>
void OnModalWhen(std::function<bool(T*)> ready, std::function<void(T*)> action) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, ready, action]() {
    T* window = qobject_cast<T*>(QApplication::activeModalWidget());
    if (!window || !window->isVisible() || !ready(window))
      return;
    timer->stop();
    timer->deleteLater();
    action(window);
  });
  timer->start(5);
}

// Controls are found by objectName, as the window builds them. A missing one fails the test
// and ends the dialog, so the walk does not hang on it.
template <typename T>
T* Control(QDialog* dialog, const char* name) {
  T* control = Child<T>(dialog, name);
  if (control == nullptr) {
    QTest::qFail(qPrintable(QStringLiteral("no control %1").arg(QLatin1String(name))), __FILE__,
                 __LINE__);
    dialog->reject();
  }
  return control;
}

void Click(QDialog* dialog, const char* name) {
  if (auto* button = Control<QPushButton>(dialog, name))
    QTest::mouseClick(button, Qt::LeftButton);
}

void Type(QDialog* dialog, const char* name, const char* text) {
  if (auto* edit = Control<QLineEdit>(dialog, name)) {
    edit->clear();
    QTest::keyClicks(edit, QString::fromUtf8(text));
  }
}

// What a label, an edit or a list shows.
QString Shown(QDialog* dialog, const char* name) {
  auto* control = Control<QWidget>(dialog, name);
  if (auto* list = qobject_cast<QComboBox*>(control))
    return list->currentText();
  return control != nullptr ? control->property("text").toString() : QString();
}

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

TConnectSettings FastLink(uint8_t conn_type) {
  TConnectSettings s;
  s.conn_type = conn_type;
  s.port = kPort;
  s.rate = kRate;
  s.time_out = 55;
  s.interval = 50;
  s.P_unit = 1;  // kPa
  s.P_format = 3;
  s.T_format = 2;
  return s;
}

// Display settings accepted as they stand.
void AcceptDisplaySettings() {
  OnNextModal<TFormShow_Par>([](TFormShow_Par* d) { Click(d, "BitBtn1"); });
}

}  // namespace

class AppWalkTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

  void pressureThroughCorrectorConnectWatchCalibrateAndClose() {
    CorrectorConfig config;
    config.service_delay_ms = 50;
    config.pressure.offset = 0.5f;  // reported = raw 101.325 × 1 + 0.5
    SimCorrector corrector(config, LineTiming{static_cast<uint32_t>(kRate), 1000}, FaultConfig{});
    Walk walk(corrector, FastLink(1));
    if (!walk.started)
      QSKIP("pseudo-terminals are not available");
    QVERIFY(walk.settings_written);
    TFormMain& w = *walk.window;

    // Connect: the connection dialog on the linked port, then the five steps.
    QString port_shown;
    OnNextModal<TFormConnect>([&](TFormConnect* d) {
      port_shown = Shown(d, "ComboBox1");
      Type(d, "Edit10", "1234");  // the user code the corrector link requires
      Click(d, "BitBtn1");
    });
    w.N1->trigger();
    QCOMPARE(port_shown, QStringLiteral("COM%1").arg(kPort));
    QCOMPARE(walk.Messages(), std::vector<std::string>{"Зв'язок з давачем встановлено"});
    QVERIFY(w.Nval->isEnabled());
    QVERIFY(w.Nclb->isEnabled());
    QVERIFY(walk.shared.Look([&](uint64_t now) {
      return corrector.mode(1, now) == SimCorrector::Mode::kInService && corrector.channel(1) == 0;
    }));

    // Current values: as reported, and recomputed for the factory calibration.
    QString reported, factory, counter;
    AcceptDisplaySettings();
    OnModalWhen<TFormCheck_Val>(
        [](TFormCheck_Val* d) { return d->count() >= 1 && !d->exchange_running(); },
        [&](TFormCheck_Val* d) {
          reported = Shown(d, "Panel5");
          factory = Shown(d, "Panel6");
          counter = Shown(d, "StatusBar1Panel1");
          Click(d, "BitBtn5");
        });
    w.Nval->trigger();
    QCOMPARE(reported, QStringLiteral("101.825"));
    QCOMPARE(factory, QStringLiteral("101.325"));
    QVERIFY2(counter.startsWith(QLatin1Char(' ')) && counter.trimmed().toInt() >= 1,
             qPrintable(counter));

    // Two typed points: applied 0 and 200 read as 1 and 101 with slope 1 and offset 0.5,
    // so the new slope is 2 and the new offset 0 − 2 × (1 − 0.5) = −1.
    QString slope_shown, offset_shown;
    bool first_panel = false;
    AcceptDisplaySettings();
    OnNextModal<TFormCorrect_NSHP>([&](TFormCorrect_NSHP* d) {
      Type(d, "Edit1", "0");
      Type(d, "Edit3", "1");
      Type(d, "Edit2", "200");
      Type(d, "Edit4", "101");
      OnNextModal<TFormCorrect_Set>([&](TFormCorrect_Set* set) {
        first_panel = !set->UsesSecondPanel();
        slope_shown = Shown(set, "Edit1");
        offset_shown = Shown(set, "Edit2");
        walk.ui.answers = {true};  // a slope of 2 is doubtful: written all the same
        Click(set, "BitBtn1");
      });
      Click(d, "BitBtn4");
    });
    w.Nclb->trigger();
    QVERIFY(first_panel);
    QCOMPARE(slope_shown, QStringLiteral("2.00000"));
    QCOMPARE(offset_shown, QStringLiteral("-1.00000"));
    QCOMPARE(walk.Messages().back(), std::string("Параметри записані"));
    // The doubt, the offer to check the point, the offer of the certificate.
    QCOMPARE(walk.ui.questions.size(), size_t{3});
    QCOMPARE(Q(walk.ui.questions[2].line2.value_or("")),
             QStringLiteral("Підготувати сертифікат калібровки?"));
    walk.ui.questions.clear();
    const auto [offset, slope] = walk.shared.Look([&](uint64_t) {
      const SimSensor& sensor = corrector.sensor(1, 0);
      return std::pair{sensor.offset(), sensor.slope()};
    });
    QCOMPARE(offset, -1.0f);
    QCOMPARE(slope, 2.0f);

    // Closing asks to take the line out of service; yes leaves it normal.
    walk.ui.answers = {true};
    QVERIFY(w.close());
    QCOMPARE(walk.ui.questions.size(), 1u);
    QCOMPARE(Q(walk.ui.questions[0].line1), QStringLiteral("Коректор в режимі обслуговування."));
    QCOMPARE(Q(walk.ui.questions[0].line2.value_or("")), QStringLiteral("Зняти з обслуговування?"));
    QVERIFY(walk.shared.Look(
        [&](uint64_t now) { return corrector.mode(1, now) == SimCorrector::Mode::kNormal; }));
    QCOMPARE(w.state.ComHandle, kNoComHandle);
    QCOMPARE(walk.Messages().size(), 2u);
  }

  void temperatureSensorWiredStraightReturnsToFactoryCalibration() {
    SensorConfig config = SensorConfig::Temperature();
    config.offset = 0.75f;
    config.slope = 1.25f;
    SimDirectSensor sensor(config, LineTiming{static_cast<uint32_t>(kRate), 1000}, FaultConfig{});
    Walk walk(sensor, FastLink(0));
    if (!walk.started)
      QSKIP("pseudo-terminals are not available");
    QVERIFY(walk.settings_written);
    TFormMain& w = *walk.window;

    OnNextModal<TFormConnect>([](TFormConnect* d) { Click(d, "BitBtn1"); });
    w.N2->trigger();
    QCOMPARE(walk.Messages(), std::vector<std::string>{"Зв'язок з давачем встановлено"});
    QVERIFY(w.Nclb->isEnabled());
    QVERIFY(!w.state.ActiveCalcBox);

    walk.ui.answers = {true};
    AcceptDisplaySettings();
    OnNextModal<TFormCorrect_NSHP>([](TFormCorrect_NSHP* d) { Click(d, "BitBtn7"); });
    w.Nclb->trigger();
    QCOMPARE(walk.ui.questions.size(), 2u);  // then the certificate is offered
    QCOMPARE(Q(walk.ui.questions[0].line2.value_or("")),
             QStringLiteral("повернутися до налаштування виробника?"));
    walk.ui.questions.clear();
    QCOMPARE(walk.Messages().back(), std::string("Параметри записані"));
    const auto [offset, slope] = walk.shared.Look([&](uint64_t) {
      return std::pair{sensor.sensor().offset(), sensor.sensor().slope()};
    });
    QCOMPARE(offset, 0.0f);
    QCOMPARE(slope, 1.0f);

    // No corrector, so no service question on the way out.
    QVERIFY(w.close());
    QVERIFY(walk.ui.questions.empty());
    QCOMPARE(w.state.ComHandle, kNoComHandle);
  }
};

QTEST_MAIN(AppWalkTest)
#include "app_walk_test.moc"

#include "gui/connection/set_connect.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "comm/code_page.h"
#include "core/app_state.h"
#include "core/link_session.h"
#include "gui/connection/constpass.h"
#include "sim/virtual_line.h"
#include "tests/support/qt_modal.h"
#include "tests/support/scripted_host.h"
#include "tests/support/set_connect_fixture.h"

namespace {

const char kConnected[] = "Зв'язок з давачем встановлено";
const char kNotConnected[] = "Зв'язок з давачем не встановлено";

// The application state as the connection command leaves it before the sequence: settings,
// channel and the exchange objects on a line to the simulated corrector or a lone sensor.
struct Bench {
  explicit Bench(uint8_t conn_type, uint8_t channel = 0,
                 const CorrectorConfig& config = QuickCorrector())
      : corrector(config, SimLineTiming(), {}),
        direct(channel == 1 ? SensorConfig::Temperature() : SensorConfig::Pressure(),
               SimLineTiming(), {}),
        tap(conn_type == 1 ? static_cast<LineDevice*>(&corrector) : &direct),
        line(clock, &tap) {
    state.clock = &clock;
    state.ui = &ui;
    state.ConnectSettings = SimLinkSettings(conn_type);
    state.Channel = channel;
    // The link as the connection command makes it, on the simulated line.
    const TConnectSettings& s = state.ConnectSettings;
    if (conn_type == 1) {
      state.ActiveCalcBox = MakeCorrectorBox(s, &line);
      state.ActiveCalcBox->clock = &clock;
      state.ActiveCalcBox->ui = &ui;
    }
    state.ActiveModbusBox = MakeSensorBox(s, channel, &line);
    state.ActiveModbusBox->clock = &clock;
    state.ActiveModbusBox->ui = &ui;
  }

  // Shows the dialog and returns once the sequence has ended and closed it.
  TFormSet_Connect& Run() {
    dialog = std::make_unique<TFormSet_Connect>(state);
    dialog->TimerStart->setInterval(1);
    dialog->exec();
    return *dialog;
  }

  // Puts the line into service from another master on the same corrector, as a previous
  // session that was never closed would have left it.
  void LeaveLineInService(uint8_t line_num) {
    VirtualLine other(clock, &corrector);
    calcbox box(1);
    box.port_handle = &other;
    box.clock = &clock;
    QVERIFY(box.EnterService(line_num, 0, 0));
    QCOMPARE(corrector.mode(line_num, clock.Counter()), SimCorrector::Mode::kInService);
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const auto& m : ui.messages) {
      texts.push_back(m.text);
    }
    return texts;
  }

  VirtualClock clock;
  ScriptedHost ui;
  SimCorrector corrector;
  SimDirectSensor direct;
  TapDevice tap;
  VirtualLine line;
  AppState state;
  std::unique_ptr<TFormSet_Connect> dialog;
};

// Types `text` key by key, any characters (QTest::keyClicks takes Latin-1 only).
void TypeText(QWidget* widget, const QString& text) {
  for (const QChar c : text) {
    QTest::sendKeyEvent(QTest::Click, widget, static_cast<Qt::Key>(c.toUpper().unicode()),
                        QString(c), Qt::NoModifier);
  }
}

bool HasColour(const QLabel* label, Qt::GlobalColor colour) {
  return label->palette().color(QPalette::WindowText) == QColor(colour);
}

std::array<QLabel*, 5> States(const TFormSet_Connect& d) {
  return {d.v1, d.v2, d.v3, d.v4, d.v5};
}
std::array<QLabel*, 5> Captions(const TFormSet_Connect& d) {
  return {d.l1, d.l2, d.l3, d.l4, d.l5};
}

// "Виконано" on the steps that succeeded, an empty state on the one that failed, hidden states
// on those never reached.
void ExpectStates(const TFormSet_Connect& d, const std::array<const char*, 5>& expected) {
  const auto states = States(d);
  for (int k = 0; k < 5; ++k) {
    const QString where = QStringLiteral("step %1").arg(k);
    if (expected[k] == nullptr) {
      QVERIFY2(states[k]->isHidden(), qPrintable(where));
    } else {
      QVERIFY2(!states[k]->isHidden(), qPrintable(where));
      QCOMPARE(states[k]->text(), QString::fromUtf8(expected[k]));
      QVERIFY2(HasColour(states[k], Qt::black), qPrintable(where));
    }
  }
}

const char* const kDone = "Виконано";

}  // namespace

class SetConnectTest : public QObject {
  Q_OBJECT

 private slots:
  void controlsCarryTheirNamesAndTexts() {
    Bench bench(1);
    TFormSet_Connect dialog(bench.state);
    QCOMPARE(FormSet_Connect, &dialog);
    QCOMPARE(dialog.windowTitle(), QStringLiteral(" Встановлення зв'язку з давачем"));
    QCOMPARE(Child<QLabel>(&dialog, "Label1")->text(), QStringLiteral("Очікуйте виконання"));
    QCOMPARE(Child<QPushButton>(&dialog, "BitBtn2")->text(), QStringLiteral("Відмінити"));
    auto* timer = Child<QTimer>(&dialog, "TimerStart");
    QVERIFY(timer);
    QCOMPARE(timer->interval(), 100);
    QVERIFY(timer->isSingleShot());
    QVERIFY(!timer->isActive());  // only showing the dialog starts it
    const char* captions[] = {" Встановлення зв'язку з ЛУТАР", "Визначення режиму роботи ЛУТАР",
                              "Запис режиму обслуговуваня ЛУТАР", "Встановлення зв'язку з давачем",
                              "Визначення К наклону і зміщення парам. калібровки"};
    for (int k = 1; k <= 5; ++k) {
      const QByteArray n = QByteArray::number(k);
      auto* panel = Child<QFrame>(&dialog, ("pn" + n).constData());
      auto* caption = Child<QLabel>(&dialog, ("l" + n).constData());
      auto* state = Child<QLabel>(&dialog, ("v" + n).constData());
      QVERIFY(panel && caption && state);
      QVERIFY(panel->isAncestorOf(caption) && panel->isAncestorOf(state));
      QCOMPARE(caption->text(), QString::fromUtf8(captions[k - 1]));
      QVERIFY(HasColour(caption, Qt::black));
      QVERIFY(HasColour(state, Qt::red));
      QCOMPARE(state->text(), QStringLiteral("Виконується"));
      QVERIFY(state->isHidden());
    }
    QVERIFY(!dialog.connected);
    QVERIFY(bench.tap.blocks.empty());
  }

  void directLinkGreysTheCorrectorStepsAndReadsOnlyTheSensor() {
    Bench bench(0);
    bench.direct.sensor().config().offset = 0.5f;
    bench.direct.sensor().config().slope = 1.25f;
    TFormSet_Connect& d = bench.Run();
    QVERIFY(d.connected);
    for (int k = 0; k < 3; ++k) {
      QVERIFY(HasColour(Captions(d)[k], Qt::gray));
    }
    QVERIFY(HasColour(d.l4, Qt::black) && HasColour(d.l5, Qt::black));
    ExpectStates(d, {nullptr, nullptr, nullptr, kDone, kDone});
    // The unit, then the calibration; nothing for a corrector.
    QCOMPARE(bench.tap.blocks.size(), 2u);
    QCOMPARE(bench.tap.ReadsOf(59), 1);
    QCOMPARE(bench.tap.ReadsOf(436), 1);
    QCOMPARE(bench.state.SensorOffset, 0.5f);
    QCOMPARE(bench.state.SensorSlope, 1.25f);
    QCOMPARE(bench.Messages(), std::vector<std::string>{kConnected});
    QVERIFY(bench.ui.questions.empty());
  }

  void throughTheCorrectorEveryStepRunsAndTheLineEndsInService() {
    Bench bench(1, 1);
    bench.corrector.sensor(1, 1).config().offset = -0.25f;
    TFormSet_Connect& d = bench.Run();
    QVERIFY(d.connected);
    ExpectStates(d, {kDone, kDone, kDone, kDone, kDone});
    for (QLabel* caption : Captions(d)) {
      QVERIFY(HasColour(caption, Qt::black));
    }
    QCOMPARE(bench.corrector.mode(1, bench.clock.Counter()), SimCorrector::Mode::kInService);
    QCOMPARE(bench.corrector.channel(1), 1);
    QCOMPARE(bench.state.SensorOffset, -0.25f);
    QCOMPARE(bench.state.SensorSlope, 1.0f);
    // No constants password demanded: the short enter-service request, no password dialog.
    const auto enter = bench.tap.CorrectorRequests(16);
    QCOMPARE(enter.size(), 1u);
    QCOMPARE(enter[0].size(), 29u);
    QCOMPARE(bench.Messages(), std::vector<std::string>{kConnected});
  }

  void stepsShowWhileTheyRun() {
    Bench bench(1);
    bool seen = false;
    bench.ui.on_process = [&] {
      TFormSet_Connect* d = FormSet_Connect;
      if (seen || d == nullptr || d->v4->isHidden())
        return;
      seen = true;
      QVERIFY(HasColour(d->l4, Qt::red));
      QVERIFY(HasColour(d->v4, Qt::red));
      QCOMPARE(d->v4->text(), QStringLiteral("Виконується"));
      QVERIFY(d->v5->isHidden());
      QVERIFY(HasColour(d->l3, Qt::black));
      QCOMPARE(d->v3->text(), QStringLiteral("Виконано"));
    };
    QVERIFY(bench.Run().connected);
    QVERIFY(seen);
  }

  void correctorModelAndSoftwareCheck_data() {
    QTest::addColumn<int>("plate");
    QTest::addColumn<int>("software");
    QTest::addColumn<bool>("passes");
    QTest::newRow("plate 26") << 26 << 37 << true;
    QTest::newRow("plate 28") << 28 << 37 << true;
    QTest::newRow("plate 29") << 29 << 37 << true;
    QTest::newRow("plate 27") << 27 << 37 << false;
    QTest::newRow("software 36") << 26 << 36 << false;
    QTest::newRow("software 38") << 29 << 38 << false;
  }
  void correctorModelAndSoftwareCheck() {
    QFETCH(int, plate);
    QFETCH(int, software);
    QFETCH(bool, passes);
    CorrectorConfig config = QuickCorrector();
    config.plate = static_cast<uint8_t>(plate);
    config.sw_version = static_cast<uint8_t>(software);
    Bench bench(1, 0, config);
    TFormSet_Connect& d = bench.Run();
    QCOMPARE(d.connected, passes);
    if (passes) {
      QCOMPARE(d.v1->text(), QStringLiteral("Виконано"));
      QCOMPARE(bench.Messages(), std::vector<std::string>{kConnected});
      return;
    }
    ExpectStates(d, {"", nullptr, nullptr, nullptr, nullptr});
    const std::string check = "Коректор: Plate = " + std::to_string(plate) +
                              "; Версія ПО = " + std::to_string(software) +
                              ".\rЦе не відповідає умовам: Plate = 26, 28, 29; ПО = 37";
    QCOMPARE(bench.Messages(), (std::vector<std::string>{check, kNotConnected}));
    QCOMPARE(bench.ui.messages[0].caption, std::string());
    QCOMPARE(bench.tap.blocks.size(), 1u);  // the identification only
  }

  void lineLeftInServiceIsTakenOutOnYesAndPutBack() {
    Bench bench(1);
    bench.LeaveLineInService(1);
    bench.ui.answers = {true};
    TFormSet_Connect& d = bench.Run();
    QVERIFY(d.connected);
    QCOMPARE(bench.ui.questions.size(), 1u);
    QCOMPARE(bench.ui.questions[0].line1, std::string("Коректор в режимі обслуговування."));
    QCOMPARE(bench.ui.questions[0].line2, std::optional<std::string>("Зняти з обслуговування?"));
    QVERIFY(!bench.ui.questions[0].line3);
    QCOMPARE(bench.tap.CorrectorRequests(17).size(), 1u);
    QCOMPARE(bench.tap.CorrectorRequests(16).size(), 1u);
    QCOMPARE(bench.corrector.mode(1, bench.clock.Counter()), SimCorrector::Mode::kInService);
    ExpectStates(d, {kDone, kDone, kDone, kDone, kDone});
  }

  void lineLeftInServiceEndsTheSequenceOnNo() {
    Bench bench(1);
    bench.LeaveLineInService(1);
    bench.ui.answers = {false};
    TFormSet_Connect& d = bench.Run();
    QVERIFY(!d.connected);
    ExpectStates(d, {kDone, "", nullptr, nullptr, nullptr});
    QVERIFY(bench.tap.CorrectorRequests(17).empty());
    QVERIFY(bench.tap.CorrectorRequests(16).empty());
    QCOMPARE(bench.Messages(), std::vector<std::string>{kNotConnected});
  }

  void demandedPasswordIsAskedForAndSentInTheLongRequest() {
    const QString typed = QStringLiteral("Ключ-7");
    std::array<uint8_t, 16> expected;
    expected.fill(' ');
    const std::string bytes = Utf8ToCp1251(typed.toStdString());
    std::copy(bytes.begin(), bytes.end(), expected.begin());
    CorrectorConfig config = QuickCorrector();
    config.password_demand = true;
    config.const_password = expected;  // the corrector refuses any other
    Bench bench(1, 0, config);
    bool asked = false;
    OnNextModal<TFormConstPass>([&](TFormConstPass* pass) {
      asked = true;
      TypeText(pass->Edit1, typed);
      TypeText(pass->Edit2, typed);
      QTest::mouseClick(pass->BitBtn1, Qt::LeftButton);
    });
    TFormSet_Connect& d = bench.Run();
    QVERIFY(asked);
    QVERIFY(d.connected);
    const auto enter = bench.tap.CorrectorRequests(16);
    QCOMPARE(enter.size(), 1u);
    QCOMPARE(enter[0].size(), 46u);
    QVERIFY(std::equal(expected.begin(), expected.end(), enter[0].begin() + 22));
  }

  void cancelledPasswordFailsTheStepWithoutARequest() {
    CorrectorConfig config = QuickCorrector();
    config.password_demand = true;
    Bench bench(1, 0, config);
    bool asked = false;
    OnNextModal<TFormConstPass>([&](TFormConstPass* pass) {
      asked = true;
      QTest::mouseClick(pass->BitBtn2, Qt::LeftButton);
    });
    TFormSet_Connect& d = bench.Run();
    QVERIFY(asked);
    QVERIFY(!d.connected);
    ExpectStates(d, {kDone, kDone, "", nullptr, nullptr});
    QVERIFY(bench.tap.CorrectorRequests(16).empty());
    QCOMPARE(bench.corrector.mode(1, bench.clock.Counter()), SimCorrector::Mode::kNormal);
    QCOMPARE(bench.Messages(), std::vector<std::string>{kNotConnected});
  }

  void wrongSensorUnitFailsStepThreeAndSkipsTheCalibration() {
    Bench bench(1, 1);
    bench.corrector.sensor(1, 1).config().unit_code = kUnitKilopascal;  // pressure sensor
    TFormSet_Connect& d = bench.Run();
    QVERIFY(!d.connected);
    ExpectStates(d, {kDone, kDone, kDone, "", nullptr});
    QCOMPARE(bench.tap.ReadsOf(59), 1);
    QCOMPARE(bench.tap.ReadsOf(436), 0);
    QCOMPARE(bench.Messages(),
             (std::vector<std::string>{"Очікуваний код одиниці виміру 32\rПрочитано у давачі 12",
                                       kNotConnected}));
  }

  void cancelAnsweredNoChangesNothing() {
    Bench bench(1);
    bench.ui.on_process = [&] {
      if (bench.ui.questions.empty() && FormSet_Connect && bench.tap.blocks.size() == 1)
        QTest::mouseClick(FormSet_Connect->BitBtn2, Qt::LeftButton);
    };
    bench.ui.answers = {false};
    TFormSet_Connect& d = bench.Run();
    QCOMPARE(bench.ui.questions.size(), 1u);
    QCOMPARE(bench.ui.questions[0].line1, std::string("Ви впевнені, що хочете"));
    QCOMPARE(bench.ui.questions[0].line2,
             std::optional<std::string>("відмінити встановлення зв'язку?"));
    QVERIFY(!bench.ui.questions[0].line3);
    QVERIFY(d.connected);
    QVERIFY(!bench.state.ActiveCalcBox->abort_requested);
    QVERIFY(!bench.state.ActiveModbusBox->abort_requested);
  }

  void cancelDuringAnExchangeEndsWithoutARetryQuestion_data() {
    QTest::addColumn<int>("conn_type");
    QTest::addColumn<bool>("escape");
    QTest::newRow("corrector, button") << 1 << false;
    QTest::newRow("corrector, Esc") << 1 << true;
    QTest::newRow("sensor, button") << 0 << false;
  }
  void cancelDuringAnExchangeEndsWithoutARetryQuestion() {
    QFETCH(int, conn_type);
    QFETCH(bool, escape);
    Bench bench(static_cast<uint8_t>(conn_type));
    // Pressed while the first request waits for its reply.
    bench.ui.on_process = [&] {
      if (!bench.ui.questions.empty() || bench.tap.blocks.empty())
        return;
      Dismiss(FormSet_Connect, FormSet_Connect->BitBtn2, escape);
    };
    bench.ui.answers = {true};
    TFormSet_Connect& d = bench.Run();
    QVERIFY(!d.connected);
    QCOMPARE(bench.ui.questions.size(), 1u);  // the cancel question only
    QCOMPARE(bench.Messages(), std::vector<std::string>{kNotConnected});
    QCOMPARE(bench.tap.blocks.size(), 1u);
    if (conn_type == 1) {
      ExpectStates(d, {"", nullptr, nullptr, nullptr, nullptr});
      QCOMPARE(bench.state.ActiveCalcBox->error_code, calcbox::kErrorAborted);
      // The sensor's object was idle: its flag waits for its next exchange.
      QVERIFY(bench.state.ActiveModbusBox->abort_requested);
    } else {
      ExpectStates(d, {nullptr, nullptr, nullptr, "", nullptr});
      QCOMPARE(bench.state.ActiveModbusBox->error_code, modbusbox::kErrorAborted);
    }
  }

  void cancelAfterTheServiceEntryWasAcceptedTakesTheLineOutAgain() {
    Bench bench(1);
    bool clicked = false;
    // Pressed while the sequence polls for the line's service state.
    bench.ui.on_process = [&] {
      if (!clicked && bench.tap.CorrectorRequests(16).size() == 1 &&
          bench.tap.CorrectorRequests(8).size() >= 2) {
        clicked = true;
        QTest::mouseClick(FormSet_Connect->BitBtn2, Qt::LeftButton);
      }
    };
    bench.ui.answers = {true};
    TFormSet_Connect& d = bench.Run();
    QVERIFY(clicked);
    QVERIFY(!d.connected);
    QCOMPARE(bench.tap.CorrectorRequests(17).size(), 1u);
    QCOMPARE(bench.ui.questions.size(), 1u);  // the cancel question only
    QCOMPARE(bench.Messages(),
             (std::vector<std::string>{
                 "Встановлення зв'язку відмінено.\rНитку знято з обслуговування", kNotConnected}));
    QCOMPARE(bench.state.ActiveCalcBox->service_state, calcbox::kStateNormal);
  }

  void closeBoxDuringTheSequenceWaitsForItsEnd() {
    Bench bench(1);
    bool refused = false;
    bench.ui.on_process = [&] {
      if (!refused && bench.tap.blocks.size() == 1) {
        refused = !FormSet_Connect->close();
        QVERIFY(FormSet_Connect->isVisible());
      }
    };
    TFormSet_Connect& d = bench.Run();
    QVERIFY(refused);
    QVERIFY(d.connected);
    QVERIFY(!d.isVisible());
    ExpectStates(d, {kDone, kDone, kDone, kDone, kDone});
  }

  void closedBeforeTheStartNothingIsSent() {
    Bench bench(1);
    TFormSet_Connect dialog(bench.state);
    QTimer::singleShot(0, &dialog, [&] { dialog.close(); });
    dialog.exec();
    QVERIFY(!dialog.connected);
    QVERIFY(!dialog.TimerStart->isActive());
    QVERIFY(bench.tap.blocks.empty());
    QVERIFY(bench.ui.messages.empty());
  }
};

QTEST_MAIN(SetConnectTest)
#include "set_connect_test.moc"

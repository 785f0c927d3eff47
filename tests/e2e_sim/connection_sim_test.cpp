// The connection command end to end against vorlix-sim through the real serial layer: the
// settings the engineer accepts reach the settings file, the corrector's line goes into service
// and out again, and a sensor that falls silent mid-sequence leaves no link behind.

#include <QFile>
#include <QSettings>
#include <QtTest>
#include <csignal>

#include "gui/connection/access_codes.h"
#include "gui/measurement/ask_val.h"
#include "gui/measurement/check_val.h"
#include "gui/measurement/correct_nshp.h"
#include "gui/termination.h"
#include "tests/e2e_sim/sim_app.h"

using namespace e2e_sim;

namespace {

const char kConnected[] = "Зв'язок з давачем встановлено";
const char kNotConnected[] = "Зв'язок з давачем не встановлено";
const char kInService[] = "Коректор в режимі обслуговування.";
const char kLeaveService[] = "Зняти з обслуговування?";

bool IsServiceQuestion(const ScriptedHost::Question& q) {
  return q.line1 == kInService && q.line2 == std::optional<std::string>(kLeaveService) && !q.line3;
}

// The state of `line` as the simulated corrector reports it to a link of the test's own.
int LineStateAtTheSimulator(SimApp& app, uint8_t line) {
  OwnLink own;
  std::string error;
  if (!own.Open(app, error))
    return -1;
  calcbox corrector = own.Corrector();
  return corrector.ReadImitation(line) ? corrector.service_state : -1;
}

// SIGTERM answered as the program answers it.
void AnswerTerminationAsTheProgramDoes(SimApp& app) {
  TFormMain* window = app.window.get();
  OnTerminationRequest(window, [window] { window->RequestTermination(); });
}

// Raises SIGTERM from inside an exchange once `ready` holds; the exchanges process events as
// the real user interface does, so the signal is handled in the middle of them.
void RaiseWhen(SimApp& app, bool& raised, std::function<bool()> ready) {
  app.ui.on_process = [&raised, ready = std::move(ready)] {
    if (!raised && ready()) {
      raised = true;
      std::raise(SIGTERM);
    }
    QCoreApplication::processEvents();
  };
}

template <typename T>
T* Modal() {
  return qobject_cast<T*>(QApplication::activeModalWidget());
}

// After SIGTERM: the window has closed by itself without a question, the link is down and the
// corrector's line is out of service.
void ExpectCleanEnd(SimApp& app) {
  QTRY_VERIFY_WITH_TIMEOUT(!app.window->isVisible(), 10000);
  QVERIFY(app.LinkDown());
  for (const auto& q : app.ui.questions)
    QVERIFY(!IsServiceQuestion(q));
  QCOMPARE(LineStateAtTheSimulator(app, 1), int{calcbox::kStateNormal});
  QVERIFY(!app.watchdog.fired());
}

}  // namespace

class ConnectionSimTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { UseFullStopDecimalSeparator(); }

  void throughTheCorrectorSavesTheSettingsAndLeavesServiceOnClose() {
    SimApp app;
    QVERIFY2(app.Start({"--offset", "0.25", "--slope", "1.5"}), app.sim.error_text().c_str());

    LinkChoice choice;
    choice.conn_type = 1;
    choice.line = 2;
    app.Connect(app.window->N2, choice);  // temperature, sensor 102 behind line 2
    QVERIFY(app.connect_refusals.empty());
    QVERIFY(app.Said(kConnected));
    QVERIFY(app.window->Nval->isEnabled() && app.window->Nclb->isEnabled());
    QVERIFY(app.ui.questions.empty());
    QCOMPARE(app.state().ActiveCalcBox->service_state, calcbox::kStateService);
    // The calibration came through the corrector's relay from the sensor of line 2.
    QCOMPARE(app.state().SensorOffset, 0.25f);
    QCOMPARE(app.state().SensorSlope, 1.5f);

    // The accepted settings are on disk; the user code never is.
    QSettings ini(QString::fromStdString(app.state().IniPath), QSettings::IniFormat);
    QCOMPARE(ini.value("CURR_CONNECT_PAR/port").toInt(), kPort);
    QCOMPARE(ini.value("CURR_CONNECT_PAR/conn_type").toInt(), 1);
    QCOMPARE(ini.value("CURR_CONNECT_PAR/rate").toInt(), kRate);
    QCOMPARE(ini.value("CURR_CONNECT_PAR/wait_time").toInt(), 300);
    QCOMPARE(ini.value("LUTAR_CONNECT_PAR/line_num").toInt(), 2);
    QFile file(QString::fromStdString(app.state().IniPath));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(!file.readAll().contains("1234"));

    // Closing asks to take the line out of service; yes does it before the port goes.
    app.ui.answers = {true};
    QVERIFY(app.window->close());
    QCOMPARE(app.ui.questions.size(), size_t{1});
    QVERIFY(IsServiceQuestion(app.ui.questions[0]));
    QVERIFY(app.LinkDown());
    QVERIFY(app.ui.messages.size() == 1);  // nothing went wrong on the way down

    OwnLink own;
    std::string error;
    QVERIFY2(own.Open(app, error), error.c_str());
    calcbox corrector = own.Corrector();
    QVERIFY2(corrector.ReadImitation(2), corrector.ErrorText().c_str());
    QCOMPARE(corrector.service_state, calcbox::kStateNormal);
    // Out of service the corrector relays nothing to the sensor.
    modbusbox sensor = own.Sensor(102);
    sensor.first_byte_timeout = 300;
    QVERIFY(!sensor.ReadRegisters(400, 2));
    QCOMPARE(sensor.error_code, modbusbox::kErrorNoReply);
    QVERIFY(!app.watchdog.fired());
  }

  void directlySavesTheDirectTypeAndClosesWithoutAQuestion() {
    SimApp app;
    QVERIFY2(app.Start({"--connection", "direct", "--pressure", "99.5"}),
             app.sim.error_text().c_str());

    LinkChoice choice;
    choice.conn_type = 0;
    app.Connect(app.window->N1, choice);
    QVERIFY(app.connect_refusals.empty());
    QVERIFY(app.Said(kConnected));
    QVERIFY(!app.state().ActiveCalcBox);
    QVERIFY(app.window->Nval->isEnabled());

    QSettings ini(QString::fromStdString(app.state().IniPath), QSettings::IniFormat);
    QCOMPARE(ini.value("CURR_CONNECT_PAR/port").toInt(), kPort);
    QCOMPARE(ini.value("CURR_CONNECT_PAR/conn_type").toInt(), 0);

    QVERIFY(app.window->close());
    QVERIFY(app.ui.questions.empty());
    QVERIFY(app.LinkDown());

    // The port is free again and the sensor still there.
    OwnLink own;
    std::string error;
    QVERIFY2(own.Open(app, error), error.c_str());
    modbusbox sensor = own.Sensor(101);
    QVERIFY2(sensor.ReadRegisters(400, 2), sensor.ErrorText().c_str());
    QCOMPARE(RegistersToFloat(sensor.values[0], sensor.values[1]), 99.5f);
    QVERIFY(!app.watchdog.fired());
  }

  void sensorFallingSilentEndsTheSequenceWithoutALink() {
    SimApp app;
    QVERIFY2(app.Start({"--fault-target", "sensor", "--fault-silence"}),
             app.sim.error_text().c_str());

    // Retry the unit read once, then give up; then keep the line in service.
    app.ui.answers = {true, false, false};
    LinkChoice choice;
    choice.conn_type = 1;
    app.Connect(app.window->N1, choice);

    QCOMPARE(app.ui.questions.size(), size_t{3});
    for (int i : {0, 1}) {
      const ScriptedHost::Question& q = app.ui.questions[static_cast<size_t>(i)];
      QCOMPARE(Q(q.line1), QStringLiteral("Читання одиниці виміру давача:"));
      QCOMPARE(Q(q.line2.value_or("")), QStringLiteral("Команда 3. Пристрій не відповідає"));
      QCOMPARE(Q(q.line3.value_or("")), QStringLiteral("Повторити спробу?"));
    }
    // The sequence had put the line into service, so taking the link down asks about it.
    QVERIFY(IsServiceQuestion(app.ui.questions[2]));
    QVERIFY(app.Said(kNotConnected));
    QVERIFY(!app.Said(kConnected));
    QVERIFY(app.LinkDown());

    // "Ні" left the line in service, and the port was closed all the same.
    OwnLink own;
    std::string error;
    QVERIFY2(own.Open(app, error), error.c_str());
    calcbox corrector = own.Corrector();
    QVERIFY2(corrector.ReadImitation(1), corrector.ErrorText().c_str());
    QCOMPARE(corrector.service_state, calcbox::kStateService);
    QVERIFY(!app.watchdog.fired());
  }

  // Taking the line out of service is an exchange of its own: while its poll runs, every
  // command that would start another one, or take the link down twice, does nothing; a close
  // asked for meanwhile follows the poll.
  void commandsDuringTheLeaveServicePollStartNothing() {
    SimApp app;
    QVERIFY2(app.Start({"--service-delay", "600"}), app.sim.error_text().c_str());
    app.Connect(app.window->N1, LinkChoice{});
    QVERIFY(app.Said(kConnected));

    TFormMain& w = *app.window;
    int connect_dialogs = 0;
    w.run_connect_dialog = [&] {
      ++connect_dialogs;
      return false;
    };
    bool pressed = false;
    app.ui.on_process = [&] {
      if (pressed || !app.state().ActiveCalcBox || app.ui.questions.empty())
        return;
      pressed = true;
      for (QAction* a : {w.N1, w.N2, w.Nval, w.Nclb, w.Nexit})
        a->trigger();
      w.NvalClick();
      w.NclbClick();
      w.CloseConnection();
      w.close();
    };
    app.ui.answers = {true};
    w.N2->trigger();  // a new connection: first the old link goes down

    QVERIFY(pressed);
    QCOMPARE(app.ui.questions.size(), size_t{1});
    // The close asked for meanwhile ends the program instead of the new connection.
    QCOMPARE(connect_dialogs, 0);
    QCOMPARE(app.ui.messages.size(), size_t{1});  // the poll ended without a complaint
    QVERIFY(app.LinkDown());
    QTRY_VERIFY(!w.isVisible());  // the close asked for during the poll
    QCOMPARE(LineStateAtTheSimulator(app, 1), int{calcbox::kStateNormal});
  }

  // SIGTERM in the middle of the connection sequence, the monitor or the statistics.
  void terminationEndsCleanly_data() {
    QTest::addColumn<int>("during");
    QTest::newRow("connection sequence") << 0;
    QTest::newRow("monitor") << 1;
    QTest::newRow("statistics") << 2;
  }
  void terminationEndsCleanly() {
    QFETCH(int, during);
    SimApp app;
    QVERIFY2(app.Start({}), app.sim.error_text().c_str());
    if (during != 0) {
      app.Connect(app.window->N1, LinkChoice{});
      QVERIFY(app.Said(kConnected));
      app.AcceptDisplaySettings(50);
    }
    AnswerTerminationAsTheProgramDoes(app);
    bool raised = false;
    RaiseWhen(app, raised, [&] {
      if (during == 1)
        return Modal<TFormCheck_Val>() && Modal<TFormCheck_Val>()->count() >= 2;
      if (during == 2)
        return Modal<TFormAsk_Val>() && Modal<TFormAsk_Val>()->statistics().pos() >= 2;
      calcbox* box = app.state().ActiveCalcBox.get();
      return box && box->service_state == calcbox::kStateService;
    });
    if (during == 0) {
      app.Connect(app.window->N1, LinkChoice{});
    } else if (during == 1) {
      app.window->Nval->trigger();
    } else {
      OnNextModal<TFormCorrect_NSHP>(
          [](TFormCorrect_NSHP* d) { QTest::mouseClick(d->BitBtn1, Qt::LeftButton); });
      app.window->Nclb->trigger();
    }
    QVERIFY(raised);
    ExpectCleanEnd(app);
  }

  // A refused user code is asked for again, the old one offered, and the new one is sent.
  void refusedUserCodeIsAskedForAgain() {
    SimApp app;
    QVERIFY2(app.Start({"--user-code", "4321"}), app.sim.error_text().c_str());
    QString offered;
    bool password_asked = true;
    OnNextModal<TFormAccessCodes>(
        [&](TFormAccessCodes* d) {
          offered = d->Edit2->text();
          password_asked = d->Edit1->isVisible();
          d->Edit2->setText(QStringLiteral("4321"));
          QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
        },
        20000);
    app.ui.answers = {true};
    app.Connect(app.window->N1, LinkChoice{});  // types 1234
    QCOMPARE(app.ui.questions.size(), size_t{1});
    QCOMPARE(Q(app.ui.questions[0].line2.value_or("")),
             QStringLiteral("Користувач не зареєстрований або неправильний пароль"));
    QCOMPARE(offered, QStringLiteral("1234"));
    QVERIFY(!password_asked);
    QVERIFY(app.Said(kConnected));
    QVERIFY(!app.watchdog.fired());
  }
};

QTEST_MAIN(ConnectionSimTest)
#include "connection_sim_test.moc"

// The values and calibration commands end to end against a sensor wired straight to the port,
// simulated by vorlix-sim: what the monitor shows is what the sensor computes, a calibration
// lands in the sensor's registers exactly as the results dialog showed it, and a refused write
// is asked about again.

#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QtTest>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "core/calibration_journal.h"
#include "gui/measurement/ask_val.h"
#include "gui/measurement/check_val.h"
#include "gui/measurement/correct_nshp.h"
#include "gui/measurement/correct_set.h"
#include "tests/e2e_sim/sim_app.h"

using namespace e2e_sim;

namespace {

const char kWritten[] = "Параметри записані";

// What the monitor showed when the test closed it.
struct MonitorView {
  bool opened = false;
  bool grew = false;  // the counter went on over several intervals
  int interval = 0;
  int count = 0;
  QString counter, slope, offset, value, factory_value;
};

// The values command with the display settings accepted at `interval` ms; the monitor is
// watched until at least `readings` more readings came in after the first.
MonitorView RunMonitor(SimApp& app, int interval, int readings) {
  MonitorView view;
  app.AcceptDisplaySettings(interval);
  OnNextModal<TFormCheck_Val>([&view, readings](TFormCheck_Val* d) {
    view.opened = true;
    view.interval = d->Timer1->interval();
    if (QTest::qWaitFor([d] { return d->count() >= 1; }, 5000)) {
      const int first = d->count();
      view.grew = QTest::qWaitFor([&] { return d->count() >= first + readings; }, 5000);
    }
    view.count = d->count();
    view.counter = d->StatusBar1Panel1->text();
    view.slope = d->Panel3->text();
    view.offset = d->Panel4->text();
    view.value = d->Panel5->text();
    view.factory_value = d->Panel6->text();
    QTest::mouseClick(d->BitBtn5, Qt::LeftButton);
  });
  app.window->Nval->trigger();
  return view;
}

// The bits of the 32-bit number an edit's text stands for, read as the application reads it.
uint32_t BitsOf(const QString& text) {
  return std::bit_cast<uint32_t>(static_cast<float>(text.toDouble()));
}

// QCOMPARE on floats forgives the last bits; what goes to the sensor must not differ in any.
uint32_t Bits(float value) {
  return std::bit_cast<uint32_t>(value);
}

// The sensor's offset and slope and its measured value, read by the test over the port once the
// application has closed it.
struct SensorReadBack {
  bool ok = false;
  float offset = 0, slope = 0, value = 0;
  std::string error;
};

SensorReadBack ReadSensor(SimApp& app) {
  SensorReadBack r;
  OwnLink own;
  if (!own.Open(app, r.error))
    return r;
  modbusbox sensor = own.Sensor(101);
  if (!sensor.ReadCalibration(r.offset, r.slope) || !sensor.ReadRegisters(400, 2)) {
    r.error = sensor.ErrorText();
    return r;
  }
  r.value = RegistersToFloat(sensor.values[0], sensor.values[1]);
  r.ok = true;
  return r;
}

LinkChoice Direct() {
  LinkChoice choice;
  choice.conn_type = 0;
  return choice;
}

}  // namespace

class MeasurementSimTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { UseFullStopDecimalSeparator(); }

  void monitorShowsTheSensorValueAndItsFactoryEquivalent() {
    SimApp app;
    // The sensor reports 100 × 2 + 0.5.
    QVERIFY2(app.Start({"--connection", "direct", "--pressure", "100", "--slope", "2", "--offset",
                        "0.5"}),
             app.sim.error_text().c_str());
    app.Connect(app.window->N1, Direct());
    QVERIFY(app.window->Nval->isEnabled());

    const MonitorView view = RunMonitor(app, 100, 3);
    QVERIFY(view.opened);
    QVERIFY2(view.grew, qPrintable(QStringLiteral("readings: %1").arg(view.count)));
    QCOMPARE(view.interval, 100);
    QCOMPARE(view.counter, QStringLiteral(" %1").arg(view.count));
    QCOMPARE(view.slope, QStringLiteral("2.00000"));
    QCOMPARE(view.offset, QStringLiteral("0.50000"));
    QCOMPARE(view.value, QStringLiteral("200.50"));
    QCOMPARE(view.factory_value, QStringLiteral("100.00"));
    // The monitor leaves the link up.
    QVERIFY(app.window->Nval->isEnabled());
    QVERIFY(app.ui.questions.empty());
    QVERIFY(!app.watchdog.fired());
  }

  // The log of the monitor read back by Python's csv module with the decimal comma, as a
  // spreadsheet with a comma locale reads it: every row there, the Cyrillic intact, and the
  // readings lost with the link said so in their rows.
  void monitorLogReadsBackInASpreadsheetReaderAndSaysWhenTheLinkIsLost() {
    SimApp app;
    QVERIFY2(app.Start({"--connection", "direct", "--pressure", "101.325", "--noise", "0.01"}),
             app.sim.error_text().c_str());
    app.Connect(app.window->N1, Direct());
    const QString path =
        QDir(QString::fromStdString(app.Folder())).filePath(QStringLiteral("покази тиску.csv"));
    int logged_good = -1;
    bool first_came = false;
    bool enough_came = false;
    bool lost_said = false;
    app.AcceptDisplaySettings(50);
    OnNextModal<TFormCheck_Val>([&](TFormCheck_Val* d) {
      d->log_decimal_mark = QLatin1Char(',');
      d->choose_log_file = [&](const QString&) { return path; };
      first_came = QTest::qWaitFor([d] { return d->count() >= 1; }, 5000);
      QTest::mouseClick(d->BitBtn7, Qt::LeftButton);
      const int before = d->count();
      enough_came = QTest::qWaitFor([&] { return d->count() >= before + 20; }, 5000);
      app.sim.Stop(SIGKILL);  // the link goes
      lost_said = QTest::qWaitFor([d] { return !d->StatusBar1Panel0->text().isEmpty(); }, 5000);
      const int after = d->count();
      logged_good = after - before;
      QTest::qWait(300);
      QTest::mouseClick(d->BitBtn5, Qt::LeftButton);
    });
    app.window->Nval->trigger();
    QVERIFY(first_came && enough_came && lost_said);
    QVERIFY(logged_good >= 20);

    const char* script = R"(
import csv, sys
with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:
    rows = list(csv.reader(f, delimiter=';'))
assert rows[0] == ['Дата і час', 'Секунди від початку', 'Значення у давачі',
                   'За налаштуванням виробника', 'Одиниця', 'Канал', 'Помилка'], rows[0]
good = failed = 0
for r in rows[1:]:
    assert len(r) == 7 and r[4] == 'кПа' and r[5] == 'Тиск', r
    float(r[1].replace(',', '.'))
    if r[6]:
        assert r[2] == '' and r[3] == '', r
        failed += 1
    else:
        assert abs(float(r[2].replace(',', '.')) - 101.325) < 0.02, r
        good += 1
print(good, failed)
)";
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"), QString::fromUtf8(script), path});
    QVERIFY(python.waitForFinished(20000));
    QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
    const QStringList counts = QString::fromUtf8(python.readAllStandardOutput()).split(' ');
    QCOMPARE(counts.size(), 2);
    QCOMPARE(counts[0].toInt(), logged_good);
    QVERIFY(counts[1].trimmed().toInt() >= 1);
  }

  void twoPointCalibrationLandsInTheSensorThenTheFactorySetting() {
    SimApp app;
    // Raw 100 kPa reported as 100 × 1.25 − 2 = 123.
    QVERIFY2(app.Start({"--connection", "direct", "--pressure", "100", "--slope", "1.25",
                        "--offset", "-2", "--noise", "0"}),
             app.sim.error_text().c_str());
    app.Connect(app.window->N1, Direct());
    QVERIFY(app.window->Nclb->isEnabled());

    // Point 1: 120 applied, the reading averaged by statistics. Point 2: 200 applied, 205
    // typed as received.
    bool statistics_opened = false;
    bool statistics_filled = false;
    QString average, received1, shown_slope, shown_offset, current_slope, current_offset;
    app.AcceptDisplaySettings(50);
    OnNextModal<TFormCorrect_NSHP>([&](TFormCorrect_NSHP* d) {
      OnNextModal<TFormAsk_Val>([&](TFormAsk_Val* a) {
        statistics_opened = true;
        statistics_filled = QTest::qWaitFor([a] { return a->statistics().pos() >= 3; }, 5000);
        average = a->Panel3->text();
        app.ui.answers = {true};  // three readings of ten: asked first
        QTest::mouseClick(a->BitBtn1, Qt::LeftButton);
      });
      QTest::keyClicks(d->Edit1, QStringLiteral("120"));
      QTest::mouseClick(d->BitBtn1, Qt::LeftButton);  // statistics of point 1
      received1 = d->Edit3->text();
      QTest::keyClicks(d->Edit2, QStringLiteral("200"));
      QTest::keyClicks(d->Edit4, QStringLiteral("205"));
      OnNextModal<TFormCorrect_Set>([&](TFormCorrect_Set* s) {
        current_slope = s->Panel5->text();
        current_offset = s->Panel6->text();
        shown_slope = s->Edit1->text();
        shown_offset = s->Edit2->text();
        app.ui.answers = {true};  // the slope of 1.22 is doubtful: written all the same
        QTest::mouseClick(s->BitBtn1, Qt::LeftButton);
      });
      QTest::mouseClick(d->BitBtn4, Qt::LeftButton);
      if (d->isVisible())
        d->reject();
    });
    app.window->Nclb->trigger();

    QVERIFY(statistics_opened && statistics_filled);
    QCOMPARE(average, QStringLiteral("123.00"));
    QCOMPARE(received1, QStringLiteral("123.00"));
    QCOMPARE(current_slope, QStringLiteral("1.25000"));
    QCOMPARE(current_offset, QStringLiteral("-2.00000"));
    // S = 1.25 × (200 − 120) / (205 − 123); O = 120 − (S / 1.25) × (123 + 2).
    QCOMPARE(shown_slope, QStringLiteral("1.21951"));
    QCOMPARE(shown_offset, QStringLiteral("-1.95122"));
    QVERIFY(app.Said(kWritten));
    // Too few readings, the doubt, the check at the point, the certificate.
    QCOMPARE(app.ui.questions.size(), size_t{4});
    QCOMPARE(Q(app.ui.questions[0].line1), QStringLiteral("Набрано замало вимірювань."));
    QVERIFY(app.ui.questions[1].cautious);
    QCOMPARE(Q(app.ui.questions[2].line2.value_or("")),
             QStringLiteral("Перевірити показ давача у поданій зараз точці?"));
    app.ui.questions.clear();

    // The journal keeps what the sensor held before, bit for bit, and what it took.
    const std::vector<JournalRecord> journal = ReadJournal(JournalPath(app.Folder()));
    QCOMPARE(journal.size(), size_t{1});
    QVERIFY(journal[0].as_found->SameBits({-2.0f, 1.25f}));
    QCOMPARE(journal[0].outcome, JournalOutcome::kWritten);
    QVERIFY(journal[0].read_back_matches.value_or(false));
    QVERIFY(journal[0].written->SameBits(
        {std::bit_cast<float>(BitsOf(shown_offset)), std::bit_cast<float>(BitsOf(shown_slope))}));

    // The next values command reads the registers back: exactly what the edits showed. And the
    // sensor, applying them, now reports the applied value for raw 100.
    const MonitorView after = RunMonitor(app, 50, 1);
    QVERIFY(after.opened && after.grew);
    QCOMPARE(Bits(app.state().SensorSlope), BitsOf(shown_slope));
    QCOMPARE(Bits(app.state().SensorOffset), BitsOf(shown_offset));
    QCOMPARE(after.slope, shown_slope);
    QCOMPARE(after.offset, shown_offset);
    QCOMPARE(after.value, QStringLiteral("120.00"));
    QCOMPARE(after.factory_value, QStringLiteral("100.00"));

    // Back to the factory calibration: no points needed, no results dialog.
    app.ui.answers = {true};
    app.AcceptDisplaySettings(50);
    OnNextModal<TFormCorrect_NSHP>(
        [](TFormCorrect_NSHP* d) { QTest::mouseClick(d->BitBtn7, Qt::LeftButton); });
    app.window->Nclb->trigger();
    QCOMPARE(app.ui.questions.size(), size_t{2});  // the second offers the certificate
    QCOMPARE(Q(app.ui.questions[0].line2.value_or("")),
             QStringLiteral("повернутися до налаштування виробника?"));
    QCOMPARE(std::count_if(app.ui.messages.begin(), app.ui.messages.end(),
                           [](const auto& m) { return m.text == kWritten; }),
             2);

    QVERIFY(app.window->close());
    const SensorReadBack sensor = ReadSensor(app);
    QVERIFY2(sensor.ok, sensor.error.c_str());
    QCOMPARE(Bits(sensor.offset), Bits(0.0f));
    QCOMPARE(Bits(sensor.slope), Bits(1.0f));
    QCOMPARE(sensor.value, 100.0f);
    QVERIFY(!app.watchdog.fired());
  }

  void checkAfterTheWriteIsASettledMeanKeptAfterTheWritesOwnRecord() {
    SimApp app;
    QVERIFY2(app.Start({"--connection", "direct", "--pressure", "100", "--slope", "1.25",
                        "--offset", "-2", "--noise", "0"}),
             app.sim.error_text().c_str());
    app.Connect(app.window->N1, Direct());

    // What stood in the journal when each question after the write was asked.
    std::vector<JournalRecord> at_check, at_certificate;
    bool certificate_offered = false;
    app.window->offer_certificate = [&](const JournalRecord&) {
      certificate_offered = true;
      at_certificate = ReadJournal(JournalPath(app.Folder()));
    };
    int check_readings = 0;
    app.AcceptDisplaySettings(50);
    OnNextModal<TFormCorrect_NSHP>([&](TFormCorrect_NSHP* d) {
      OnNextModal<TFormAsk_Val>([&](TFormAsk_Val* a) {
        QVERIFY(QTest::qWaitFor([a] { return a->spread().count >= 10; }, 5000));
        QTest::mouseClick(a->BitBtn1, Qt::LeftButton);
      });
      QTest::keyClicks(d->Edit1, QStringLiteral("120"));
      QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
      QTest::keyClicks(d->Edit2, QStringLiteral("200"));
      QTest::keyClicks(d->Edit4, QStringLiteral("205"));
      OnNextModal<TFormCorrect_Set>([&](TFormCorrect_Set* s) {
        // The doubt, then the check: the statistics window over the point still applied.
        app.ui.answers = {true, true};
        OnNextModal<TFormAsk_Val>([&](TFormAsk_Val* a) {
          at_check = ReadJournal(JournalPath(app.Folder()));
          QVERIFY(QTest::qWaitFor([a] { return a->spread().count >= 10; }, 5000));
          check_readings = a->spread().count;
          QTest::mouseClick(a->BitBtn1, Qt::LeftButton);
        });
        QTest::mouseClick(s->BitBtn1, Qt::LeftButton);
      });
      QTest::mouseClick(d->BitBtn4, Qt::LeftButton);
      if (d->isVisible())
        d->reject();
    });
    app.window->Nclb->trigger();

    // The question names the point and its applied value.
    const auto asked =
        std::find_if(app.ui.questions.begin(), app.ui.questions.end(),
                     [](const auto& q) { return q.line1 == "Калібровку записано."; });
    QVERIFY(asked != app.ui.questions.end());
    QCOMPARE(Q(asked->line3.value_or("")), QStringLiteral("Точка 1, подане значення 120.00 кПа"));
    // The write was on the disk before the check was asked, the check before the certificate.
    QCOMPARE(at_check.size(), size_t{1});
    QCOMPARE(at_check[0].outcome, JournalOutcome::kWritten);
    QVERIFY(at_check[0].steps.empty());
    QVERIFY(certificate_offered);
    QCOMPARE(at_certificate.size(), size_t{1});
    QCOMPARE(at_certificate[0].steps.size(), size_t{1});

    // The check is the mean of the settled readings, not one reading, with its spread.
    QCOMPARE(check_readings, 10);
    const JournalCheck check = *at_certificate[0].steps[0].check;
    QCOMPARE(check.readings, 10);
    QCOMPARE(check.point, 1);
    QCOMPARE(check.applied, 120.0);
    QVERIFY(std::fabs(check.mean - 120.0) < 0.001);
    QCOMPARE(check.deviation, 0.0);
    QCOMPARE(at_certificate[0].steps[0].run, at_certificate[0].run);
    QVERIFY(std::any_of(app.ui.messages.begin(), app.ui.messages.end(), [](const auto& m) {
      return m.text.find("середнє з 10 вимірювань") != std::string::npos;
    }));
    QVERIFY(!app.watchdog.fired());
  }

  void refusedWriteIsAskedAboutAndRepeated() {
    SimApp app;
    QVERIFY2(
        app.Start({"--connection", "direct", "--write-protect", "--slope", "2", "--offset", "0.5"}),
        app.sim.error_text().c_str());
    app.Connect(app.window->N1, Direct());
    QVERIFY(app.window->Nclb->isEnabled());

    // Confirm the factory setting, repeat the refused write once, then give up.
    app.ui.answers = {true, true, false};
    app.AcceptDisplaySettings(50);
    OnNextModal<TFormCorrect_NSHP>(
        [](TFormCorrect_NSHP* d) { QTest::mouseClick(d->BitBtn7, Qt::LeftButton); });
    app.window->Nclb->trigger();

    QCOMPARE(app.ui.questions.size(), size_t{3});
    for (size_t i : {size_t{1}, size_t{2}}) {
      const ScriptedHost::Question& q = app.ui.questions[i];
      QCOMPARE(Q(q.line1), QStringLiteral("Запис зміщення калібровки давача:"));
      QCOMPARE(Q(q.line2.value_or("")),
               QStringLiteral("Команда 16. Запис заборонено.\rНатисніть кнопку дозволу"));
      QCOMPARE(Q(q.line3.value_or("")), QStringLiteral("Повторити спробу?"));
    }
    QVERIFY(!app.Said(kWritten));
    QVERIFY(app.window->Nval->isEnabled());  // the link stays up

    QVERIFY(app.window->close());
    const SensorReadBack sensor = ReadSensor(app);
    QVERIFY2(sensor.ok, sensor.error.c_str());
    QCOMPARE(Bits(sensor.offset), Bits(0.5f));
    QCOMPARE(Bits(sensor.slope), Bits(2.0f));
    QVERIFY(!app.watchdog.fired());
  }
};

QTEST_MAIN(MeasurementSimTest)
#include "measurement_sim_test.moc"

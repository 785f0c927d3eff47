#include "gui/measurement/ask_val.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cmath>
#include <fstream>
#include <limits>

#include "core/calibration.h"
#include "gui/dialog_widgets.h"
#include "gui/measurement/trend_view.h"
#include "tests/support/meas_value_sensor.h"
#include "tests/support/qt_modal.h"

namespace {

constexpr double kMmHg = 7.50061438;

CalibrationRecord Record(double factor, uint8_t digits, uint8_t point) {
  CalibrationRecord record;
  record.factor = factor;
  record.digits = digits;
  record.point = point;
  // Marks that show whether anything was written where it should not be.
  record.applied = {-11.0f, -12.0f};
  record.received = {-21.0f, -22.0f};
  record.offset = -31.0f;
  record.slope = -32.0f;
  return record;
}

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

bool SameRecord(const CalibrationRecord& a, const CalibrationRecord& b) {
  return a.factor == b.factor && a.digits == b.digits && a.point == b.point &&
         a.applied == b.applied && a.received == b.received && a.offset == b.offset &&
         a.slope == b.slope;
}

}  // namespace

class AskValTest : public QObject {
  Q_OBJECT

  // Shows the dialog, lets its first reading (due at once) happen, and stops its timer so that
  // the test drives every further tick itself.
  static void Open(TFormAsk_Val& dialog) {
    dialog.show();
    QCoreApplication::processEvents();
    dialog.Timer1->stop();
  }

 private slots:
  void waitsForAValidReadingBeforeItCanAccept() {
    MeasValueSensor sensor;
    sensor.Silence().NotANumber().Value(4.25f);
    MeasBench bench(&sensor);
    bench.state.ConnectSettings.P_unit = 1;
    bench.state.ConnectSettings.interval = 1234;
    CalibrationRecord record = Record(1.0, 2, 0);
    TFormAsk_Val dialog(bench.state);
    QCOMPARE(FormAsk_Val, &dialog);
    QVERIFY(!dialog.accepted);
    dialog.record = &record;
    dialog.show();
    QVERIFY(dialog.Timer1->isActive());
    QCOMPARE(dialog.Timer1->interval(), 1234);
    QCoreApplication::processEvents();
    dialog.Timer1->stop();

    QCOMPARE(dialog.windowTitle(), QStringLiteral(" Опитування поточного значення тиску"));
    QCOMPARE(Child<QLabel>(&dialog, "Label1")->text(), QStringLiteral("Поточне значення"));
    QCOMPARE(Child<QLabel>(&dialog, "Label3")->text(), QStringLiteral("Середнє значення"));
    QCOMPARE(Child<QLabel>(&dialog, "Label5")->text(),
             QStringLiteral("(з 10 останніх вимірювань)"));
    QCOMPARE(Child<QLabel>(&dialog, "Label2")->text(), QStringLiteral("кПа"));
    QCOMPARE(Child<QLabel>(&dialog, "Label4")->text(), QStringLiteral("кПа"));
    auto* accept = Child<QPushButton>(&dialog, "BitBtn1");
    QCOMPARE(accept->text(), QStringLiteral("Прийняти"));
    QCOMPARE(Child<QPushButton>(&dialog, "BitBtn2")->text(), QStringLiteral("Відмінити"));

    // Silence: the error, nothing else.
    QCOMPARE(Child<QLabel>(&dialog, "StatusBar1Panel0")->text(),
             QStringLiteral("Команда 3. Пристрій не відповідає"));
    QCOMPARE(dialog.Panel2->text(), QString());
    QCOMPARE(dialog.Panel3->text(), QString());
    QVERIFY(!accept->isEnabled());
    // A reading that is no number: still nothing to accept.
    dialog.Timer1Timer();
    QCOMPARE(dialog.StatusBar1Panel0->text(), QString());
    QCOMPARE(dialog.Panel2->text(), QStringLiteral("NAN"));
    QCOMPARE(dialog.Panel3->text(), QString());
    QCOMPARE(Child<QLabel>(&dialog, "StatusBar1Panel1")->text(), QString());
    QVERIFY(!accept->isEnabled());
    // Clicking it anyway does nothing.
    dialog.BitBtn1Click();
    QVERIFY(!dialog.accepted);
    QVERIFY(dialog.isVisible());

    dialog.Timer1Timer();
    QCOMPARE(dialog.Panel2->text(), QStringLiteral("4.25"));
    QCOMPARE(dialog.Panel3->text(), QStringLiteral("4.25"));
    QCOMPARE(dialog.StatusBar1Panel1->text(), QStringLiteral(" 1"));
    QVERIFY(accept->isEnabled());
  }

  void averagesTheReadingsSoFar() {
    MeasValueSensor sensor;
    sensor.Value(1.0f).Value(2.0f).Value(3.0f);
    MeasBench bench(&sensor);
    CalibrationRecord record = Record(1.0, 2, 0);
    TFormAsk_Val dialog(bench.state);
    dialog.record = &record;
    Open(dialog);
    QCOMPARE(dialog.Panel3->text(), QStringLiteral("1.00"));
    QVERIFY(dialog.BitBtn1->isEnabled());
    dialog.Timer1Timer();
    QCOMPARE(dialog.Panel2->text(), QStringLiteral("2.00"));
    QCOMPARE(dialog.Panel3->text(), QStringLiteral("1.50"));
    QCOMPARE(dialog.StatusBar1Panel1->text(), QStringLiteral(" 2"));
    dialog.Timer1Timer();
    QCOMPARE(dialog.Panel3->text(), QStringLiteral("2.00"));
    QCOMPARE(dialog.StatusBar1Panel1->text(), QStringLiteral(" 3"));
    QVERIFY(dialog.BitBtn1->isEnabled());
  }

  void keepsTheLastTenReadings() {
    MeasValueSensor sensor;
    for (int i = 1; i <= 12; ++i)
      sensor.Value(static_cast<float>(i));
    MeasBench bench(&sensor);
    CalibrationRecord record = Record(1.0, 2, 0);
    TFormAsk_Val dialog(bench.state);
    dialog.record = &record;
    Open(dialog);
    for (int i = 2; i <= 9; ++i)
      dialog.Timer1Timer();
    QCOMPARE(dialog.StatusBar1Panel1->text(), QStringLiteral(" 9"));
    dialog.Timer1Timer();
    QCOMPARE(dialog.Panel3->text(), QStringLiteral("5.50"));
    QCOMPARE(dialog.StatusBar1Panel1->text(), QStringLiteral(" 0"));
    dialog.Timer1Timer();
    dialog.Timer1Timer();
    QCOMPARE(dialog.Panel2->text(), QStringLiteral("12.00"));
    QCOMPARE(dialog.Panel3->text(), QStringLiteral("7.50"));
    QCOMPARE(dialog.StatusBar1Panel1->text(), QStringLiteral(" 2"));
    const std::array<float, 10> expected = {11, 12, 3, 4, 5, 6, 7, 8, 9, 10};
    QVERIFY(dialog.statistics().ring() == expected);

    // Ten readings spread over 3 to 12 have not settled: asked, and taken on yes.
    bench.ui.answers = {true};
    QTest::mouseClick(dialog.BitBtn1, Qt::LeftButton);
    QCOMPARE(bench.ui.questions.size(), 1u);
    QCOMPARE(Q(bench.ui.questions[0].line1), QStringLiteral("Показ давача ще не усталився."));
    QCOMPARE(Q(bench.ui.questions[0].line2.value()),
             QStringLiteral("Розкид 9.00 кПа більший за 0.010 кПа."));
    QVERIFY(dialog.accepted);
    QCOMPARE(record.received[0], 7.5f);
    QCOMPARE(record.readings[0], 10);
    QCOMPARE(record.deviation[0], static_cast<float>(std::sqrt(82.5 / 9)));
  }

  void stabilityOfTheRingDecidesWhetherAcceptingAsks() {
    // A slow rise, a reading every 6 s: 0.1 kPa a minute, spread 0.09 kPa over ten readings.
    MeasValueSensor sensor;
    for (int i = 0; i < 11; ++i)
      sensor.Value(100.0f + 0.01f * static_cast<float>(i));
    MeasBench bench(&sensor);
    QTemporaryDir folder;
    bench.state.IniPath = folder.filePath(QStringLiteral("vorlix.ini")).toStdString();
    CalibrationRecord record = Record(1.0, 2, 0);
    TFormAsk_Val dialog(bench.state);
    dialog.record = &record;
    Open(dialog);
    for (int i = 1; i < 10; ++i) {
      QCOMPARE(dialog.Panel9->text(), QStringLiteral("накопичення"));
      bench.clock.Advance(6'000'000);
      dialog.Timer1Timer();
    }
    QCOMPARE(dialog.Panel4->text(), QStringLiteral("10 з 10"));
    QCOMPARE(dialog.Panel6->text(), QStringLiteral("100.00"));
    QCOMPARE(dialog.Panel7->text(), QStringLiteral("100.09"));
    QCOMPARE(dialog.Panel8->text(), QStringLiteral("0.100"));
    QCOMPARE(dialog.Panel5->text(), QStringLiteral("0.030"));
    // Default limit: 0.05 % of 100 kPa.
    QVERIFY(!dialog.spread().stable);
    QCOMPARE(dialog.Panel9->text(), QStringLiteral("змінюється"));
    // The plot: every reading, the running mean beside it, and the band of the last ten.
    dialog.RefreshChart();
    QCOMPARE(dialog.Chart1->line(0)->dataCount(), 10);
    QVERIFY(std::fabs(dialog.Chart1->line(1)->data()->at(1)->value - 100.005) < 1e-4);
    QVERIFY(dialog.Chart1->time_axis()->range().upper >= 54.0);
    bench.ui.answers = {false};
    QTest::mouseClick(dialog.BitBtn1, Qt::LeftButton);
    QVERIFY(!dialog.accepted);
    QVERIFY(dialog.isVisible());
    QCOMPARE(bench.ui.questions.size(), 1u);
    QCOMPARE(Q(bench.ui.questions[0].line3.value()),
             QStringLiteral("Прийняти це середнє значення?"));

    // A wider limit from the settings file: settled, taken without a question.
    {
      std::ofstream ini(bench.state.IniPath);
      ini << "[CALIBRATION]\nStabilityShare=0.001\n";
    }
    TFormAsk_Val again(bench.state);
    again.record = &record;
    sensor.Value(100.0f);
    for (int i = 0; i < 9; ++i)
      sensor.Value(100.05f);
    Open(again);
    for (int i = 1; i < 10; ++i)
      again.Timer1Timer();
    QVERIFY(again.spread().stable);
    QCOMPARE(again.Panel9->text(), QStringLiteral("усталився"));
    QTest::mouseClick(again.BitBtn1, Qt::LeftButton);
    QCOMPARE(bench.ui.questions.size(), 1u);
    QVERIFY(again.accepted);
    QCOMPARE(record.readings[0], 10);
  }

  void readingsThatAreNoNumbersNeverEnterTheAverage() {
    MeasValueSensor sensor;
    sensor.Value(1.0f).NotANumber().Value(std::numeric_limits<float>::infinity()).Value(3.0f);
    MeasBench bench(&sensor);
    CalibrationRecord record = Record(1.0, 2, 0);
    TFormAsk_Val dialog(bench.state);
    dialog.record = &record;
    Open(dialog);
    for (int i = 0; i < 2; ++i) {
      dialog.Timer1Timer();
      QCOMPARE(dialog.Panel2->text(), QStringLiteral("NAN"));
      QCOMPARE(dialog.Panel3->text(), QStringLiteral("1.00"));
      QCOMPARE(dialog.StatusBar1Panel1->text(), QStringLiteral(" 1"));
    }
    dialog.Timer1Timer();
    QCOMPARE(dialog.Panel2->text(), QStringLiteral("3.00"));
    QCOMPARE(dialog.Panel3->text(), QStringLiteral("2.00"));
    QCOMPARE(dialog.StatusBar1Panel1->text(), QStringLiteral(" 2"));
    QCOMPARE(dialog.statistics().ring()[1], 3.0f);
  }

  void aReadingThatOverflowsInTheDisplayUnitIsRefusedToo() {
    // 3e38 kPa is a float; in kgf/m^2 it is not.
    MeasValueSensor sensor;
    sensor.Value(2.0f).Value(3.0e38f).Value(4.0f);
    MeasBench bench(&sensor);
    bench.state.ConnectSettings.P_unit = 6;
    CalibrationRecord record = Record(PressureUnits[6].factor, 1, 0);
    TFormAsk_Val dialog(bench.state);
    dialog.record = &record;
    Open(dialog);
    dialog.Timer1Timer();
    QCOMPARE(dialog.Panel2->text(), QStringLiteral("NAN"));
    QCOMPARE(dialog.StatusBar1Panel1->text(), QStringLiteral(" 1"));
    dialog.Timer1Timer();
    const float expected =
        static_cast<float>((static_cast<double>(ToDisplayUnit(2.0f, record.factor)) +
                            ToDisplayUnit(4.0f, record.factor)) /
                           2);
    QCOMPARE(dialog.statistics().average(), expected);
    QCOMPARE(dialog.Panel3->text(), QStringLiteral("305.9"));
  }

  void millimetresOfMercuryAreAveragedAndHandedBackAsSuch() {
    MeasValueSensor sensor;
    sensor.Value(100.0f).Value(101.0f);
    MeasBench bench(&sensor);
    bench.state.ConnectSettings.P_unit = 5;
    CalibrationRecord record = Record(kMmHg, 3, 1);
    const CalibrationRecord before = record;
    TFormAsk_Val dialog(bench.state);
    dialog.record = &record;
    Open(dialog);
    QCOMPARE(dialog.Label2->text(), QStringLiteral("мм рт.ст."));
    QCOMPARE(dialog.Label4->text(), QStringLiteral("мм рт.ст."));
    QCOMPARE(dialog.Panel2->text(), QStringLiteral("750.061"));
    dialog.Timer1Timer();
    QCOMPARE(dialog.Panel2->text(), QStringLiteral("757.562"));
    // (750.061462 + 757.562073) / 2, each reading rounded to a float in mm Hg first.
    QCOMPARE(dialog.Panel3->text(), QStringLiteral("753.812"));

    bench.ui.answers = {true};  // two readings of ten
    QTest::mouseClick(dialog.BitBtn1, Qt::LeftButton);
    QVERIFY(dialog.accepted);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int{QDialog::Accepted});
    const float mm_hg_average = static_cast<float>(
        (static_cast<double>(ToDisplayUnit(100.0f, kMmHg)) + ToDisplayUnit(101.0f, kMmHg)) / 2);
    QCOMPARE(record.received[1], mm_hg_average);
    // Only the point's received value, and how it was taken, changed.
    QCOMPARE(record.readings[1], 2);
    record.received[1] = before.received[1];
    QVERIFY(SameRecord(record, before));
  }

  void temperatureIsCollectedInDegrees() {
    MeasValueSensor sensor(102);
    sensor.Value(20.25f).Value(20.75f);
    MeasBench bench(&sensor, 1, 102);
    bench.state.ConnectSettings.P_unit = 5;
    CalibrationRecord record = Record(1.0, 2, 0);
    TFormAsk_Val dialog(bench.state);
    dialog.record = &record;
    Open(dialog);
    dialog.Timer1Timer();
    QCOMPARE(dialog.windowTitle(), QStringLiteral(" Опитування поточного значення температури"));
    QCOMPARE(dialog.Label2->text(), QStringLiteral("°С"));
    QCOMPARE(dialog.Label4->text(), QStringLiteral("°С"));
    QCOMPARE(dialog.Panel3->text(), QStringLiteral("20.50"));
    bench.ui.answers = {true};
    QTest::keyClick(&dialog, Qt::Key_Return);
    QVERIFY(dialog.accepted);
    QCOMPARE(record.received[0], 20.5f);
  }

  void cancelLeavesTheRecordAlone() {
    MeasValueSensor sensor;
    sensor.Value(5.0f).Value(6.0f).Value(7.0f).Value(8.0f);
    MeasBench bench(&sensor);
    CalibrationRecord record = Record(1.0, 2, 0);
    const CalibrationRecord before = record;
    {
      TFormAsk_Val dialog(bench.state);
      dialog.record = &record;
      Open(dialog);
      dialog.Timer1Timer();
      QTest::mouseClick(dialog.BitBtn2, Qt::LeftButton);
      QVERIFY(!dialog.accepted);
      QVERIFY(!dialog.isVisible());
      QVERIFY(!dialog.Timer1->isActive());
      QVERIFY(SameRecord(record, before));
    }
    QCOMPARE(FormAsk_Val, nullptr);
    TFormAsk_Val dialog(bench.state);
    dialog.record = &record;
    Open(dialog);
    QCOMPARE(dialog.StatusBar1Panel1->text(), QStringLiteral(" 1"));  // a fresh ring
    QCOMPARE(dialog.Panel3->text(), QStringLiteral("7.00"));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.accepted);
    QVERIFY(!dialog.isVisible());
    QVERIFY(SameRecord(record, before));
  }

  void aFailedExchangeChangesNothingButTheStatusText() {
    MeasValueSensor sensor;
    sensor.Value(2.0f).Exception(4).Value(4.0f);
    MeasBench bench(&sensor);
    CalibrationRecord record = Record(1.0, 2, 0);
    TFormAsk_Val dialog(bench.state);
    dialog.record = &record;
    Open(dialog);
    dialog.Timer1Timer();
    QCOMPARE(dialog.StatusBar1Panel0->text(),
             QStringLiteral("Команда 3. Невідновлювальна помилка при виконанні затребуваного "
                            "дійства"));
    QCOMPARE(dialog.Panel2->text(), QStringLiteral("2.00"));
    QCOMPARE(dialog.Panel3->text(), QStringLiteral("2.00"));
    QCOMPARE(dialog.StatusBar1Panel1->text(), QStringLiteral(" 1"));

    QStringList during_exchange;
    bench.ui.on_process = [&] { during_exchange << dialog.StatusBar1Panel0->text(); };
    dialog.Timer1Timer();
    QVERIFY(!during_exchange.isEmpty());
    QCOMPARE(during_exchange.front(), QString());
    QCOMPARE(dialog.StatusBar1Panel0->text(), QString());
    QCOMPARE(dialog.Panel3->text(), QStringLiteral("3.00"));
    QCOMPARE(dialog.StatusBar1Panel1->text(), QStringLiteral(" 2"));
    // The plot is not drawn across the failed request: an empty point stands between.
    dialog.RefreshChart();
    const QSharedPointer<QCPGraphDataContainer> readings = dialog.Chart1->line(0)->data();
    QCOMPARE(readings->size(), 3);
    QCOMPARE(readings->at(0)->value, 2.0);
    QVERIFY(std::isnan(readings->at(1)->value));
    QCOMPARE(readings->at(2)->value, 4.0);
  }

  void aTickDueDuringAnExchangeStartsNoSecondOne() {
    MeasValueSensor sensor;
    sensor.Value(1.0f).Value(2.0f).Value(3.0f);
    MeasBench bench(&sensor);
    CalibrationRecord record = Record(1.0, 2, 0);
    TFormAsk_Val dialog(bench.state);
    dialog.record = &record;
    Open(dialog);

    int nested = 0;
    bench.ui.on_process = [&] {
      // Once: were the tick not held back it would nest without end.
      if (nested++ == 0)
        dialog.Timer1Timer();
    };
    dialog.Timer1Timer();
    bench.ui.on_process = nullptr;
    QVERIFY(nested > 0);
    QCOMPARE(sensor.requests.size(), size_t{2});
    QCOMPARE(dialog.StatusBar1Panel1->text(), QStringLiteral(" 2"));
    QCOMPARE(dialog.Panel3->text(), QStringLiteral("1.50"));
  }

  void acceptingDuringAnExchangeClosesOnceItHasReturned() {
    MeasValueSensor sensor;
    sensor.Value(4.0f).Value(6.0f);
    MeasBench bench(&sensor);
    bench.state.ConnectSettings.interval = 1;
    CalibrationRecord record = Record(1.0, 2, 1);
    TFormAsk_Val dialog(bench.state);
    dialog.record = &record;
    bench.ui.answers = {true};

    int exchanges = 0;
    bool visible_after_press = false;
    bench.ui.on_process = [&] {
      // Inside the second exchange, once its request is out; "Прийняти" is live since the
      // first reading.
      if (sensor.requests.size() == 2 && exchanges == 0) {
        exchanges = 1;
        QTest::mouseClick(dialog.BitBtn1, Qt::LeftButton);
        visible_after_press = dialog.isVisible();
      }
    };
    bool rescued = false;
    QTimer::singleShot(3000, &dialog, [&] {
      rescued = true;
      dialog.QDialog::done(QDialog::Rejected);
    });
    const int result = dialog.exec();

    QVERIFY(!rescued);
    QCOMPARE(exchanges, 1);
    QVERIFY(visible_after_press);
    QCOMPARE(result, int{QDialog::Accepted});
    QVERIFY(dialog.accepted);
    // What was on screen when the button was pressed is what the caller gets.
    QCOMPARE(record.received[1], 4.0f);
    QCOMPARE(dialog.Panel2->text(), QStringLiteral("6.00"));
    QCOMPARE(sensor.requests.size(), size_t{2});
    QVERIFY(!dialog.Timer1->isActive());
    dialog.Timer1Timer();
    QCOMPARE(sensor.requests.size(), size_t{2});
  }

  void theFewReadingsQuestionStandsOnTheReadingsItNames() {
    MeasValueSensor sensor;
    for (int i = 0; i < 40; ++i)
      sensor.Value(100.0f + static_cast<float>(i % 3));
    MeasBench bench(&sensor);
    CalibrationRecord record = Record(1.0, 2, 0);
    TFormAsk_Val dialog(bench.state);
    dialog.record = &record;
    Open(dialog);
    dialog.Timer1Timer();
    dialog.Timer1Timer();
    QCOMPARE(dialog.Panel4->text(), QStringLiteral("3 з 10"));

    // The engineer reads the question for a while; polling runs as fast as it can meanwhile.
    dialog.Timer1->start(1);
    QString shown_while_asked;
    bool polled_while_asked = true;
    bench.ui.on_ask = [&] {
      QTest::qWait(60);
      shown_while_asked = dialog.Panel4->text();
      polled_while_asked = dialog.Timer1->isActive();
    };
    // "Ні" is the default: a second Enter goes on collecting, and so does the collection.
    QTest::keyClick(&dialog, Qt::Key_Return);
    QCOMPARE(bench.ui.questions.size(), 1u);
    QVERIFY(bench.ui.questions[0].cautious);
    QCOMPARE(Q(bench.ui.questions[0].line2.value()),
             QStringLiteral("Середнє взято лише з 3 вимірювань з 10."));
    QCOMPARE(shown_while_asked, QStringLiteral("3 з 10"));
    QVERIFY(!polled_while_asked);
    QVERIFY(!dialog.accepted);
    QVERIFY(dialog.Timer1->isActive());
    dialog.Timer1->stop();
    QCoreApplication::processEvents();  // the reading due at once on resuming
    dialog.Timer1Timer();
    QCOMPARE(dialog.Panel4->text(), QStringLiteral("5 з 10"));

    // "Так" takes what the question named, which is what the window still shows.
    bench.ui.answers = {true};
    QTest::mouseClick(dialog.BitBtn1, Qt::LeftButton);
    QCOMPARE(Q(bench.ui.questions[1].line2.value()),
             QStringLiteral("Середнє взято лише з 5 вимірювань з 10."));
    QCOMPARE(dialog.Panel4->text(), QStringLiteral("5 з 10"));
    QVERIFY(dialog.accepted);
    QCOMPARE(record.readings[0], 5);
    QCOMPARE(Fixed(record.received[0], 2), dialog.Panel3->text());
  }

  void driftIsShownOnlyOverEnoughTimeAndNeverAgainstTheState() {
    // Ten readings 0.2 s apart, within the band: settled, and no drift made up from 2 s.
    MeasValueSensor sensor;
    const float noise[] = {100.000f, 100.012f, 99.995f,  100.010f, 100.020f,
                           99.998f,  100.015f, 100.022f, 100.009f, 100.025f};
    for (float v : noise)
      sensor.Value(v);
    MeasBench bench(&sensor);
    CalibrationRecord record = Record(1.0, 2, 0);
    TFormAsk_Val dialog(bench.state);
    dialog.record = &record;
    Open(dialog);
    for (int i = 1; i < 10; ++i) {
      bench.clock.Advance(200'000);
      dialog.Timer1Timer();
    }
    QCOMPARE(dialog.Panel9->text(), QStringLiteral("усталився"));
    QCOMPARE(dialog.Panel8->text(), QStringLiteral("—"));
    QVERIFY(dialog.Panel8->toolTip().contains(QStringLiteral("30 с")));

    // A rise of 0.08 kPa a minute, a reading every 3 s: the last ten lie within the band of
    // 0.05 kPa, but over half a minute the point plainly moves by more than that.
    MeasValueSensor rising;
    for (int i = 0; i < 12; ++i)
      rising.Value(100.0f + 0.004f * static_cast<float>(i));
    MeasBench slow(&rising);
    TFormAsk_Val moving(slow.state);
    moving.record = &record;
    Open(moving);
    for (int i = 1; i < 12; ++i) {
      slow.clock.Advance(3'000'000);
      moving.Timer1Timer();
      if (i == 9) {
        QVERIFY(moving.spread().stable);
        QCOMPARE(moving.Panel8->text(), QStringLiteral("—"));  // 27 s of readings
        QCOMPARE(moving.Panel9->text(), QStringLiteral("усталився"));
      }
    }
    QVERIFY(moving.spread().stable);
    QCOMPARE(moving.Panel8->text(), QStringLiteral("0.080"));
    QCOMPARE(moving.Panel9->text(), QStringLiteral("змінюється"));
    QVERIFY(!moving.settled());
    slow.ui.answers = {false};
    QTest::mouseClick(moving.BitBtn1, Qt::LeftButton);
    QVERIFY(!moving.accepted);
    QCOMPARE(Q(slow.ui.questions.at(0).line2.value()),
             QStringLiteral("Дрейф 0.080 кПа за хвилину більший за 0.050 кПа."));
  }
};

QTEST_MAIN(AskValTest)
#include "ask_val_test.moc"

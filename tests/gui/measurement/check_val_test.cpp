#include "gui/measurement/check_val.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <limits>
#include <memory>

#include "core/calibration.h"
#include "core/number_format.h"
#include "gui/measurement/trend_view.h"
#include "sim/sim_sensor.h"
#include "tests/support/meas_value_sensor.h"
#include "tests/support/qt_modal.h"

namespace {

QString Text(const QLabel* label) {
  return label->text();
}

}  // namespace

class CheckValTest : public QObject {
  Q_OBJECT

  // Shows the monitor, lets its first reading (due at once) happen, and stops its timer so
  // that the test drives every further tick itself.
  static void Open(TFormCheck_Val& dialog) {
    dialog.show();
    QCoreApplication::processEvents();
    dialog.Timer1->stop();
  }

 private slots:
  void showsTheCalibrationAndTakesTheFirstReadingAtOnce() {
    MeasValueSensor sensor;
    sensor.Value(5.0f);
    MeasBench bench(&sensor);
    bench.state.ConnectSettings.P_unit = 1;
    bench.state.ConnectSettings.P_format = 3;
    bench.state.ConnectSettings.interval = 4321;
    bench.state.SensorSlope = 2.0f;
    bench.state.SensorOffset = 1.0f;

    TFormCheck_Val dialog(bench.state);
    QCOMPARE(FormCheck_Val, &dialog);
    dialog.show();
    QVERIFY(dialog.Timer1->isActive());
    QCOMPARE(dialog.Timer1->interval(), 4321);
    QCoreApplication::processEvents();
    dialog.Timer1->stop();

    QCOMPARE(sensor.requests.size(), size_t{1});
    QCOMPARE(sensor.requests[0], sensor.ValueRequest());
    QCOMPARE(dialog.windowTitle(), QStringLiteral(" Поточні значення тиску"));
    QCOMPARE(Child<QGroupBox>(&dialog, "GroupBox1")->title(),
             QStringLiteral(" Поточні значення у давачі "));
    QCOMPARE(Child<QGroupBox>(&dialog, "GroupBox2")->title(),
             QStringLiteral(" За налаштуванням виробника "));
    QCOMPARE(Text(Child<QLabel>(&dialog, "Panel1")), QStringLiteral("1"));
    QCOMPARE(Text(Child<QLabel>(&dialog, "Panel2")), QStringLiteral("0"));
    QCOMPARE(Text(Child<QLabel>(&dialog, "Panel3")), QStringLiteral("2.00000"));
    QCOMPARE(Text(Child<QLabel>(&dialog, "Panel4")), QStringLiteral("1.00000"));
    // (5 - 1) / 2: the factory calibration would have reported 2.
    QCOMPARE(Text(Child<QLabel>(&dialog, "Panel5")), QStringLiteral("5.000"));
    QCOMPARE(Text(Child<QLabel>(&dialog, "Panel6")), QStringLiteral("2.000"));
    for (const char* name : {"Label12", "Label15", "Label16", "Label18"})
      QCOMPARE(Text(Child<QLabel>(&dialog, name)), QStringLiteral("кПа"));
    QCOMPARE(Text(Child<QLabel>(&dialog, "StatusBar1Panel0")), QString());
    QCOMPARE(Text(Child<QLabel>(&dialog, "StatusBar1Panel1")), QStringLiteral(" 1"));
    QCOMPARE(Child<QPushButton>(&dialog, "BitBtn5")->text(), QStringLiteral("Выход"));
    QVERIFY(Child<QStatusBar>(&dialog, "StatusBar1"));
    QCOMPARE(dialog.count(), 1);
  }

  void offsetIsRemovedInKilopascalsBeforeTheConversion() {
    // S0 2, O0 1 kPa, reading 5 kPa: factory value 2 kPa, then both shown in mm Hg.
    MeasValueSensor sensor;
    sensor.Value(5.0f);
    MeasBench bench(&sensor);
    bench.state.ConnectSettings.P_unit = 5;
    bench.state.ConnectSettings.P_format = 4;
    bench.state.SensorSlope = 2.0f;
    bench.state.SensorOffset = 1.0f;
    TFormCheck_Val dialog(bench.state);
    Open(dialog);

    QCOMPARE(dialog.Panel3->text(), QStringLiteral("2.00000"));  // a slope has no unit
    QCOMPARE(dialog.Panel4->text(), QStringLiteral("7.50061"));  // 1 kPa in mm Hg
    QCOMPARE(dialog.Panel5->text(), QStringLiteral("37.5031"));
    QCOMPARE(dialog.Panel6->text(), QStringLiteral("15.0012"));
    for (QLabel* unit : {dialog.Label12, dialog.Label15, dialog.Label16, dialog.Label18})
      QCOMPARE(unit->text(), QStringLiteral("мм рт.ст."));
  }

  void hundredKilopascalsInMillimetresOfMercury_data() {
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("shown");
    QTest::newRow("0") << 0 << QStringLiteral("750");
    QTest::newRow("1") << 1 << QStringLiteral("750.1");
    QTest::newRow("2") << 2 << QStringLiteral("750.06");
    QTest::newRow("3") << 3 << QStringLiteral("750.061");
  }
  void hundredKilopascalsInMillimetresOfMercury() {
    QFETCH(int, decimals);
    QFETCH(QString, shown);
    MeasValueSensor sensor;
    sensor.Value(100.0f);
    MeasBench bench(&sensor);
    bench.state.ConnectSettings.P_unit = 5;
    bench.state.ConnectSettings.P_format = static_cast<uint8_t>(decimals);
    TFormCheck_Val dialog(bench.state);
    Open(dialog);
    QCOMPARE(dialog.Panel5->text(), shown);
    QCOMPARE(dialog.Panel6->text(), shown);
  }

  void temperatureIsShownAsReadInDegrees() {
    MeasValueSensor sensor(102);
    sensor.Value(20.5f);
    MeasBench bench(&sensor, 1, 102);
    // The pressure unit is not the temperature channel's business.
    bench.state.ConnectSettings.P_unit = 5;
    bench.state.ConnectSettings.P_format = 5;
    bench.state.ConnectSettings.T_format = 2;
    bench.state.SensorSlope = 1.25f;
    bench.state.SensorOffset = 0.5f;
    TFormCheck_Val dialog(bench.state);
    Open(dialog);

    QCOMPARE(dialog.windowTitle(), QStringLiteral(" Поточні значення температури"));
    QCOMPARE(dialog.Panel3->text(), QStringLiteral("1.25000"));
    QCOMPARE(dialog.Panel4->text(), QStringLiteral("0.50000"));
    QCOMPARE(dialog.Panel5->text(), QStringLiteral("20.50"));
    QCOMPARE(dialog.Panel6->text(), QStringLiteral("16.00"));  // (20.5 - 0.5) / 1.25
    for (QLabel* unit : {dialog.Label12, dialog.Label15, dialog.Label16, dialog.Label18})
      QCOMPARE(unit->text(), QStringLiteral("°С"));
  }

  void readingsThatAreNoNumbersShowNanAndAreNotCounted() {
    MeasValueSensor sensor;
    sensor.Value(1.0f).NotANumber().Value(std::numeric_limits<float>::infinity()).Value(2.0f);
    MeasBench bench(&sensor);
    TFormCheck_Val dialog(bench.state);
    Open(dialog);
    QCOMPARE(dialog.StatusBar1Panel1->text(), QStringLiteral(" 1"));

    for (int i = 0; i < 2; ++i) {
      dialog.Timer1Timer();
      QCOMPARE(dialog.Panel5->text(), QStringLiteral("NAN"));
      QCOMPARE(dialog.Panel6->text(), QStringLiteral("NAN"));
      QCOMPARE(dialog.StatusBar1Panel1->text(), QStringLiteral(" 1"));
      QCOMPARE(dialog.StatusBar1Panel0->text(), QString());
    }

    dialog.Timer1Timer();
    QCOMPARE(dialog.Panel5->text(), QStringLiteral("2.00"));
    QCOMPARE(dialog.StatusBar1Panel1->text(), QStringLiteral(" 2"));
  }

  void aFailedExchangeShowsItsTextUntilTheNextTickStarts() {
    MeasValueSensor sensor;
    sensor.Value(1.0f).Silence().Exception(2).Value(3.0f);
    MeasBench bench(&sensor);
    TFormCheck_Val dialog(bench.state);
    Open(dialog);

    dialog.Timer1Timer();
    QCOMPARE(dialog.StatusBar1Panel0->text(), QStringLiteral("Команда 3. Пристрій не відповідає"));
    QCOMPARE(dialog.Panel5->text(), QStringLiteral("1.00"));
    QCOMPARE(dialog.Panel6->text(), QStringLiteral("1.00"));
    QCOMPARE(dialog.StatusBar1Panel1->text(), QStringLiteral(" 1"));

    // A text with a line break stands on the panel's one line.
    dialog.Timer1Timer();
    QCOMPARE(dialog.StatusBar1Panel0->text(),
             QStringLiteral("Команда 3. Адреса даних, вказана в запиті, недоступна (можливо "
                            "версія ПО вашого пристрою є застарілою)"));

    QStringList during_exchange;
    bench.ui.on_process = [&] { during_exchange << dialog.StatusBar1Panel0->text(); };
    dialog.Timer1Timer();
    QVERIFY(!during_exchange.isEmpty());
    for (const QString& text : during_exchange)
      QCOMPARE(text, QString());
    QCOMPARE(dialog.StatusBar1Panel0->text(), QString());
    QCOMPARE(dialog.Panel5->text(), QStringLiteral("3.00"));
    QCOMPARE(dialog.StatusBar1Panel1->text(), QStringLiteral(" 2"));
  }

  void everyNewMonitorCountsFromOne() {
    MeasValueSensor sensor;
    sensor.Value(1.0f).Value(2.0f).Value(3.0f);
    MeasBench bench(&sensor);
    {
      TFormCheck_Val first(bench.state);
      Open(first);
      first.Timer1Timer();
      QCOMPARE(first.StatusBar1Panel1->text(), QStringLiteral(" 2"));
    }
    QCOMPARE(FormCheck_Val, nullptr);
    TFormCheck_Val second(bench.state);
    Open(second);
    QCOMPARE(second.Panel5->text(), QStringLiteral("3.00"));
    QCOMPARE(second.StatusBar1Panel1->text(), QStringLiteral(" 1"));
  }

  void aTickDueDuringAnExchangeStartsNoSecondOne() {
    MeasValueSensor sensor;
    sensor.Value(1.0f).Value(2.0f).Value(3.0f);
    MeasBench bench(&sensor);
    TFormCheck_Val dialog(bench.state);
    Open(dialog);
    QCOMPARE(sensor.requests.size(), size_t{1});

    int nested = 0;
    bool running_inside = false;
    bench.ui.on_process = [&] {
      // Once: were the tick not held back it would nest without end.
      if (nested++ > 0)
        return;
      running_inside = dialog.exchange_running();
      dialog.Timer1Timer();
    };
    dialog.Timer1Timer();
    bench.ui.on_process = nullptr;
    QVERIFY(nested > 0);
    QVERIFY(running_inside);
    QCOMPARE(bench.line->write_times().size(), size_t{2});
    QCOMPARE(sensor.requests.size(), size_t{2});
    QCOMPARE(dialog.Panel5->text(), QStringLiteral("2.00"));
    QCOMPARE(dialog.StatusBar1Panel1->text(), QStringLiteral(" 2"));
    QVERIFY(!dialog.exchange_running());

    // The held-back tick was skipped, not lost for good: the next one reads again.
    dialog.Timer1Timer();
    QCOMPARE(dialog.Panel5->text(), QStringLiteral("3.00"));
  }

  void closingDuringAnExchangeWaitsForItToReturn() {
    MeasValueSensor sensor;
    sensor.Value(7.0f).Value(8.0f);
    MeasBench bench(&sensor);
    bench.state.ConnectSettings.interval = 1;
    TFormCheck_Val dialog(bench.state);

    bool pressed = false;
    bool visible_after_press = false;
    bool timer_after_press = true;
    bench.ui.on_process = [&] {
      if (pressed)
        return;
      pressed = true;
      QTest::mouseClick(dialog.BitBtn5, Qt::LeftButton);
      visible_after_press = dialog.isVisible();
      timer_after_press = dialog.Timer1->isActive();
    };
    // Should the close never come, this ends the modal loop so that the test fails instead.
    bool rescued = false;
    QTimer::singleShot(3000, &dialog, [&] {
      rescued = true;
      dialog.QDialog::done(QDialog::Accepted);
    });
    const int result = dialog.exec();

    QVERIFY(!rescued);
    QVERIFY(pressed);
    QVERIFY(visible_after_press);
    QVERIFY(!timer_after_press);
    QCOMPARE(result, int{QDialog::Rejected});
    QVERIFY(!dialog.isVisible());
    // The exchange that was running finished and was shown; none came after it.
    QCOMPARE(dialog.Panel5->text(), QStringLiteral("7.00"));
    QCOMPARE(sensor.requests.size(), size_t{1});
    dialog.Timer1Timer();
    QCOMPARE(sensor.requests.size(), size_t{1});
  }

  void aClosedMonitorStopsPolling() {
    MeasValueSensor sensor;
    sensor.Value(1.0f);
    MeasBench bench(&sensor);
    TFormCheck_Val dialog(bench.state);
    dialog.show();
    QCoreApplication::processEvents();
    QVERIFY(dialog.Timer1->isActive());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QVERIFY(!dialog.Timer1->isActive());

    // Closed by its close box before the event loop got to the first reading: that reading
    // never happens.
    auto boxed = std::make_unique<TFormCheck_Val>(bench.state);
    boxed->show();
    QVERIFY(boxed->close());
    QVERIFY(!boxed->Timer1->isActive());
    QCoreApplication::processEvents();
    QCOMPARE(sensor.requests.size(), size_t{1});
    // Destroyed with its first reading still queued: the reading goes with it.
    boxed = std::make_unique<TFormCheck_Val>(bench.state);
    boxed->show();
    boxed.reset();
    QCoreApplication::processEvents();
    QCOMPARE(sensor.requests.size(), size_t{1});
  }

  void readsTheSimulatedSensorThroughItsCalibration() {
    SensorConfig config = SensorConfig::Pressure();
    config.value = 100.0;  // raw
    config.slope = 1.5f;
    config.offset = 2.0f;
    SimDirectSensor sim(config, LineTiming{}, FaultConfig{});
    MeasBench bench(&sim, 0, config.address);
    bench.state.SensorSlope = config.slope;
    bench.state.SensorOffset = config.offset;
    bench.state.ConnectSettings.P_unit = 2;  // MPa
    bench.state.ConnectSettings.P_format = 4;
    TFormCheck_Val dialog(bench.state);
    Open(dialog);
    QCOMPARE(dialog.StatusBar1Panel0->text(), QString());
    QCOMPARE(dialog.Panel5->text(), QStringLiteral("0.1520"));  // 152 kPa as reported
    QCOMPARE(dialog.Panel6->text(), QStringLiteral("0.1000"));  // the raw 100 kPa
    QCOMPARE(dialog.Panel4->text(), QStringLiteral("0.00200"));
    QCOMPARE(dialog.Label16->text(), QStringLiteral("МПа"));
  }

  void trendDrawsTheWindowWithItsStatisticsAndHoldsStillWhilePaused() {
    // A reading every 20 s for two minutes: 1, 2, ... 7 kPa; the factory value is half.
    MeasValueSensor sensor;
    for (int i = 1; i <= 8; ++i)
      sensor.Value(static_cast<float>(i));
    MeasBench bench(&sensor);
    bench.state.ConnectSettings.P_unit = 1;
    bench.state.ConnectSettings.P_format = 2;
    bench.state.SensorSlope = 2.0f;
    TFormCheck_Val dialog(bench.state);
    Open(dialog);
    for (int i = 2; i <= 7; ++i) {
      bench.clock.Advance(20'000'000);
      dialog.Timer1Timer();
    }
    dialog.ComboBox1->setCurrentIndex(0);  // the last minute: 5, 6 and 7
    QCOMPARE(dialog.Chart1->line(0)->dataCount(), 3);
    QCOMPARE(dialog.Panel7[0]->text(), QStringLiteral("5.00"));
    QCOMPARE(dialog.Panel8[0]->text(), QStringLiteral("7.00"));
    QCOMPARE(dialog.Panel9[1]->text(), QStringLiteral("3.000"));
    QCOMPARE(dialog.Panel10[0]->text(), QStringLiteral("1.000"));
    QCOMPARE(dialog.Panel11->text(), QStringLiteral("3"));
    // Autoscaled to both lines (2.5 to 7) with room to spare, time in seconds up to the last
    // reading.
    const QCPAxis* values = dialog.Chart1->value_axis();
    QVERIFY(values->range().lower < 2.5 && values->range().lower >= 1.5);
    QVERIFY(values->range().upper > 7.0 && values->range().upper <= 8.0);
    QVERIFY(dialog.Chart1->time_axis()->range().upper > 120.0);
    dialog.ComboBox2->setCurrentIndex(1);
    QVERIFY(dialog.Chart1->time_axis()->range().upper < 2.1);

    dialog.ComboBox1->setCurrentIndex(1);
    QCOMPARE(dialog.Chart1->line(1)->dataCount(), 7);
    QTest::mouseClick(dialog.BitBtn6, Qt::LeftButton);
    QCOMPARE(dialog.BitBtn6->text(), QStringLiteral("Продовжити"));
    bench.clock.Advance(30'000'000);
    dialog.Timer1Timer();
    dialog.RefreshTrend();
    QCOMPARE(dialog.Chart1->line(1)->dataCount(), 7);  // held still; the series goes on
    QCOMPARE(dialog.series().size(), 8u);
    QTest::mouseClick(dialog.BitBtn6, Qt::LeftButton);
    QCOMPARE(dialog.Chart1->line(1)->dataCount(), 8);

    // Hidden, the trend costs nothing; shown again, it is up to date.
    dialog.CheckBox1->setChecked(false);
    QVERIFY(!dialog.TrendPanel->isVisible());
    dialog.CheckBox1->setChecked(true);
    QVERIFY(dialog.TrendPanel->isVisible());
  }

  void aStretchWithoutReadingsBreaksTheTrendAndEachLineCanBeShownAlone() {
    // 10 and 11 kPa, a silent sensor, an exception, a reading that is no number, then 13 and
    // 14 kPa, every 10 s; the factory value is half.
    MeasValueSensor sensor;
    sensor.Value(10.0f).Value(11.0f).Silence().Exception(2).NotANumber().Value(13.0f).Value(14.0f);
    MeasBench bench(&sensor);
    bench.state.ConnectSettings.P_unit = 1;
    bench.state.ConnectSettings.P_format = 2;
    bench.state.SensorSlope = 2.0f;
    TFormCheck_Val dialog(bench.state);
    Open(dialog);
    for (int i = 0; i < 6; ++i) {
      bench.clock.Advance(10'000'000);
      dialog.Timer1Timer();
    }
    dialog.RefreshTrend();
    QCOMPARE(dialog.series().size(), 4u);
    // Two stretches with an empty point between, in both lines: no segment from 11 to 13.
    for (int line = 0; line < 2; ++line) {
      const QSharedPointer<QCPGraphDataContainer> data = dialog.Chart1->line(line)->data();
      QCOMPARE(data->size(), 5);
      QVERIFY(!std::isnan(data->at(1)->value));
      QVERIFY(std::isnan(data->at(2)->value));
      QVERIFY(data->at(2)->key > data->at(1)->key && data->at(2)->key < data->at(3)->key);
      QVERIFY(!std::isnan(data->at(3)->value));
    }
    const QCPAxis* values = dialog.Chart1->value_axis();
    QVERIFY(values->range().lower <= 5.0 && values->range().upper >= 14.0);

    // The reported value alone: the scale fits 10..14 and the legend names that line only.
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("Label22"))->buddy(), dialog.ComboBox3);
    dialog.ComboBox3->setCurrentIndex(1);
    QVERIFY(dialog.Chart1->line(0)->visible());
    QVERIFY(!dialog.Chart1->line(1)->visible());
    QVERIFY(values->range().lower >= 9.0 && values->range().lower < 10.0);
    QVERIFY(values->range().upper > 14.0 && values->range().upper <= 15.0);
    QCOMPARE(dialog.Chart1->legend->itemCount(), 1);
    // The factory value alone: 5..7, even while the trend is paused.
    QTest::mouseClick(dialog.BitBtn6, Qt::LeftButton);
    dialog.ComboBox3->setCurrentIndex(2);
    QVERIFY(!dialog.Chart1->line(0)->visible());
    QVERIFY(values->range().lower >= 4.0 && values->range().lower < 5.0);
    QVERIFY(values->range().upper > 7.0 && values->range().upper <= 8.0);
    dialog.ComboBox3->setCurrentIndex(0);
    QCOMPARE(dialog.Chart1->legend->itemCount(), 2);
    QVERIFY(values->range().lower <= 5.0 && values->range().upper >= 14.0);
  }

  void logKeepsEveryTickGoodOrNotWithTheChosenDecimalMark() {
    MeasValueSensor sensor;
    sensor.Value(1.0f).Value(2.5f).Silence().NotANumber().Value(3.25f);
    MeasBench bench(&sensor);
    bench.state.ConnectSettings.P_unit = 1;
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("покази.csv"));
    TFormCheck_Val dialog(bench.state);
    dialog.log_decimal_mark = QLatin1Char(',');
    dialog.choose_log_file = [&](const QString&) { return path; };
    Open(dialog);  // the first reading comes before the log
    QCOMPARE(dialog.BitBtn7->text(), QStringLiteral("Запис у файл"));
    QTest::mouseClick(dialog.BitBtn7, Qt::LeftButton);
    QVERIFY(dialog.log().is_open());
    QCOMPARE(dialog.BitBtn7->text(), QStringLiteral("Зупинити запис"));
    for (int i = 0; i < 4; ++i) {
      bench.clock.Advance(1'000'000);
      dialog.Timer1Timer();
    }
    QTest::mouseClick(dialog.BitBtn7, Qt::LeftButton);
    QVERIFY(!dialog.log().is_open());
    QCOMPARE(dialog.log().rows_written(), 4u);

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    const QStringList lines = QString::fromUtf8(bytes).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 6);  // header, four rows, nothing after the last break
    QVERIFY(lines[0].endsWith(QStringLiteral("Одиниця;Канал;Помилка")));
    auto fields = [&](int i) { return lines[i].split(QLatin1Char(';')).mid(1); };
    QVERIFY(fields(1)[0].startsWith(QStringLiteral("1,0")));  // a second, and the exchange
    QCOMPARE(fields(1).mid(1), (QStringList{"2,5", "2,5", "кПа", "Тиск", ""}));
    QCOMPARE(fields(2).mid(1),
             (QStringList{"", "", "кПа", "Тиск", "Команда 3. Пристрій не відповідає"}));
    QCOMPARE(fields(3).mid(1), (QStringList{"", "", "кПа", "Тиск", "NAN"}));
    QCOMPARE(fields(4).mid(1, 2), (QStringList{"3,25", "3,25"}));
  }

  void logIsOfferedANameGetsItsExtensionAndStaysInView() {
    MeasValueSensor sensor;
    sensor.Value(1.0f).Value(2.0f).Value(3.0f);
    MeasBench bench(&sensor);
    bench.state.ConnectSettings.conn_type = 1;
    bench.state.ConnectSettings.line_num = 2;
    bench.state.ConnectSettings.adr_P = 101;
    QTemporaryDir folder;
    bench.state.LastLogFolder = folder.path().toStdString();
    TFormCheck_Val dialog(bench.state);
    QString proposed;
    dialog.choose_log_file = [&](const QString& offered) {
      proposed = offered;
      return folder.filePath(QStringLiteral("покази"));
    };
    Open(dialog);
    QTest::mouseClick(dialog.BitBtn7, Qt::LeftButton);
    QCOMPARE(QFileInfo(proposed).absolutePath(), QFileInfo(folder.path()).absoluteFilePath());
    QVERIFY2(QRegularExpression(
                 QStringLiteral(
                     "^Тиск_нитка2_давач101_\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d\\.csv$"))
                 .match(QFileInfo(proposed).fileName())
                 .hasMatch(),
             qPrintable(proposed));
    QVERIFY(dialog.log().is_open());
    QCOMPARE(QString::fromStdString(dialog.log().path()),
             folder.filePath(QStringLiteral("покази.csv")));
    dialog.Timer1Timer();
    dialog.Timer1Timer();
    QTest::mouseClick(dialog.BitBtn7, Qt::LeftButton);
    QVERIFY(!dialog.log().is_open());
    // Stopped, the window still says where the rows went and how many.
    QCOMPARE(dialog.Label19->text(), QStringLiteral("Записано: покази.csv, рядків 2"));
    QVERIFY(dialog.Label19->toolTip().endsWith(QStringLiteral("покази.csv")));
    QVERIFY(QFileInfo::exists(folder.filePath(QStringLiteral("покази.csv"))));
    QVERIFY(!QFileInfo::exists(folder.filePath(QStringLiteral("покази"))));
  }
};

QTEST_MAIN(CheckValTest)
#include "check_val_test.moc"
